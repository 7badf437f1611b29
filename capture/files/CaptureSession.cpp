#include "capture/files/CaptureSession.h"
#include "capture/files/StatsFile.h"

#include "capture/files/CaptureFileMessages.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

CaptureSession::CaptureSession() = default;

CaptureSession::~CaptureSession()
{
    stop();
}

CaptureSession::Files CaptureSession::filesFor(const TraceRecordOptions& options, const QString& base)
{
    Files files;
    files.trace = base + QLatin1Char('.') + TraceFileWriter::extension();
    if (options.backupYes && options.backupFileType == TraceRecordOptions::RawFile)
        files.raw = base + QLatin1Char('.') + RawFileWriter::extension();
    else if (options.backupYes && options.backupFileType == TraceRecordOptions::EventFile)
        files.events = base + QStringLiteral(".pevt");
    return files;
}

QString CaptureSession::backupBase(const QString& repository, bool timeStamped, const QDateTime& when)
{
    QString name = QStringLiteral("capture");
    if (timeStamped)
        name += when.toString(QStringLiteral("_yyyy-MM-dd_hh-mm-ss"));
    return QDir(repository).filePath(name);
}

QStringList CaptureSession::existingFiles(const Files& files)
{
    QStringList existing;
    const QString statistics = files.trace.isEmpty() ? QString() : StatsFile::pathFor(files.trace);
    for (const QString& path : { files.raw, files.trace, files.events, statistics }) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            existing << path;
    }
    return existing;
}

bool CaptureSession::start(const TraceRecordOptions& options, const Files& files, QString* error)
{
    stop();
    m_decoder.initAnalysisContext();
    m_recorder.setOptions(options);
    m_recorder.reset();
    m_files = files;
    m_writtenOffsets.clear();
    m_traceWriteFailed = false;

    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        m_trace.close();
        m_raw.close();
        m_events.close();
        m_decoder.setRawSink(nullptr);
        m_decoder.setPacketSink(nullptr);
        m_files = Files();
        return false;
    };
    // The lock messages and the raw writers' messages already name the file.
    if (!files.trace.isEmpty() && !m_trace.open(files.trace))
        return fail(m_trace.lockHeldByOther() ? m_trace.errorString()
                                              : CaptureFileMessages::cannotOpenBackup(files.trace, m_trace.errorString()));
    if (!files.raw.isEmpty() && !m_raw.open(files.raw))
        return fail(m_raw.errorString());
    if (!files.events.isEmpty() && !m_events.open(files.events))
        return fail(m_events.errorString());
    m_decoder.setRawSink(files.raw.isEmpty() ? nullptr : &m_raw);
    m_decoder.setPacketSink(files.events.isEmpty() ? nullptr : &m_events);
    m_running = true;
    return true;
}

bool CaptureSession::startConversion(TraceRecordOptions options, const QString& tracePath, QString* error)
{
    options.converting = true;
    Files files;
    files.trace = tracePath;
    return start(options, files, error);
}

bool CaptureSession::stop(QVector<qint64>* offsets)
{
    if (!m_running)
        return true;
    m_running = false;
    m_decoder.setRawSink(nullptr);
    m_decoder.setPacketSink(nullptr);
    bool ok = true;
    if (offsets)
        *offsets += m_writtenOffsets;
    m_writtenOffsets.clear();
    if (m_trace.isOpen())
        ok = m_trace.close(offsets) && ok;
    if (m_raw.isOpen())
        ok = m_raw.close() && ok;
    if (m_events.isOpen())
        ok = m_events.close() && ok;
    return ok;
}

bool CaptureSession::writePending(QVector<qint64>* offsets)
{
    // Lines written while a long decode let the window breathe are claimed here.
    if (offsets)
        *offsets += m_writtenOffsets;
    m_writtenOffsets.clear();
    const bool sliceOk = !m_traceWriteFailed;
    m_traceWriteFailed = false;
    if (!m_trace.isOpen()) {
        m_trace.clearPending();
        return sliceOk;
    }
    return m_trace.writePending(offsets) && sliceOk;
}

bool CaptureSession::keepsTraceRows() const
{
    const TraceRecordOptions& options = m_recorder.options();
    return options.converting || (options.backupYes && options.backupFileType == TraceRecordOptions::TraceFile);
}

void CaptureSession::writeTraceSlice()
{
    // A second of the densest bus is megabytes of lines: written in one go on the
    // tick, it held the window for 50 ms and more. They go out in slices instead,
    // and the tick hands their offsets to the frame table.
    if (m_trace.pendingBytes() >= TraceSliceBytes && m_trace.isOpen() && keepsTraceRows())
        writeTraceBetweenTicks();
}

void CaptureSession::writeTraceBetweenTicks()
{
    // The offsets and a refusal wait for the next tick's writePending.
    if (!m_trace.writePending(&m_writtenOffsets))
        m_traceWriteFailed = true;
}

qint64 CaptureSession::backupSize() const
{
    if (m_raw.isOpen())
        return m_raw.size();
    if (m_events.isOpen())
        return m_events.size();
    return m_trace.size();
}

qint64 CaptureSession::freeDiskBytes() const
{
    const QString path = !m_files.trace.isEmpty() ? m_files.trace : !m_files.raw.isEmpty() ? m_files.raw : m_files.events;
    if (path.isEmpty())
        return -1;
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    return disk.isValid() ? disk.bytesAvailable() : -1;
}

void CaptureSession::onFrameDone(const FipFrameInfo& frame, TraceRow& row)
{
    FipForwardingListener::onFrameDone(frame, row);
    if (m_recorder.treatVtrcSave(m_decoder, frame, row) == TraceRecorder::LabelRowsWanted && m_labels) {
        if (const QVector<TraceLabel>* labels = m_labels(frame.identifier)) {
            for (const TraceLabel& label : *labels)
                m_recorder.saveLabelRow(row, label);
        }
    }
    writeTraceSlice();
}

void CaptureSession::onTrafficInterruption(TraceRow& row)
{
    FipForwardingListener::onTrafficInterruption(row);
    m_recorder.saveInterruption(row);
    writeTraceSlice();
}

void CaptureSession::onProcessEvents(qint64 position, qint64 size)
{
    FipForwardingListener::onProcessEvents(position, size);
    if (m_trace.isOpen())
        writeTraceBetweenTicks();
    else
        m_trace.clearPending();
}
