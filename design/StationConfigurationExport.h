#pragma once

#include <QByteArray>
#include <QHash>
#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>

#include <functional>

class MainDTModel;
class QDomDocument;
class QDomElement;
class QWidget;

/// Builds the configuration file of every station of the design, one XML document per station,
/// each written whole or not at all. Progress and the final notice go out through the model's
/// generateProgress and statusBarMessage signals.
class StationConfigurationExport
{
public:
    explicit StationConfigurationExport(MainDTModel* model);

    /// "Station" + the address in decimal + ".xml"; empty when the address is no number from 0 to 255.
    static QString fileName(const MainDTModel& model, const QModelIndex& station);

    /// The DOM of one station.
    QDomDocument buildDocument(const QModelIndex& station) const;
    /// The bytes written for one station: its DOM indented by one space.
    QByteArray toBytes(const QModelIndex& station) const;

    /// Writes every station's file into `dir` (created when missing); a file that cannot be
    /// written is skipped. Returns the names of the files written.
    QStringList generate(const QString& dir);

    /// The ".xml" files a build into `dir` deletes first.
    static QStringList oldFiles(const QString& dir);
    /// Checks before a build: false when the design has no station or when `confirmCleaning`
    /// (asked only when `ask` is set and `dir` holds ".xml" files) answers no; otherwise deletes
    /// those files and returns true.
    bool prepare(const QString& dir, bool ask, const std::function<bool(const QString& dir)>& confirmCleaning);
    /// The "Cleaning" question before old files in `dir` are deleted; true for Yes.
    static bool askCleaning(QWidget* parent, const QString& dir);
    /// prepare, then generate.
    bool buildAndSave(const QString& dir, bool ask, const std::function<bool(const QString& dir)>& confirmCleaning);

    /// Pause after each progress step, in which pending events run (25 ms by default).
    void setPause(int ms) { m_pauseMs = ms; }

private:
    void appendBusArbiter(QDomDocument& document, QDomElement& root, const QModelIndex& arbiter,
                          const QModelIndex& network) const;
    void appendVariable(QDomDocument& document, QDomElement& parent, const QModelIndex& variable) const;
    void appendMessage(QDomDocument& document, QDomElement& parent, const QModelIndex& message) const;
    /// Appends the tags of the renderings under `owner`; `read` marks those of a consumed variable.
    void appendTags(QDomDocument& document, QDomElement& parent, const QModelIndex& owner, bool read,
                    quint64* count) const;
    /// The Output Variable producing an input's identifier; invalid when there is none.
    /// The producers are looked up once per generate(), or on first use.
    QModelIndex producer(const QModelIndex& variable) const;
    void pause() const;

    MainDTModel* m_model;
    int m_pauseMs = 25;
    mutable QHash<quint16, QPersistentModelIndex> m_producers;
    mutable bool m_producersFound = false;
};
