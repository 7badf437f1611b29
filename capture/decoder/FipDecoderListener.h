#ifndef BX_CAPTURE_DECODER_FIPDECODERLISTENER_H
#define BX_CAPTURE_DECODER_FIPDECODERLISTENER_H

#include <QtGlobal>

class TraceRow;

/// What the decoder knows about the frame it is handing on. Pointers are valid
/// only during the call.
struct FipFrameInfo
{
    const quint8* data = nullptr; ///< control byte first, FCS last
    int size = 0;
    quint16 status = 0;
    quint16 glc = 0;
    quint8 jitter = 0;
    quint8 control = 0;    ///< current control (this frame's control byte)
    quint16 identifier = 0; ///< current identifier (of this transaction)
    bool ok = false;       ///< decodeFrame accepted the frame
    bool error = false;    ///< treatErrors found an error
    quint64 frameNumber = 0;
    quint64 timestamp = 0; ///< µs since the epoch
    quint64 ifc = 0;
    quint64 fc = 0;
};

/// The main window's side of the decoding pipeline: the analysis that the
/// decoder feeds (transactions, macrocycle, mnemonics, trace rows).
/// Every hook has an empty default.
class FipDecoderListener
{
public:
    virtual ~FipDecoderListener();

    /// The bus speed of the capture is known (first record): tell the frame table
    /// and the card. 255 when unknown.
    virtual void onOstrakSpeed(quint8 code);
    /// Time stamp of the first frame of a stream, µs since the epoch.
    virtual void onAbsoluteCounterAnchor(quint64 micros);
    /// A valid identifier frame (frame.identifier, frame.control): macrocycle
    /// detection and per-identifier maps. The reception status is checked after
    /// this call, as for replies.
    virtual void onIdentifierFrame(const FipFrameInfo& frame);
    /// A valid reply frame, attached to the current identifier: transaction maps;
    /// may fill the PDU and status columns of the row. The reception status is
    /// checked after this call, so frame.error is not known yet.
    virtual void onReplyFrame(const FipFrameInfo& frame, TraceRow& row);
    /// A frame without error once an identifier has been seen: occurrence, GLC
    /// and jitter maps of the pair (identifier, control), then the mnemonics.
    virtual void onFrameWithoutError(const FipFrameInfo& frame);
    /// Every frame, last: the trace row decision.
    virtual void onFrameDone(const FipFrameInfo& frame, TraceRow& row);
    /// Traffic stopped; row is the interruption's error row.
    virtual void onTrafficInterruption(TraceRow& row);
    /// Long decodes (replays) let the window breathe; position and size of the data.
    virtual void onProcessEvents(qint64 position, qint64 size);
};

/// A stage of the frame path: hooks it does not override pass straight to the
/// next stage, so a stage only writes the hooks it uses.
class FipForwardingListener : public FipDecoderListener
{
public:
    explicit FipForwardingListener(FipDecoderListener* next = nullptr);

    void setNext(FipDecoderListener* next) { m_next = next ? next : &m_none; }

    void onOstrakSpeed(quint8 code) override;
    void onAbsoluteCounterAnchor(quint64 micros) override;
    void onIdentifierFrame(const FipFrameInfo& frame) override;
    void onReplyFrame(const FipFrameInfo& frame, TraceRow& row) override;
    void onFrameWithoutError(const FipFrameInfo& frame) override;
    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override;
    void onTrafficInterruption(TraceRow& row) override;
    void onProcessEvents(qint64 position, qint64 size) override;

private:
    FipDecoderListener m_none;
    FipDecoderListener* m_next;
};

/// Where the decoder records the raw stream (flow byte, speed, payloads).
class FipRawSink
{
public:
    virtual ~FipRawSink();
    /// Appends bytes to the raw recording.
    virtual void appendRaw(const char* data, int size) = 0;
};

#endif
