#ifndef BX_TESTS_CAPTURE_PCAPNG_SIMULATEDCAPTURE_H
#define BX_TESTS_CAPTURE_PCAPNG_SIMULATEDCAPTURE_H

// A capture of the simulated bus with every control family and every error kind:
// its raw file (Osp flow), and the trace and statistics file the window would
// keep, with a traffic interruption in the middle. Rows carry the transaction
// columns of the frame analysis.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "capture/files/CaptureSession.h"
#include "capture/files/StatsFile.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QFile>
#include <QStringList>

namespace SimulatedCapture {

/// A capture session feeding the frame analysis, as the window's.
struct Session
{
    AnalysisContext context;
    FrameAnalysis analysis { &context };
    CaptureSession session;
    Session()
    {
        session.setAnalysis(&analysis);
        session.decoder().setClock([] { return qint64(1767225600000); });
    }
};

inline QStringList readRows(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

/// Writes base.praw, base.vtrc and base.xml; false when a file failed.
inline bool make(const QString& base, int frames, quint8 frameType, quint8 speedCode)
{
    FipTrafficGenerator generator(speedCode, frameType, 1767225600000000ull);
    generator.setFollowNetwork(false);
    generator.setAperiodicEvery(2);
    generator.setErrorEvery(23);
    QByteArray halves[2];
    for (int i = 0; i < frames; ++i)
        halves[i < frames / 2 ? 0 : 1] += FipRecordEncoder::ospRecord(generator.next());

    QFile raw(base + ".praw");
    if (!raw.open(QIODevice::WriteOnly))
        return false;
    raw.write(QByteArray(1, char(2)) + halves[0] + halves[1]);
    raw.close();

    Session s;
    if (!s.session.startConversion(TraceRecordOptions(), base + ".vtrc", nullptr))
        return false;
    bool stop = false;
    FipStreamDecoder& decoder = s.session.decoder();
    decoder.beginReplay(FipStreamDecoder::FlowOsp, 255);
    decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(halves[0].constData()), halves[0].size(), &stop, false);
    decoder.onOstrakNoTrafficDetected();
    decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(halves[1].constData()), halves[1].size(), &stop, false);
    if (!s.session.stop())
        return false;

    QString type = decoder.state().frameTypeText;
    QString speed = decoder.state().speedText;
    StatsFile statistics({}, { { "frameType", &type }, { "speed", &speed } });
    return statistics.save(base + ".xml");
}

} // namespace SimulatedCapture

#endif
