#include "capture/files/CaptureFileMessages.h"

#include <QCoreApplication>

namespace CaptureFileMessages {

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("CaptureFiles", text);
}
} // namespace

QString rawFileFilter() { return tr("Raw FIP Packets (*.praw)"); }
QString traceFileFilter() { return tr("Visual FIP Trace (*.vtrc)"); }
QString eventFileFilter() { return tr("Ostrak Event Packets [Debug] (*.pevt)"); }
QString openRawTitle() { return tr("Open Raw FIP Packets"); }
QString messageTitle() { return QStringLiteral("Brantix"); }
QString backupFileTitle() { return tr("Backup file"); }
QString iconPath() { return QStringLiteral(":/images/images/icon_brantix.png"); }

QString captureInProgress() { return tr("A FIP capture is already in progress."); }
QString conversionInProgress() { return tr("A raw file conversion is in progress."); }
QString cannotOpenSource() { return tr("Impossible to open source file (praw)."); }
QString analysisAlreadyOpen() { return tr("You have already an analysis opened in 'Analyze' tab."); }
QString continueQuestion() { return tr("Do you want to continue ?"); }
QString destinationExists() { return tr("The destination file already exists.\nIf you continue, it will be deleted."); }
QString backupInUse(const QString& path) { return tr("The backup file is already in use:\n") + path; }
QString cannotOpenDestination() { return tr("Impossible to open the destination file (vtrc)."); }
QString noMnemonic() { return tr("No mnemonic found. Please open a valid brxprj file to continue."); }
QString invalidSpeed() { return tr("Invalid FIP speed extract from praw file."); }
QString invalidVersion() { return tr("Invalid praw file version."); }

QString cannotOpenBackup(const QString& path, const QString& reason)
{
    return tr("Impossible to open the backup file:\n%1\n%2").arg(path, reason);
}

QString notATrace(const QString& path, const QString& reason)
{
    return tr("The file %1 is not a Visual FIP Trace: %2.").arg(path, reason);
}

QString cannotWriteBackup(const QString& path, const QString& reason)
{
    return tr("Impossible to write the backup file:\n%1\n%2").arg(path, reason);
}

QString statisticsInUse(const QString& path) { return tr("The statistics file is already in use:\n") + path; }

QString cannotOpenStatistics(const QString& path, const QString& reason)
{
    return tr("Impossible to open the statistics file:\n%1\n%2").arg(path, reason);
}

QString cannotSaveStatistics(const QString& path, const QString& reason)
{
    return tr("Impossible to save the statistics file:\n%1\n%2").arg(path, reason);
}

QString corruptStatistics(const QString& path, const QString& reason)
{
    return tr("The statistics file is not valid:\n%1\n%2").arg(path, reason);
}

} // namespace CaptureFileMessages
