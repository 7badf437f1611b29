#pragma once

#include <QByteArray>
#include <QModelIndex>
#include <QString>
#include <QVariant>

/// One mnemonic's place and type in a variable's or message's bytes.
struct MnemoField
{
    enum Type : quint8 { Bool, UInt8, UInt16, UInt32, UInt64, Int8, Int16, Int32, Int64, Float, Double, Ascii, Hexa, Unknown };

    Type type = Unknown;
    bool bigEndian = false;
    int startBit = 0;
    int stopBit = -1;

    /// The type of an exact type name; Unknown otherwise.
    static Type typeOf(const QString& name);
    static QString typeName(Type type);
    /// Read from a design "Mnemonic" row (any column of it).
    static MnemoField fromDesign(const QModelIndex& mnemonic);

    bool isInteger() const { return type >= UInt8 && type <= Int64; }
    bool isSigned() const { return type >= Int8 && type <= Int64; }
    bool isFloating() const { return type == Float || type == Double; }
    /// Kinds whose values have a number: the ones a graph can draw.
    bool isNumeric() const { return type <= Double; }
    /// Width of the integer or floating value in bytes (Bool and 8-bit types 1).
    int valueBytes() const;
};

/// Values cut from bytes by a mnemonic, and values written back into them.
namespace MnemoCodec {

/// The numeric value's bits as the type reads them (integers sign-extended to
/// 64 bits, floats as their IEEE bits in the low bytes); false when the range
/// does not fit the data. Only for numeric types.
bool rawValue(const MnemoField& field, const quint8* data, int size, quint64* value);
/// Text of a numeric raw value: decimal, or up to 6 significant digits for floats.
QString rawToText(const MnemoField& field, quint64 value);
/// The value as a variant: bool, qlonglong, qulonglong or double.
QVariant rawToVariant(const MnemoField& field, quint64 value);
/// A float or double value from its raw bits.
double rawToDouble(const MnemoField& field, quint64 value);

/// The value as text; ok tells whether the range fits the data. A field that
/// does not fit reads "0", or "" for Ascii and "0x" for Hexa.
QString toText(const MnemoField& field, const quint8* data, int size, bool* ok);
QString toText(const MnemoField& field, const QByteArray& bytes, bool* ok);
/// The value as a typed variant, by the same rules (texts for Ascii and Hexa).
QVariant toVariant(const MnemoField& field, const QByteArray& bytes, bool* ok);

/// An edited value turned into the bytes of the field, least significant first
/// and reversed for a big-endian field; false when the text does not read as the type.
bool encode(const MnemoField& field, const QString& value, QByteArray* bytes);
/// Writes `valueBytes` bit by bit into bits start..stop of `target`; bits
/// outside the range keep their values; false when the range does not fit.
bool writeBits(const MnemoField& field, const QByteArray& valueBytes, QByteArray* target);

/// The "Hexa" entry check: "0x" removed, hexadecimal digits only.
bool isValidHexa(const QString& value);

} // namespace MnemoCodec
