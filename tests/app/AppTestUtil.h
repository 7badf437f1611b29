#ifndef BX_TESTS_APP_APPTESTUTIL_H
#define BX_TESTS_APP_APPTESTUTIL_H

// What the window tests share: a settings store of their own, the example
// projects, files, the capture server and the capture options.

#include "app/BX.h"
#include "design/MainDTModel.h"
#include "tests/app/BoxAnswerer.h"

#include "OstrakServer.h"
#include "VantorSimulator.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace AppTest {

inline const QString exampleProject(const char* name)
{
    return QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/") + QLatin1String(name);
}

/// The window's store (native format) and any other go to `dir`: no test reaches the user's.
inline void isolateSettings(const QString& dir)
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
}

template<typename T> T* child(const QObject& parent, const QString& name)
{
    T* found = parent.findChild<T*>(name);
    if (!found)
        qWarning() << "no child" << name;
    return found;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

/// A capture server on loopback, started with the command line's arguments; null when it cannot start.
inline std::unique_ptr<OstrakServer> startServer(QStringList arguments)
{
    OstrakServer::Options o;
    QString error;
    arguments.prepend(QStringLiteral("ostrak-server"));
    if (!OstrakServer::parseArguments(arguments, &o, &error)) {
        qWarning() << error;
        return nullptr;
    }
    auto server = std::make_unique<OstrakServer>(o);
    return server->start() ? std::move(server) : nullptr;
}

/// Capture options: the server at 127.0.0.1:`port` (`path` "tcp" or "udp") or the
/// local card ("local"), a trace backed up into `folder`, every frame analysed.
inline void captureOptions(BX& bx, const QString& path, quint16 port, const QString& folder)
{
    QDir().mkpath(folder);
    child<QRadioButton>(bx, path == "local" ? "localLocation" : "serverLocation")->setChecked(true);
    child<QRadioButton>(bx, path == "udp" ? "udpRemote" : "tcpRemote")->setChecked(true);
    child<QLineEdit>(bx, "osIPAddress")->setText("127.0.0.1");
    child<QSpinBox>(bx, "osPortNumber")->setValue(port);
    child<QRadioButton>(bx, "backupYes")->setChecked(true);
    child<QComboBox>(bx, "backupFileType")->setCurrentIndex(1);
    child<QLineEdit>(bx, "backupRepository")->setText(folder);
    child<QSlider>(bx, "depthAnalysisSlider")->setValue(2);
}

/// Accepts every modal dialog that opens (the local card's choice) while it lives.
class DialogAccepter : public QObject
{
public:
    DialogAccepter()
    {
        connect(&m_timer, &QTimer::timeout, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->accept();
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

/// BX_SCREENSHOT set: `widget` saved as <BX_SCREENSHOT>-<name>.png.
inline void shot(QWidget* widget, const QString& name)
{
    if (!qEnvironmentVariableIsSet("BX_SCREENSHOT"))
        return;
    QCoreApplication::processEvents(); // the layouts settle as the user would see them
    widget->grab().save(qEnvironmentVariable("BX_SCREENSHOT") + "-" + name + ".png");
}

/// BX_SCREENSHOT set: the window shown at a size that fits every page, then saved as by shot().
inline void shotWindow(BX& bx, const QString& name)
{
    if (!qEnvironmentVariableIsSet("BX_SCREENSHOT"))
        return;
    bx.resize(1500, 950);
    bx.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bx));
    QTest::qWait(300);
    shot(&bx, name);
}

/// Every project column of every row of the design, in tree order.
inline QStringList snapshot(const MainDTModel& design)
{
    QStringList rows;
    for (const QModelIndex& i : design.getAllIndexes()) {
        QStringList cells;
        for (int c = 0; c <= MainDTModel::LastProjectColumn; ++c)
            cells << design.text(i, c);
        rows << cells.join(QLatin1Char(';'));
    }
    return rows;
}

} // namespace AppTest

#endif
