#ifndef BX_CAPTURE_FILES_CAPTUREFILEMESSAGES_H
#define BX_CAPTURE_FILES_CAPTUREFILEMESSAGES_H

#include <QString>

/// The texts the main window shows for capture files, in one place.
namespace CaptureFileMessages {

QString rawFileFilter();       ///< "Raw FIP Packets (*.praw)"
QString traceFileFilter();     ///< "Visual FIP Trace (*.vtrc)"
QString eventFileFilter();     ///< "Ostrak Event Packets [Debug] (*.pevt)"
QString openRawTitle();        ///< "Open Raw FIP Packets"
QString messageTitle();        ///< "Brantix"
QString backupFileTitle();     ///< "Backup file"
QString iconPath();            ///< the message boxes' icon

QString captureInProgress();
QString conversionInProgress();
QString cannotOpenSource();
QString analysisAlreadyOpen();
QString continueQuestion();
QString destinationExists();
QString backupInUse(const QString& path);
QString cannotOpenDestination();
QString noMnemonic();
QString invalidSpeed();
QString invalidVersion();

QString cannotOpenBackup(const QString& path, const QString& reason);
QString notATrace(const QString& path, const QString& reason);
QString cannotWriteBackup(const QString& path, const QString& reason);

QString statisticsInUse(const QString& path);
QString cannotOpenStatistics(const QString& path, const QString& reason);
QString cannotSaveStatistics(const QString& path, const QString& reason);
QString corruptStatistics(const QString& path, const QString& reason);

} // namespace CaptureFileMessages

#endif
