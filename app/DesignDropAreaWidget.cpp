#include "app/DesignDropAreaWidget.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {
const QString UriListMime = QStringLiteral("text/uri-list");
}

DesignDropAreaWidget::DesignDropAreaWidget(QWidget* parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
}

bool DesignDropAreaWidget::acceptsProjectDrop(const QMimeData* mime)
{
    if (!mime || !mime->hasFormat(UriListMime))
        return false;
    for (const QUrl& url : mime->urls()) {
        // Case-sensitive, as the extension the program writes.
        if (url.path().split('.').last() == QLatin1String("brxprj"))
            return true;
    }
    return false;
}

void DesignDropAreaWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsProjectDrop(event->mimeData()))
        event->acceptProposedAction();
}

void DesignDropAreaWidget::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptsProjectDrop(event->mimeData()))
        event->acceptProposedAction();
}

void DesignDropAreaWidget::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(UriListMime) && !mime->urls().isEmpty())
        emit brxprjFileDropped(mime->urls().first().path(QUrl::FullyDecoded));
    event->acceptProposedAction();
}
