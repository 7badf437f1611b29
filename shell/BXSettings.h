#pragma once

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>

class QSettings;

/// The window's persisted options, read from and written to a settings store
/// under the group "BX", without any widget.
///
/// Every key has a type and a default. A key absent from the store takes its
/// default; keys whose default is "leave the widget as it is" (window and
/// splitter blobs, header states, the backup folder, splitter sizes) hold no
/// value then. A stored value of the wrong type gives the type's empty value
/// (false, 0, empty text, empty blob, invalid colour) for that key alone.
class BXSettings
{
public:
    static const QString Group; ///< "BX"

    enum class Type { Bytes, Bool, Int, String, Color };
    struct Key {
        QString name; ///< inside the group, e.g. "plandor/parameters/lineedit/savepath"
        Type type;
        QVariant defaultValue; ///< invalid: no value when absent
    };

    /// Every key, in reading order: layout, paths, capture and analysis, colours.
    static const QVector<Key>& keys();
    static const Key* findKey(const QString& name);
    /// The colour key of a control code ("ostrak/parameters/colors/rp_fin").
    static QString colorKey(quint8 code);
    /// The control codes that have a colour key, in table order.
    static QVector<quint8> colorCodes();

    /// What the store's value of a key gives for the key's type.
    static QVariant convert(const QVariant& stored, Type type);

    /// Reads every key of the group; absent keys take their defaults.
    void read(QSettings& store);
    /// Writes every key holding a value.
    void write(QSettings& store) const;
    /// Removes every key of the group from the store.
    static void clear(QSettings& store);

    bool has(const QString& key) const { return m_values.contains(key); }
    QVariant value(const QString& key) const { return m_values.value(key); }
    void setValue(const QString& key, const QVariant& value);

    bool boolValue(const QString& key) const { return value(key).toBool(); }
    int intValue(const QString& key) const { return value(key).toInt(); }
    QString text(const QString& key) const { return value(key).toString(); }
    QByteArray bytes(const QString& key) const { return value(key).toByteArray(); }
    QColor color(const QString& key) const { return value(key).value<QColor>(); }

private:
    QHash<QString, QVariant> m_values;
};
