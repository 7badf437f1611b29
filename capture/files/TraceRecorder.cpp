#include "capture/files/TraceRecorder.h"

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/TraceFileWriter.h"

#include <cstring>

TraceRecorder::TraceRecorder(TraceFileWriter* writer)
    : m_writer(writer)
{
}

void TraceRecorder::reset()
{
    m_lastData.clear();
    m_rows = 0;
}

bool TraceRecorder::recording() const
{
    return m_options.converting
        || (m_options.backupYes && m_options.backupFileType == TraceRecordOptions::TraceFile);
}

// "Only on change": a data reply is written when its bytes differ from the last
// reply of the same identifier and control.
bool TraceRecorder::dataChanged(const FipFrameInfo& frame)
{
    const quint32 key = (quint32(frame.identifier) << 8) | frame.control;
    const int n = frame.size > 3 ? frame.size - 3 : 0;
    const char* data = reinterpret_cast<const char*>(frame.data) + 1;
    auto it = m_lastData.find(key);
    if (it != m_lastData.end() && it->size() == n && (n == 0 || std::memcmp(it->constData(), data, size_t(n)) == 0))
        return false;
    if (it == m_lastData.end()) {
        m_lastData.insert(key, QByteArray(data, n));
    } else {
        it->resize(n); // reuses the buffer of the previous value
        if (n > 0)
            std::memcpy(it->data(), data, size_t(n));
    }
    return true;
}

TraceRecorder::Outcome TraceRecorder::treatVtrcSave(FipStreamDecoder& decoder, const FipFrameInfo& frame,
                                                    TraceRow& row)
{
    if (!recording())
        return Skipped;
    const FipControls::Family family = FipControls::family(frame.control);
    bool labels = false;
    if (frame.error) {
        if (!m_options.logErrorsYes)
            return Skipped;
    } else {
        switch (m_options.depthMode) {
        case TraceRecordOptions::RawFramesAll:
            break;
        case TraceRecordOptions::RawFramesOnChange:
            if (frame.control == FipControls::ID_DAT)
                return Skipped;
            if (frame.ok && family == FipControls::ReplyData && !dataChanged(frame))
                return Skipped;
            break;
        case TraceRecordOptions::LabelsOnChange:
            if (family != FipControls::ReplyData && family != FipControls::ReplyMessage)
                return Skipped;
            labels = family == FipControls::ReplyData;
            break;
        default: // no data: statistics only
            return Skipped;
        }
        if (m_options.paddingVisibleNo && decoder.isPaddingId(frame.identifier))
            return Skipped;
    }
    decoder.fillRowHeader(row);
    if (labels)
        return LabelRowsWanted;
    vtrcSaveLine(row);
    return Written;
}

void TraceRecorder::saveLabelRow(const TraceRow& row, const TraceLabel& label)
{
    static const int kept[] = { TraceRow::Number, TraceRow::AbsoluteDate, TraceRow::AbsoluteDateTick,
                                TraceRow::InterFrameDelay, TraceRow::FrameDelay, TraceRow::Control,
                                TraceRow::Identifier, TraceRow::DataLength, TraceRow::Fcs };
    m_labelRow.clear();
    for (int c : kept)
        m_labelRow.field(c) = row.field(c);
    m_labelRow.setText(TraceRow::Mnemonic, label.name);
    m_labelRow.setText(TraceRow::Data, label.value);
    m_labelRow.setText(TraceRow::Description, label.description);
    m_labelRow.setText(TraceRow::Type, label.type);
    m_labelRow.setText(TraceRow::BitRange,
                       QStringLiteral("[") + label.startBit + QStringLiteral(" ; ") + label.stopBit + QStringLiteral("]"));
    m_labelRow.setText(TraceRow::Pixmap, label.pixmap);
    vtrcSaveLine(m_labelRow);
}

void TraceRecorder::saveInterruption(TraceRow& row)
{
    if (recording() && m_options.logErrorsYes)
        vtrcSaveLine(row);
}

void TraceRecorder::vtrcSaveLine(const TraceRow& row)
{
    if (m_writer == nullptr || !m_writer->isOpen())
        return;
    m_writer->appendRow(row);
    ++m_rows;
}
