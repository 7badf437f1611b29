#include "analysis/FrameAnalysis.h"

#include "analysis/AnalysisContext.h"
#include "capture/decoder/FipControls.h"
#include "capture/decoder/TraceRow.h"

#include <algorithm>
#include <cstring>

using namespace FipControls;

namespace {

constexpr quint8 StateKnownSeen = 0x81;
constexpr quint8 StateReplied = 0x02;
constexpr quint8 StateWarning = 0x04;

bool isMessageAck(quint8 control)
{
    return control == RP_MSG_ACKe || control == RP_MSG_ACKo;
}

const char* flagText(bool value)
{
    return value ? "true" : "false";
}

} // namespace

FrameAnalysis::FrameAnalysis(AnalysisContext* context, FipDecoderListener* next)
    : FipForwardingListener(next)
    , m_context(context)
{
}

void FrameAnalysis::reset()
{
    m_hasCurrent = false;
    m_awaitingReply = false;
    m_currentId = 0;
    m_currentControl = 0;
    m_previousControl = 0;
    m_previousFc = 0;
}

void FrameAnalysis::onIdentifierFrame(const FipFrameInfo& frame)
{
    AnalysisContext& context = *m_context;
    const quint16 id = frame.identifier;
    const quint8 control = frame.control;

    IdentifierStats& entry = context.identifier(id);
    entry.replied = false;
    if (isPresenceIdentifier(id))
        entry.presenceState |= StateKnownSeen;
    {
        TransactionStats& pair = context.pair(id, control);
        pair.state = (pair.fields & TransactionStats::HasState) ? quint8((pair.state & 0x7C) | StateKnownSeen)
                                                                : StateKnownSeen;
        pair.fields |= TransactionStats::HasState;
    }

    if (m_hasCurrent && m_awaitingReply) {
        // The previous request went unanswered: a silence, and a warning on it.
        ++context.silenceCount;
        context.silenceSum += frame.ifc;
        const quint64 duration = m_previousFc + context.averageSilence;
        TransactionStats& previous = context.pair(m_currentId, m_currentControl);
        previous.state = quint8((previous.state & 0xF9) | StateWarning);
        previous.fields |= TransactionStats::HasState | TransactionStats::HasNoReply | TransactionStats::HasDuration;
        ++previous.noReply;
        previous.durationTicks = duration;
        IdentifierStats& previousEntry = context.identifier(m_currentId);
        previousEntry.transactionTicks = duration;
        if (isPresenceIdentifier(m_currentId)) {
            previousEntry.presenceState = quint8((previousEntry.presenceState & 0xF9) | StateWarning);
            previousEntry.presenceDate = frame.timestamp;
        }
    }

    m_hasCurrent = true;
    m_awaitingReply = true;
    m_currentId = id;
    m_currentControl = control;
    FipForwardingListener::onIdentifierFrame(frame);
}

void FrameAnalysis::onReplyFrame(const FipFrameInfo& frame, TraceRow& row)
{
    if (m_hasCurrent) {
        switch (family(frame.control)) {
        case ReplyData:
            variableReply(frame, row);
            break;
        case ReplyRequest:
        case ReplyMessage:
        case ReplyAck:
            otherReply(frame);
            break;
        default:
            break;
        }
        m_awaitingReply = false;
    }
    FipForwardingListener::onReplyFrame(frame, row);
}

void FrameAnalysis::variableReply(const FipFrameInfo& frame, TraceRow& row)
{
    AnalysisContext& context = *m_context;
    const quint16 id = frame.identifier;
    const quint8 request = m_previousControl;
    context.turnAroundSum += frame.ifc;
    context.variableReplyTime += frame.ifc + frame.fc;

    IdentifierStats& entry = context.identifier(id);
    entry.replied = true;
    if (isPresenceIdentifier(id)) {
        entry.presenceState |= StateReplied;
        entry.presenceDate = frame.timestamp;
    }
    const quint64 duration = m_previousFc + context.averageTurnAround + frame.fc;
    entry.transactionTicks = duration;
    const bool refreshmentEnabled = entry.refreshmentEnabled;

    const quint8* data = frame.data + 1;
    const int size = frame.size - 3;
    TransactionStats& pair = context.pair(id, request);
    pair.state |= StateReplied;
    pair.durationTicks = duration;
    pair.fields |= TransactionStats::HasDuration | TransactionStats::HasRefreshState;
    if (refreshmentEnabled && size > 0) {
        // The last data byte is the producer's status: bit 0 refreshment, bit 2 meaning.
        const quint8 status = data[size - 1];
        const quint8 bits = status & 0x05;
        pair.refreshState = bits == 0x05;
        if (pair.hasStatusBits && bits != pair.statusBits && bits != 0x05) {
            ++pair.noRefresh;
            pair.noRefreshDate = frame.timestamp;
            pair.fields |= TransactionStats::HasNoRefresh | TransactionStats::HasNoRefreshDate;
        }
        pair.hasStatusBits = true;
        pair.statusBits = bits;
        row.set(TraceRow::ProductionStatus, flagText(true));
        row.set(TraceRow::MeaningStatus, flagText(status & 0x04));
        row.set(TraceRow::RefreshStatus, flagText(status & 0x01));
    } else {
        pair.refreshState = false;
    }
    storeData(id, request, data, size);
    row.set(TraceRow::Pdu, size > 0 && data[0] == 0x50 ? "SM_MPS" : "MPS");
}

void FrameAnalysis::otherReply(const FipFrameInfo& frame)
{
    AnalysisContext& context = *m_context;
    const quint16 id = frame.identifier;
    const quint8 control = frame.control;
    const quint8 request = m_previousControl;
    const quint64 busTime = frame.ifc + frame.fc;
    const Family kind = family(control);

    if (kind == ReplyAck) {
        context.messageReplyTime += busTime;
    } else {
        TransactionStats& pair = context.pair(id, request);
        pair.state |= 0x82;
        pair.durationTicks = m_previousFc + context.averageTurnAround + frame.fc;
        pair.fields |= TransactionStats::HasState | TransactionStats::HasDuration;
        storeData(id, request, frame.data + 1, frame.size - 3);
        if (kind == ReplyMessage)
            context.messageReplyTime += busTime;
        else
            context.aperiodicReplyTime += busTime;
    }

    // An acknowledged message answered by the next message or the end of the
    // exchange: the acknowledgement between them never came.
    if ((isMessageAck(control) || control == RP_FIN) && isMessageAck(m_previousControl)) {
        TransactionStats& message = context.pair(id, ID_MSG);
        ++message.noAck;
        message.fields |= TransactionStats::HasNoAck;
    }
}

void FrameAnalysis::storeData(quint16 identifier, quint8 control, const quint8* data, int size)
{
    if (size < 0)
        size = 0;
    TransactionStats& pair = m_context->pair(identifier, control);
    const size_t length = static_cast<size_t>(size);
    pair.fields |= TransactionStats::HasDataValue;
    if (pair.dataChanges != 0 && pair.data.size() == length
        && (length == 0 || std::memcmp(pair.data.data(), data, length) == 0))
        return;
    pair.data.assign(reinterpret_cast<const char*>(data), length);
    ++pair.dataChanges;
    pair.dataLength = length;
    pair.fields |= TransactionStats::HasDataChanges;
}

void FrameAnalysis::onFrameWithoutError(const FipFrameInfo& frame)
{
    TransactionStats& pair = m_context->pair(frame.identifier, frame.control);
    ++pair.occurrences;
    pair.glitchOpen += frame.glc;
    pair.maxJitter = std::max<quint64>(pair.maxJitter, frame.jitter);
    pair.fields |= TransactionStats::HasOccurrences | TransactionStats::HasGlitches | TransactionStats::HasJitter;
    FipForwardingListener::onFrameWithoutError(frame);
}

void FrameAnalysis::onFrameDone(const FipFrameInfo& frame, TraceRow& row)
{
    m_previousControl = frame.ok && !frame.error ? frame.control : 0;
    m_previousFc = frame.fc;
    FipForwardingListener::onFrameDone(frame, row);
}

void FrameAnalysis::onTrafficInterruption(TraceRow& row)
{
    reset();
    FipForwardingListener::onTrafficInterruption(row);
}
