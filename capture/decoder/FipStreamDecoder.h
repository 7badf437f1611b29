#ifndef BX_CAPTURE_DECODER_FIPSTREAMDECODER_H
#define BX_CAPTURE_DECODER_FIPSTREAMDECODER_H

#include "capture/decoder/FipCaptureCounters.h"
#include "capture/decoder/FipDecoderListener.h"
#include "capture/decoder/TraceFormat.h"
#include "capture/decoder/TraceRow.h"
#include "capture/records/CFipNode.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <vector>

/// Decoder side of the analysis context: stream flags, clock and the current frame.
struct FipDecoderState
{
    bool firstPacketPending = true;  ///< no packet of this capture handled yet
    bool firstRecordPending = true;  ///< no frame record of this capture decoded yet
    bool dataFlowing = false;
    bool frameTypeIsFip = true;      ///< FCS polynomial: FIP unless WorldFIP was seen
    quint8 speedCode = 255;
    QString speedText;
    QString frameTypeText;
    quint32 tickCentiMicros = 0;     ///< tick duration in hundredths of a µs, 0 when unknown

    qint64 captureStartMs = 0;       ///< ms since the epoch; 0 until the first record
    QString captureStartText;        ///< "yyyy-MM-dd hh:mm:ss.zzz"
    qint64 lastRecordMs = 0;
    qint64 interruptionMs = 0;       ///< wall clock of the last traffic interruption

    quint64 lastOspCounter = 0;
    quint8 lastEventCounter = 0;

    quint64 timestamp = 0;           ///< current frame, µs since the epoch
    quint64 ifc = 0;
    quint64 fc = 0;
    quint64 runningTicks = 0;        ///< sum of IFC + FC of the event flow's frames
    quint64 anchor = 0;              ///< µs since the epoch of the first event-flow frame
    qint64 clockOffset = 0;          ///< µs added by traffic interruptions
    quint8 control = 0;              ///< current control
    quint16 identifier = 0;          ///< current identifier
    bool identifierSeen = false;     ///< an identifier frame of this capture decoded
    bool currentIsPadding = false;   ///< the current transaction is the padding identifier's
    quint16 fcsRead = 0;
    quint16 fcsComputed = 0;

    // Error flags of the current frame.
    bool errCounterOverflow = false;
    bool errFsd = false;
    bool errNoFed = false;
    bool errPre = false;
    bool errDataSize = false;
    bool errUnknownControl = false;
    bool errFcs = false;

    quint64 frameNumber = 0;         ///< every frame and every traffic interruption

    double tickDuration() const { return tickCentiMicros / 100.0; }
    bool hasError() const
    {
        return errCounterOverflow || errFsd || errNoFed || errPre || errDataSize || errUnknownControl || errFcs;
    }
};

/// Turns the capture card's packets (or a raw recording) into decoded FIP frames:
/// splits packets into frame records, checks packet counters, keeps the capture
/// clock, validates each frame (FCS, control, size, reception status), counts it
/// and builds its trace row. The analysis it feeds is reached through a
/// `FipDecoderListener`; recording goes to a `FipRawSink`.
///
/// Runs on one thread; malformed input is counted, never fatal.
class FipStreamDecoder
{
public:
    enum FlowType { FlowEvents = 1, FlowOsp = 2 };

    static constexpr int OspHeaderSize = 16;
    static constexpr int OspRecordHeaderSize = 30;
    static constexpr quint8 OspTagFrame = 0xC0;
    static constexpr quint8 OspTagSkip = 0xC1;
    static constexpr quint16 EventFrameRecords = 0xA000;
    static constexpr quint16 EventFifoOverflow = 0x8001;
    /// Most packets one counter step counts as lost: a wild counter stays a readable figure.
    static constexpr quint64 MaxLostPerGap = quint64(1) << 32;

    explicit FipStreamDecoder(FipDecoderListener* listener = nullptr);

    void setListener(FipDecoderListener* listener) { m_listener = listener ? listener : &m_noListener; }
    /// Raw recording target; null turns recording off.
    void setRawSink(FipRawSink* sink) { m_raw = sink; }
    /// Debug recording of whole packets as the card hands them on (the ".pevt"
    /// type): the flow byte once, then every packet; null turns it off.
    void setPacketSink(FipRawSink* sink) { m_packets = sink; m_packetsStarted = false; }
    /// Speed code of the open card, used by the event flow.
    void setCardSpeed(quint8 code) { m_cardSpeed = code; }
    /// Padding rule: one fixed identifier, or every presence identifier (bits 0x1400).
    void setPaddingRule(bool fixedIdentifier, quint16 identifier);
    /// Wall clock in ms since the epoch (the event flow's time base); for replays and tests.
    void setClock(std::function<qint64()> clock);

    /// Starts a new capture: every counter, flag and text back to its initial value.
    void initAnalysisContext();
    /// Before replaying a raw file: the flow's speed as the file gives it (flow 1),
    /// and no packet level.
    void beginReplay(int flowType, quint8 speedCode);

    // Packets of a live capture.
    void onOstrakDataReceived(int flowType, const QByteArray& data);
    void treatOstrakFlowOsp(const QByteArray& packet);
    void treatOstrakFlowIProtEvt(const QByteArray& packet);

    // Record streams (packet payloads, raw file bodies); decode until the end or
    // until *stop becomes true; return the bytes consumed. A null stop does nothing.
    qint64 treatOspEvtStream(const quint8* data, qint64 size, bool* stop, bool processEvents);
    qint64 treatTlvFipStream(const quint8* data, qint64 size, bool* stop, bool processEvents);

    // Frames.
    void treatFipFrame(const quint8* frame, int size, quint16 status, quint16 glc, quint8 jitter);
    bool decodeFrame(quint16 status, const quint8* frame, int size);
    bool treatErrors(quint16 status, const quint8* frame, int size);
    bool isPaddingId(quint16 identifier) const;
    void treatFipFrame(const std::vector<unsigned char>& frame, quint16 status, quint16 glc, quint8 jitter)
    {
        treatFipFrame(frame.data(), int(frame.size()), status, glc, jitter);
    }
    bool decodeFrame(quint16 status, const std::vector<unsigned char>& frame)
    {
        return decodeFrame(status, frame.data(), int(frame.size()));
    }
    bool treatErrors(quint16 status, const std::vector<unsigned char>& frame)
    {
        return treatErrors(status, frame.data(), int(frame.size()));
    }
    void onOstrakNoTrafficDetected();
    /// The card dropped bytes of a remote stream that were outside any packet.
    void onStreamFaults(quint64 faults, quint64 lostBytes);

    /// A frame whose time stamp and counters are already known (an imported
    /// capture). The first one sets the frame type, the speed and the clock anchor
    /// as a first Osp record does; a non-zero number keeps the frame's original number.
    void treatImportedFrame(quint8 frameType, quint8 speedCode, quint64 timestamp, quint64 ifc, quint64 fc,
                            quint64 number, const quint8* frame, int size, quint16 status);
    /// A traffic interruption of an imported capture, at its time and number.
    void treatImportedInterruption(quint64 timestamp, quint64 number);

    /// Columns 1, 4, 5, 6 and 7 of the current frame's row (number, dates, delays).
    void fillRowHeader(TraceRow& row);

    const FipCaptureCounters& counters() const { return m_counters; }
    const FipDecoderState& state() const { return m_state; }
    TraceRow& row() { return m_row; }
    const TraceRow& row() const { return m_row; }

    static QString speedText(quint8 code);
    /// Hundredths of a µs per tick of a speed code (bit time ÷ 10); 0 when unknown.
    static quint32 tickCentiMicros(quint8 code);
    static bool isValidSpeed(quint8 code) { return code <= 3; }

private:
    void setSpeed(quint8 code);
    /// One Osp packet at the start of d; its length, or minus the bytes read when it is broken.
    int ospPacket(const quint8* d, qint64 size);
    bool evtOspPass(const quint8* data, qint64 size, qint64& pos);
    void ospFrameRecord(const quint8* record, int size);
    qint64 decodeTlv(const quint8* data, qint64 size, bool* stop, bool processEvents, bool keepTail);
    void tlvFrameRecord();
    void decodeEventData(const quint8* data, int size);
    void maybeProcessEvents(qint64 position, qint64 size, qint64 periodNs);
    void clearFrameErrors();
    qint64 now() const;

    FipDecoderListener m_noListener;
    FipDecoderListener* m_listener;
    FipRawSink* m_raw = nullptr;
    FipRawSink* m_packets = nullptr;
    bool m_packetsStarted = false;
    std::function<qint64()> m_clock;
    quint8 m_cardSpeed = 255;
    bool m_fixedPadding = false;
    quint16 m_paddingId = 0;

    FipDecoderState m_state;
    FipCaptureCounters m_counters;
    FipFrameInfo m_frame;
    TraceRow m_row;
    TraceFormat::DateText m_dateText;
    CFipNode m_node;
    QByteArray m_tlvCarry; ///< start of an event-flow record continued in the next event
    QElapsedTimer m_eventsTimer;
};

#endif
