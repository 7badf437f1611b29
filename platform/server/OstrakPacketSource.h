#ifndef BX_PLATFORM_SERVER_OSTRAKPACKETSOURCE_H
#define BX_PLATFORM_SERVER_OSTRAKPACKETSOURCE_H

#include "FipTrafficGenerator.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

/// The packets a remote capture server sends: event packets (flow 1) or Osp
/// packets (flow 2) made from the simulated bus, or the records of a raw capture
/// file regrouped into packets. Two sources built with the same settings give the
/// same bytes, so a test can rebuild what the server sent.
class OstrakPacketSource
{
public:
    struct Settings {
        int flowType = 1;            ///< 1 event packets, 2 Osp packets
        quint8 speedCode = 1;
        quint8 frameType = 2;        ///< 1 FIP, 2 WorldFIP
        quint64 startUs = 1767225600000000ULL;
        quint32 cycleUs = 0;         ///< 0 keeps the generator's
        int errorEvery = 0;
        QVector<FipTrafficGenerator::Variable> variables; ///< empty keeps the generator's
        qint64 frames = 0;           ///< frames to send; 0 = no end (generator only)
        int framesPerPacket = 16;
        int trailerEvery = 5;        ///< every n-th event packet carries the 0x41 trailer (0 = never)
        QString replayPath;          ///< a .praw file instead of the generator
    };

    static constexpr int kMaxFramesPerPacket = 128;

    explicit OstrakPacketSource(const Settings& settings);
    ~OstrakPacketSource();

    /// Reads the replay file; false with the reason when it cannot be used.
    bool open(QString* error);

    /// The next packet; false when the source is exhausted. busUs: bus time of the
    /// packet's last frame since the first one (0 for replays).
    bool next(QByteArray* packet, int* frames, quint64* busUs);

    int flowType() const { return m_flowType; }
    quint8 speedCode() const { return m_speedCode; }
    qint64 framesMade() const { return m_framesMade; }

private:
    bool nextRecord(QByteArray* record, quint64* busUs);

    Settings m_settings;
    int m_flowType;
    quint8 m_speedCode;
    std::unique_ptr<FipTrafficGenerator> m_generator;
    QByteArray m_replay;  // records of the raw file
    int m_replayPos = 0;
    qint64 m_framesMade = 0;
    quint64 m_packets = 0;
    quint64 m_firstTick = 0;
    bool m_firstTickSet = false;
    QByteArray m_records;
    QByteArray m_pending; // next record, when it did not fit the last packet
};

#endif
