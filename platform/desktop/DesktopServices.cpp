#include "DesktopServices.h"

#include <QDebug>
#include <QDesktopServices>

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
