#include "DesktopServices.h"

#include <QDebug>
#include <QDesktopServices>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
QUrl& lastUrl()
{
    static QUrl url;
    return url;
}
} // namespace

bool DesktopServices::openUrl(const QUrl& url)
{
    lastUrl() = url;
    const bool opened = QDesktopServices::openUrl(url);
    if (!opened)
        qDebug().noquote() << "[BRANTIX] no URL handler took" << url.toString();
    return opened;
}

QUrl DesktopServices::lastOpenedUrl()
{
    return lastUrl();
}

namespace {
bool g_keepAwake = false;
}

void DesktopServices::setKeepAwake(bool awake)
{
    g_keepAwake = awake;
#ifdef Q_OS_WIN
    SetThreadExecutionState(awake ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
#endif
}

bool DesktopServices::keepAwake()
{
    return g_keepAwake;
}
