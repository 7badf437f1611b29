// The display filter bar over the frame table, go to frame, and "Apply as
// Filter" from the transaction tree's identifier rows.
#include "app/BX.h"

#include "ui_BX.h"

#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "analysis/TransactionATModel.h"
#include "app/FrameFilterBar.h"

#include <QBoxLayout>
#include <QMenu>

void BX::setupFrameFilter()
{
    m_frameFilterATModel = new FrameFilterATModel(m_mainATModel, this);
    ui->mainATView->setModel(m_frameFilterATModel);

    // Above the table, in the layout that holds the trace splitter.
    QWidget* page = ui->traceSplitter->parentWidget();
    m_frameFilterBar = new FrameFilterBar(ui->mainATView, m_frameFilterATModel, page);
    m_frameFilterBar->setObjectName(QStringLiteral("frameFilterBar"));
    if (auto* box = qobject_cast<QBoxLayout*>(page->layout()))
        box->insertWidget(box->indexOf(ui->traceSplitter), m_frameFilterBar);
    else
        // Nested layouts: find the one that holds the splitter.
        for (QBoxLayout* inner : page->findChildren<QBoxLayout*>())
            if (inner->indexOf(ui->traceSplitter) >= 0) {
                inner->insertWidget(inner->indexOf(ui->traceSplitter), m_frameFilterBar);
                break;
            }
    connect(m_frameFilterBar, &FrameFilterBar::statusMessage, this, &BX::updateStatusBar);

    ui->transactionATView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->transactionATView, &QWidget::customContextMenuRequested, this, &BX::onCustomContextTransactionATMenu);
}

bool BX::goToFrame(qint64 frame)
{
    return m_frameFilterBar->goToFrame(frame);
}

void BX::onCustomContextTransactionATMenu(const QPoint& point)
{
    const QModelIndex index = ui->transactionATView->indexAt(point);
    if (!index.isValid())
        return;
    // Identifier rows read "0x0100" in their first column.
    const QString id = index.siblingAtColumn(TransactionATModel::TransactionCol).data().toString().trimmed();
    bool ok = false;
    id.midRef(2).toUShort(&ok, 16);
    if (!id.startsWith(QLatin1String("0x")) || !ok)
        return;
    QMenu menu(this);
    m_frameFilterBar->addFilterActions(&menu, { QStringLiteral("id == %1").arg(id) });
    menu.exec(ui->transactionATView->viewport()->mapToGlobal(point));
}
