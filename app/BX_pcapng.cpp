// Captures in the general packet analyser's format: "Export Capture to pcapng..."
// and the import of a .pcapng / .pcap through "Open Capture...". The conversions
// live in capture/pcapng; this file asks the questions and shows the progress.

#include "app/BX.h"
#include "ui_BX.h"

#include "analysis/AnalysisContext.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/CaptureSession.h"
#include "capture/pcapng/PcapngExport.h"
#include "capture/pcapng/PcapngImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>

namespace {

QString exportTitle()
{
    return QCoreApplication::translate("BX", "Export Capture to pcapng");
}

QString pcapngFilter()
{
    return QCoreApplication::translate("BX", "pcapng Captures (*.pcapng)");
}

void warningBox(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, CaptureFileMessages::messageTitle(), text, QMessageBox::Ok, parent);
    box.setWindowIcon(QIcon(CaptureFileMessages::iconPath()));
    box.exec();
}

bool askToContinue(QWidget* parent, const QString& text, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(QMessageBox::Question, CaptureFileMessages::messageTitle(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setWindowIcon(QIcon(CaptureFileMessages::iconPath()));
    box.setInformativeText(CaptureFileMessages::continueQuestion());
    box.setDefaultButton(defaultButton);
    return box.exec() == QMessageBox::Yes;
}

// Progress and Cancel of a long conversion; shown after half a second.
class ConversionProgress : public QProgressDialog
{
public:
    ConversionProgress(QWidget* parent, const QString& text)
        : QProgressDialog(text, QCoreApplication::translate("BX", "Cancel"), 0, 100, parent)
    {
        setObjectName(QStringLiteral("pcapngProgressDialog"));
        setWindowTitle(CaptureFileMessages::messageTitle());
        setWindowModality(Qt::WindowModal);
        setMinimumDuration(500);
        setAutoClose(false);
        setAutoReset(false);
        setValue(0);
    }
    /// False once the user cancelled.
    bool step(int percent)
    {
        setValue(qBound(0, percent, 99));
        QCoreApplication::processEvents();
        return !wasCanceled();
    }
};

// The import's pauses: the window's own (rows to the frame table, events) and the dialog.
class ImportProgress : public FipDecoderListener
{
public:
    ImportProgress(CaptureSession* session, ConversionProgress* dialog, bool* stop)
        : m_session(session)
        , m_dialog(dialog)
        , m_stop(stop)
    {
    }
    void onProcessEvents(qint64 position, qint64 size) override
    {
        m_session->onProcessEvents(position, size);
        if (!m_dialog->step(size > 0 ? int(position * 100 / size) : 0))
            *m_stop = true;
    }

private:
    CaptureSession* m_session;
    ConversionProgress* m_dialog;
    bool* m_stop;
};

} // namespace

void BX::setupPcapng()
{
    connect(ui->actionExportCapturePcapng, &QAction::triggered, this, &BX::onExportCapturePcapngTriggered);
}

void BX::onExportCapturePcapngTriggered()
{
    if (m_capturing || m_converting) {
        updateStatusBar(1, CaptureFileMessages::captureInProgress());
        return;
    }
    const QString open = m_mainATModel->filePath();
    QFileDialog sourceDialog(this, exportTitle(), open.isEmpty() ? ui->backupRepository->text() : QFileInfo(open).path(),
                             tr("Brantix Captures (*.vtrc *.praw)") + QStringLiteral(";;")
                                 + CaptureFileMessages::traceFileFilter() + QStringLiteral(";;")
                                 + CaptureFileMessages::rawFileFilter());
    sourceDialog.setFileMode(QFileDialog::ExistingFile);
    if (!open.isEmpty())
        sourceDialog.selectFile(open);
    if (sourceDialog.exec() != QDialog::Accepted || sourceDialog.selectedFiles().isEmpty())
        return;
    const QString source = sourceDialog.selectedFiles().constFirst();
    const QFileInfo info(source);
    const QString target = QFileDialog::getSaveFileName(
        this, exportTitle(), info.dir().filePath(info.completeBaseName() + QStringLiteral(".pcapng")), pcapngFilter());
    if (!target.isEmpty())
        exportCaptureToPcapng(source, target);
}

bool BX::exportCaptureToPcapng(const QString& sourcePath, const QString& pcapngPath)
{
    ConversionProgress progress(this, tr("Exporting %1 to pcapng...").arg(QFileInfo(sourcePath).fileName()));
    PcapngExport exporter;
    exporter.setProgress([&progress](int percent) { return progress.step(percent); });
    // A filtered frame table exports the frames it shows, when it shows this trace.
    const bool raw = QFileInfo(sourcePath).suffix().compare(QStringLiteral("praw"), Qt::CaseInsensitive) == 0;
    const QString tableFile = m_mainATModel->filePath();
    const bool filtered = !raw && m_frameFilterATModel->isFiltered() && !tableFile.isEmpty()
        && QFileInfo(sourcePath) == QFileInfo(tableFile);
    if (filtered)
        exporter.setRows(m_frameFilterATModel->matchingRows());
    const PcapngExport::Result result = raw ? exporter.fromRaw(sourcePath, pcapngPath)
                                            : exporter.fromTrace(sourcePath, pcapngPath);
    progress.close();
    switch (result) {
    case PcapngExport::Ok:
        if (exporter.rowsSkipped() > 0)
            updateStatusBar(1, tr("Capture exported: %L1 frames in %2; %L3 rows without frame bytes (labels) left out")
                                   .arg(exporter.framesWritten())
                                   .arg(QDir::toNativeSeparators(pcapngPath))
                                   .arg(exporter.rowsSkipped()));
        else if (filtered)
            updateStatusBar(0, tr("Capture exported: %L1 frames shown by the filter \"%2\" in %3")
                                   .arg(exporter.framesWritten())
                                   .arg(m_frameFilterATModel->filter().text(), QDir::toNativeSeparators(pcapngPath)));
        else
            updateStatusBar(0, tr("Capture exported: %L1 frames in %2")
                                   .arg(exporter.framesWritten())
                                   .arg(QDir::toNativeSeparators(pcapngPath)));
        return true;
    case PcapngExport::Cancelled:
        updateStatusBar(1, tr("Export cancelled: %1 was not written").arg(QDir::toNativeSeparators(pcapngPath)));
        return false;
    default:
        warningBox(this, exporter.errorString());
        return false;
    }
}

bool BX::importPcapngCapture(const QString& capturePath)
{
    if (m_capturing || m_converting) {
        warningBox(this, CaptureFileMessages::captureInProgress());
        return false;
    }
    PcapngImport import;
    if (import.open(capturePath) != PcapngImport::Ok) {
        import.close();
        warningBox(this, import.errorString());
        return false;
    }
    const QFileInfo info(capturePath);
    const QString tracePath = info.dir().filePath(info.completeBaseName() + QLatin1Char('.')
                                                  + TraceFileWriter::extension());
    if (!m_mainATModel->filePath().isEmpty()
        && !askToContinue(this, CaptureFileMessages::analysisAlreadyOpen(), QMessageBox::Yes))
        return false;
    if (QFile::exists(tracePath)) {
        if (!askToContinue(this, CaptureFileMessages::destinationExists(), QMessageBox::No))
            return false;
        QFile::remove(tracePath);
    }

    initAnalysisContext();
    TraceRecordOptions options = traceRecordOptions();
    options.converting = true;
    options.depthMode = m_depthAnalysisMode;
    CaptureSession::Files files;
    files.trace = tracePath;
    QString error;
    m_captureSession->decoder().setPaddingRule(ui->fixedIdPadding->isChecked(), m_analysisContext->paddingIdentifier);
    if (!m_captureSession->start(options, files, &error)) {
        warningBox(this, CaptureFileMessages::cannotOpenDestination());
        return false;
    }
    initAnalysisContext();
    mainATSortingEnabled(false);
    m_mainATModel->setFilePath(tracePath);

    ConversionProgress progress(this, tr("Importing %1...").arg(info.fileName()));
    ImportProgress pauses(m_captureSession, &progress, &m_conversionStop);
    emit generateAnalysisProgress(0);
    setCaptureEditingEnabled(false);
    m_conversionSize = import.sourceSize();
    m_converting = true;
    m_networkRatioTimer->start();
    const PcapngImport::Result result = import.decode(m_captureSession->decoder(), &m_conversionStop, &pauses);
    import.close();
    bool written = false;
    finishAnalysis(tracePath, &written);
    m_converting = false;
    progress.close();
    emit generateAnalysisProgress(100);
    setCaptureEditingEnabled(true);

    if (!written)
        updateStatusBar(2, m_captureSession->traceWriter().errorString());
    else if (result == PcapngImport::Ok)
        updateStatusBar(0, tr("Capture imported: %L1 frames from %2")
                               .arg(import.framesRead())
                               .arg(QDir::toNativeSeparators(capturePath)));
    else if (result == PcapngImport::Cancelled)
        updateStatusBar(1, tr("Import cancelled: %L1 frames read").arg(import.framesRead()));
    else
        warningBox(this, tr("The capture %1 could not be read to the end (%L2 frames read).\n%3")
                             .arg(QDir::toNativeSeparators(capturePath))
                             .arg(import.framesRead())
                             .arg(import.errorString()));
    ui->analysisVisualFipTraceButton->setChecked(true);
    return written && result == PcapngImport::Ok;
}
