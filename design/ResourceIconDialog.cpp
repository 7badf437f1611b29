#include "design/ResourceIconDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QListWidget>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {
const char* const kPrefix = "icon_";
const char* const kSuffix = "_48x48.png";
} // namespace

QString ResourceIconDialog::iconDirectory()
{
    return QStringLiteral(":/images/rendering/");
}

ResourceIconDialog::ResourceIconDialog(QWidget* parent)
    : QDialog(parent)
    , m_iconsListWidget(new QListWidget(this))
{
    setWindowTitle(QStringLiteral("Select a resource icon"));
    setWindowIcon(QApplication::windowIcon());
    setMinimumSize(761, 473);
    m_iconsListWidget->setObjectName(QStringLiteral("iconsListWidget"));
    m_iconsListWidget->setViewMode(QListView::IconMode);
    m_iconsListWidget->setWrapping(true);
    m_iconsListWidget->setResizeMode(QListView::Adjust);
    m_iconsListWidget->setIconSize(QSize(48, 48));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_iconsListWidget);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_iconsListWidget, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    fillIcons();
}

void ResourceIconDialog::fillIcons()
{
    static const QRegularExpression pattern(QStringLiteral("^icon_(.+)_48x48\\.png$"));
    const QDir dir(iconDirectory());
    for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
        const QRegularExpressionMatch match = pattern.match(file);
        if (!match.hasMatch())
            continue;
        QString name = match.captured(1);
        name.replace(QLatin1Char('_'), QLatin1Char(' '));
        m_iconsListWidget->addItem(new QListWidgetItem(QIcon(dir.filePath(file)), name));
    }
    if (m_iconsListWidget->count() > 0)
        m_iconsListWidget->setCurrentRow(0);
}

QString ResourceIconDialog::fileName() const
{
    const QListWidgetItem* item = m_iconsListWidget->currentItem();
    if (!item)
        return QString();
    QString name = item->text();
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    return iconDirectory() + QLatin1String(kPrefix) + name + QLatin1String(kSuffix);
}

QString ResourceIconDialog::getResourceIconName(QWidget* parent)
{
    ResourceIconDialog dialog(parent);
    return dialog.exec() == QDialog::Accepted ? dialog.fileName() : QString();
}
