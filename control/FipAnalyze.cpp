#include "control/FipAnalyze.h"

#include <cstring>

namespace FipAnalyze {

int cutBits(const quint8* data, int size, int startBit, int stopBit, quint8* out)
{
    if (startBit < 0 || stopBit < startBit || qint64(stopBit) >= qint64(size) * 8)
        return -1;
    const int count = stopBit - startBit + 1;
    const int bytes = (count + 7) / 8;
    if ((startBit & 7) == 0) {
        // Aligned: whole bytes, the last one masked.
        std::memcpy(out, data + startBit / 8, size_t(bytes));
    } else {
        const int shift = startBit & 7;
        const int first = startBit / 8;
        for (int i = 0; i < bytes; ++i) {
            const int low = first + i;
            const unsigned hi = low + 1 < size ? data[low + 1] : 0u;
            out[i] = quint8((unsigned(data[low]) >> shift) | (hi << (8 - shift)));
        }
    }
    if (count % 8)
        out[bytes - 1] &= quint8((1u << (count % 8)) - 1);
    return bytes;
}

QByteArray rawFrameBitsToMnemoBytes(const QByteArray& bytes, int startBit, int stopBit, bool* ok)
{
    QByteArray out;
    if (startBit >= 0 && stopBit >= startBit)
        out.resize((stopBit - startBit + 8) / 8);
    const int n = cutBits(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size(), startBit, stopBit,
                          reinterpret_cast<quint8*>(out.data()));
    if (ok)
        *ok = n >= 0;
    if (n < 0)
        out.clear();
    return out;
}

QByteArray rawFrameBitsToMnemoBytes(const QBitArray& bits, int startBit, int stopBit, bool* ok)
{
    const bool fits = startBit >= 0 && stopBit >= startBit && stopBit < bits.size();
    if (ok)
        *ok = fits;
    if (!fits)
        return QByteArray();
    const int count = stopBit - startBit + 1;
    QByteArray out((count + 7) / 8, '\0');
    for (int k = 0; k < count; ++k) {
        if (bits.testBit(startBit + k))
            out[k / 8] = char(quint8(out[k / 8]) | (1u << (k % 8)));
    }
    return out;
}

QBitArray bytesToBits(const QByteArray& bytes)
{
    QBitArray bits(bytes.size() * 8);
    for (int i = 0; i < bytes.size() * 8; ++i)
        bits.setBit(i, (quint8(bytes[i / 8]) >> (i % 8)) & 1);
    return bits;
}

} // namespace FipAnalyze
