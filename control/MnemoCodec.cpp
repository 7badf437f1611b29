#include "control/MnemoCodec.h"

#include "control/FipAnalyze.h"
#include "design/MainDTModel.h"

#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char* const TypeNames[] = { "Bool", "UInt8", "UInt16", "UInt32", "UInt64", "Int8", "Int16",
                                  "Int32", "Int64", "Float", "Double", "Ascii", "Hexa" };

quint64 signExtend(quint64 value, int bytes)
{
    if (bytes >= 8)
        return value;
    const int bits = bytes * 8;
    const quint64 sign = quint64(1) << (bits - 1);
    value &= (sign << 1) - 1;
    return (value ^ sign) - sign;
}

} // namespace

MnemoField::Type MnemoField::typeOf(const QString& name)
{
    for (int i = 0; i < int(Unknown); ++i) {
        if (name == QLatin1String(TypeNames[i]))
            return Type(i);
    }
    return Unknown;
}

QString MnemoField::typeName(Type type)
{
    return type < Unknown ? QString::fromLatin1(TypeNames[type]) : QString();
}

MnemoField MnemoField::fromDesign(const QModelIndex& mnemonic)
{
    MnemoField field;
    const QAbstractItemModel* model = mnemonic.model();
    if (!model)
        return field;
    auto text = [&](int column) { return model->index(mnemonic.row(), column, mnemonic.parent()).data().toString(); };
    field.type = typeOf(text(MainDTModel::ColMnemoType));
    field.bigEndian = text(MainDTModel::ColMnemoEndianness) == QLatin1String("Big-Endian");
    bool startOk = false, stopOk = false;
    field.startBit = text(MainDTModel::ColMnemoStartBit).toInt(&startOk);
    field.stopBit = text(MainDTModel::ColMnemoStopBit).toInt(&stopOk);
    if (!startOk || !stopOk) {
        field.startBit = 0;
        field.stopBit = -1; // no range: nothing fits
    }
    return field;
}

int MnemoField::valueBytes() const
{
    switch (type) {
    case UInt16: case Int16: return 2;
    case UInt32: case Int32: case Float: return 4;
    case UInt64: case Int64: case Double: return 8;
    default: return 1;
    }
}

namespace MnemoCodec {

bool rawValue(const MnemoField& field, const quint8* data, int size, quint64* value)
{
    const qint64 n = qint64(size) * 8;
    const int start = field.startBit, stop = field.stopBit;
    switch (field.type) {
    case MnemoField::Bool:
        if (start < 0 || stop != start || start >= n)
            return false;
        *value = (data[start / 8] >> (start % 8)) & 1u;
        return true;
    case MnemoField::UInt8:
    case MnemoField::Int8: {
        if (start < 0 || stop - start != 7 || stop > n)
            return false;
        quint64 v = 0;
        for (int k = 0; k < 8; ++k) {
            const qint64 bit = start + k;
            if (bit < n && ((data[bit / 8] >> (bit % 8)) & 1u))
                v |= 1u << k;
        }
        *value = field.type == MnemoField::Int8 ? signExtend(v, 1) : v;
        return true;
    }
    default:
        break;
    }
    if (!field.isNumeric() || start < 0 || stop < start || stop - start >= 64 * 8)
        return false;
    quint8 bytes[64];
    const int count = FipAnalyze::cutBits(data, size, start, stop, bytes);
    if (count < 0)
        return false;
    const int width = field.valueBytes();
    const int used = qMin(count, width);
    quint64 v = 0;
    for (int i = 0; i < used; ++i) {
        const quint8 b = field.bigEndian ? bytes[i] : bytes[used - 1 - i];
        v = (v << 8) | b;
    }
    *value = field.isSigned() ? signExtend(v, width) : v;
    return true;
}

double rawToDouble(const MnemoField& field, quint64 value)
{
    if (field.type == MnemoField::Float) {
        const quint32 bits = quint32(value);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return double(f);
    }
    double d;
    std::memcpy(&d, &value, sizeof d);
    return d;
}

QString rawToText(const MnemoField& field, quint64 value)
{
    if (field.isFloating())
        return QString::number(rawToDouble(field, value), 'g', 6);
    if (field.isSigned())
        return QString::number(qint64(value));
    return QString::number(value);
}

QVariant rawToVariant(const MnemoField& field, quint64 value)
{
    if (field.type == MnemoField::Bool)
        return QVariant(value != 0);
    if (field.isFloating())
        return QVariant(rawToDouble(field, value));
    if (field.isSigned())
        return QVariant(qlonglong(value));
    return QVariant(qulonglong(value));
}

QString toText(const MnemoField& field, const quint8* data, int size, bool* ok)
{
    bool fits = false;
    QString text;
    if (field.isNumeric()) {
        quint64 value = 0;
        fits = rawValue(field, data, size, &value);
        text = fits ? rawToText(field, value) : QStringLiteral("0");
    } else if (field.type == MnemoField::Ascii || field.type == MnemoField::Hexa) {
        const bool hexa = field.type == MnemoField::Hexa;
        QByteArray bytes;
        if (field.startBit >= 0 && field.stopBit >= field.startBit) {
            bytes.resize((field.stopBit - field.startBit + 8) / 8);
            fits = FipAnalyze::cutBits(data, size, field.startBit, field.stopBit,
                                       reinterpret_cast<quint8*>(bytes.data())) >= 0;
        }
        if (!fits)
            bytes.clear();
        // Ascii reads in byte order, reversed when big-endian; Hexa shows the most
        // significant byte first, so a little-endian field is reversed.
        if (field.bigEndian != hexa)
            std::reverse(bytes.begin(), bytes.end());
        text = hexa ? QStringLiteral("0x") + QString::fromLatin1(bytes.toHex()) : QString::fromUtf8(bytes);
    }
    if (ok)
        *ok = fits;
    return text;
}

QString toText(const MnemoField& field, const QByteArray& bytes, bool* ok)
{
    return toText(field, reinterpret_cast<const quint8*>(bytes.constData()), bytes.size(), ok);
}

QVariant toVariant(const MnemoField& field, const QByteArray& bytes, bool* ok)
{
    if (!field.isNumeric())
        return toText(field, bytes, ok);
    quint64 value = 0;
    const bool fits = rawValue(field, reinterpret_cast<const quint8*>(bytes.constData()), bytes.size(), &value);
    if (ok)
        *ok = fits;
    return rawToVariant(field, fits ? value : 0);
}

bool isValidHexa(const QString& value)
{
    QString digits = value.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    static const QRegularExpression hexa(QStringLiteral("^[0-9A-F]+$"), QRegularExpression::CaseInsensitiveOption);
    return hexa.match(digits).hasMatch();
}

bool encode(const MnemoField& field, const QString& value, QByteArray* bytes)
{
    QByteArray out;
    const QString text = value.trimmed();
    bool ok = true;
    switch (field.type) {
    case MnemoField::Ascii:
        out = text.toUtf8();
        break;
    case MnemoField::Hexa: {
        if (!isValidHexa(text))
            return false;
        QString digits = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2) : text;
        if (digits.size() % 2)
            digits.prepend(QLatin1Char('0'));
        // Digit pairs read most significant first; the field holds least significant first.
        out = QByteArray::fromHex(digits.toLatin1());
        std::reverse(out.begin(), out.end());
        break;
    }
    case MnemoField::Float:
    case MnemoField::Double: {
        const double d = text.toDouble(&ok);
        if (!ok)
            return false;
        if (field.type == MnemoField::Float) {
            const float f = float(d);
            out.resize(4);
            std::memcpy(out.data(), &f, 4);
        } else {
            out.resize(8);
            std::memcpy(out.data(), &d, 8);
        }
        if (QSysInfo::ByteOrder == QSysInfo::BigEndian)
            std::reverse(out.begin(), out.end());
        break;
    }
    case MnemoField::Unknown:
        return false;
    default: {
        const quint64 v = field.isSigned() ? quint64(text.toLongLong(&ok)) : text.toULongLong(&ok);
        if (!ok)
            return false;
        for (int i = 0; i < field.valueBytes(); ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
        break;
    }
    }
    if (field.bigEndian)
        std::reverse(out.begin(), out.end());
    *bytes = out;
    return true;
}

bool writeBits(const MnemoField& field, const QByteArray& valueBytes, QByteArray* target)
{
    const int start = field.startBit, stop = field.stopBit;
    if (start < 0 || stop < start || qint64(stop) >= qint64(target->size()) * 8)
        return false;
    for (int k = 0; k <= stop - start; ++k) {
        const bool bit = k / 8 < valueBytes.size() && ((quint8(valueBytes[k / 8]) >> (k % 8)) & 1u);
        const int at = start + k;
        quint8 byte = quint8((*target)[at / 8]);
        byte = bit ? quint8(byte | (1u << (at % 8))) : quint8(byte & ~(1u << (at % 8)));
        (*target)[at / 8] = char(byte);
    }
    return true;
}

} // namespace MnemoCodec
