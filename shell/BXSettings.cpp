#include "shell/BXSettings.h"

#include "analysis/ControlTable.h"
#include "capture/decoder/FipControls.h"

#include <QDataStream>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>

const QString BXSettings::Group = QStringLiteral("BX");

namespace {

using Type = BXSettings::Type;

/// The factory address of a remote capture card.
const char* const DefaultCardAddress = "192.168.10.20";

QVector<BXSettings::Key> makeKeys()
{
    const QVariant keep;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVector<BXSettings::Key> keys = {
        // Layout
        { "geometry", Type::Bytes, keep },
        { "state", Type::Bytes, keep },
        { "plandor/splitter/geometry", Type::Bytes, keep },
        { "plandor/splitter/state", Type::Bytes, keep },
        { "ostrak/splitter/mnemosgraphs/geometry", Type::Bytes, keep },
        { "ostrak/splitter/mnemosgraphs/state", Type::Bytes, keep },
        { "plandor/itemboxpanelwidget/hidden", Type::Bool, true },
        { "plandor/overviewpanelwidget/hidden", Type::Bool, false },
        { "plandor/itemeditorpanelwidget/hidden", Type::Bool, false },
        { "plandor/itemcontrollerpanelwidget/hidden", Type::Bool, false },
        { "plandor/projectrightstackedwidget/hidden", Type::Bool, false },
        { "ostrak/mainatview/columns", Type::Bytes, keep },
        { "ostrak/transactionatview/columns", Type::Bytes, keep },
        { "ostrak/mnemosatview/columns", Type::Bytes, keep },
        { "plandor/mainctview/columns", Type::Bytes, keep },
        { "topbar/hidden", Type::Bool, false },
        { "leftbar/hidden", Type::Bool, false },
        { "bottombar/hidden", Type::Bool, false },
        { "plandor/splitter/size/section0", Type::Int, keep },
        { "plandor/splitter/size/section1", Type::Int, keep },
        { "plandor/splitter/size/section2", Type::Int, keep },
        // Paths
        { "plandor/parameters/lineedit/savepath", Type::String,
          documents + QLatin1Char('/') + QStringLiteral("Kivotec") + QLatin1Char('/') + QStringLiteral("Brantix") },
        { "plandor/parameters/lineedit/filereceptiondir", Type::String, QDir::homePath() + QStringLiteral("/Downloads") },
        { "ostrak/parameters/lineedit/backuprepository", Type::String, keep },
        // Capture card and analysis
        { "ostrak/parameters/radiobutton/locallocation", Type::Bool, true },
        { "ostrak/parameters/radiobutton/tcpremote", Type::Bool, true },
        { "ostrak/parameters/lineedit/osipaddress", Type::String, QString::fromLatin1(DefaultCardAddress) },
        { "ostrak/parameters/spinbox/osportnumber", Type::Int, 57117 },
        { "ostrak/parameters/radiobutton/fixedidpadding", Type::Bool, true },
        { "ostrak/parameters/lineedit/paddingidentifier", Type::String, QStringLiteral("9080") },
        { "ostrak/parameters/radiobutton/paddingautodetectyes", Type::Bool, true },
        { "ostrak/parameters/radiobutton/paddingvisibleyes", Type::Bool, true },
        { "ostrak/parameters/radiobutton/macrodetectyes", Type::Bool, true },
        { "ostrak/parameters/lineedit/macromaxslicesvalue", Type::String, QStringLiteral("50") },
        { "ostrak/parameters/lineedit/macrosamplingperiodvalue", Type::String, QStringLiteral("2000") },
        { "ostrak/parameters/radiobutton/backupyes", Type::Bool, true },
        { "ostrak/parameters/combobox/backupfiletype", Type::Int, 1 },
        { "ostrak/parameters/radiobutton/backupsizelimit", Type::Bool, false },
        { "ostrak/parameters/lineedit/backupsizelimitvalue", Type::String, QStringLiteral("50") },
        { "ostrak/parameters/combobox/backupsizelimitunit", Type::Int, 0 },
        { "ostrak/parameters/combobox/backuptimelimitjvalue", Type::Int, 0 },
        { "ostrak/parameters/combobox/backuptimelimithvalue", Type::Int, 0 },
        { "ostrak/parameters/combobox/backuptimelimitmvalue", Type::Int, 10 },
        { "ostrak/parameters/combobox/backuptimelimitsvalue", Type::Int, 0 },
        { "ostrak/parameters/radiobutton/backuptimestampedyes", Type::Bool, false },
        { "ostrak/parameters/radiobutton/logerrorsyes", Type::Bool, true },
        { "ostrak/parameters/lineedit/oscilloidentifier", Type::String, QStringLiteral("0") },
        { "ostrak/parameters/spinbox/oscillodelay", Type::Int, 1 },
        { "ostrak/parameters/combobox/oscilloctrl", Type::Int, 0 },
        { "ostrak/parameters/slider/depthanalysisslider", Type::Int, 2 },
    };
    for (quint8 code : BXSettings::colorCodes())
        keys.append({ BXSettings::colorKey(code), Type::Color, ControlTable::defaultColor(code) });
    return keys;
}

bool isNumber(int type)
{
    switch (type) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

/// A colour read from a binary variant keeps whatever kind byte and half-floats the
/// file held: only the kinds a colour can have, with finite components, are colours.
/// The kind is read from the value's stream form (type, null flag, then the colour,
/// kind first): a colour whose kind is outside the enum may not even be copied.
QColor storedColour(const QVariant& stored)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << stored;
    switch (bytes.size() > 5 ? int(qint8(bytes.at(5))) : 0) {
    case QColor::Rgb:
    case QColor::Hsv:
    case QColor::Cmyk:
    case QColor::Hsl:
        return stored.value<QColor>();
    case QColor::ExtendedRgb: {
        const QColor c = stored.value<QColor>();
        if (std::isfinite(c.alphaF()) && std::isfinite(c.redF()) && std::isfinite(c.greenF())
            && std::isfinite(c.blueF()))
            return c;
        return QColor();
    }
    default:
        return QColor();
    }
}

} // namespace

const QVector<BXSettings::Key>& BXSettings::keys()
{
    static const QVector<Key> all = makeKeys();
    return all;
}

const BXSettings::Key* BXSettings::findKey(const QString& name)
{
    for (const Key& key : keys()) {
        if (key.name == name)
            return &key;
    }
    return nullptr;
}

QString BXSettings::colorKey(quint8 code)
{
    return QStringLiteral("ostrak/parameters/colors/") + ControlTable::settingsKeySuffix(code);
}

QVector<quint8> BXSettings::colorCodes()
{
    QVector<quint8> codes;
    const FipControls::Entry* entries = FipControls::table();
    for (int i = 0; i < FipControls::Count; ++i)
        codes.append(entries[i].code);
    return codes;
}

QVariant BXSettings::convert(const QVariant& stored, Type type)
{
    // Text stores (INI files, the registry) give back numbers and booleans as text,
    // so text is parsed; any other kind of value is the wrong type.
    const int stype = stored.userType();
    const bool isText = stype == QMetaType::QString;
    switch (type) {
    case Type::Bytes:
        return stype == QMetaType::QByteArray ? stored.toByteArray() : QByteArray();
    case Type::Bool: {
        if (stype == QMetaType::Bool)
            return stored.toBool();
        if (isText || isNumber(stype)) {
            const QString text = stored.toString().trimmed().toLower();
            if (text == QLatin1String("true") || text == QLatin1String("1"))
                return true;
        }
        return false;
    }
    case Type::Int: {
        bool ok = false;
        int number = 0;
        if (isText)
            number = stored.toString().trimmed().toInt(&ok);
        else if (isNumber(stype))
            number = stored.toInt(&ok);
        return ok ? number : 0;
    }
    case Type::String:
        if (isText || isNumber(stype) || stype == QMetaType::Bool)
            return stored.toString();
        return QString(QLatin1String(""));
    case Type::Color:
        if (stype == QMetaType::QColor)
            return storedColour(stored);
        if (isText)
            return QColor(stored.toString());
        return QColor();
    }
    return QVariant();
}

void BXSettings::read(QSettings& store)
{
    m_values.clear();
    store.beginGroup(Group);
    for (const Key& key : keys()) {
        if (store.contains(key.name))
            m_values.insert(key.name, convert(store.value(key.name), key.type));
        else if (key.defaultValue.isValid())
            m_values.insert(key.name, key.defaultValue);
    }
    store.endGroup();
}

void BXSettings::write(QSettings& store) const
{
    store.beginGroup(Group);
    for (const Key& key : keys()) {
        const auto it = m_values.constFind(key.name);
        if (it != m_values.constEnd())
            store.setValue(key.name, it.value());
    }
    store.endGroup();
    store.sync();
}

void BXSettings::clear(QSettings& store)
{
    store.beginGroup(Group);
    store.remove(QString());
    store.endGroup();
    store.sync();
}

void BXSettings::setValue(const QString& key, const QVariant& value)
{
    const Key* known = findKey(key);
    Q_ASSERT_X(known, "BXSettings::setValue", qPrintable(key));
    if (known)
        m_values.insert(key, convert(value, known->type));
}
