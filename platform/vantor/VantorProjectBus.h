#pragma once

#include "vantor.h"

#include <QString>
#include <QTemporaryDir>
#include <QVector>

#include <memory>

/// A project's network on simulated boards, with nobody at the controls: the
/// project's station files are exported, one board per station is plugged in
/// on the network "net", each is started and every bus arbitrator starts its
/// first scan table. The bus then runs as it does under the window (scan table,
/// padding, the stations' own values, presence), so a capture card or capture
/// server in the same process shows that project.
class VantorProjectBus
{
public:
    VantorProjectBus() = default;
    ~VantorProjectBus();
    VantorProjectBus(const VantorProjectBus&) = delete;
    VantorProjectBus& operator=(const VantorProjectBus&) = delete;

    /// False with the reason when the project cannot be read or run.
    bool start(const QString& projectPath, QString* error);
    /// Stops the arbitrators and the stations and unplugs the boards.
    void stop();

    /// The network's speed code (0..3).
    quint8 speedCode() const { return m_speedCode; }
    int stations() const { return m_handles.size(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QVector<vantor_device_handle*> m_handles;
    quint8 m_speedCode = 1;
};
