#include "design/RecentProjects.h"

#include <QFileInfo>
#include <QSettings>

const QString RecentProjects::SettingsKey = QStringLiteral("BX/recentfileslist");

RecentProjects::RecentProjects(QSettings& settings)
    : m_settings(settings)
{
}

QStringList RecentProjects::files() const
{
    return m_settings.value(SettingsKey).toStringList();
}

QStringList RecentProjects::add(const QString& path)
{
    const QStringList list = withFirst(files(), path);
    m_settings.setValue(SettingsKey, list);
    return list;
}

void RecentProjects::clear()
{
    m_settings.setValue(SettingsKey, QStringList());
}

QStringList RecentProjects::withFirst(QStringList list, const QString& path)
{
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > MaxCount)
        list.removeLast();
    return list;
}

QString RecentProjects::actionText(const QString& path)
{
    return QStringLiteral("%1").arg(QFileInfo(path).fileName());
}

QKeySequence RecentProjects::shortcut(int position)
{
    return QKeySequence(QStringLiteral("Ctrl+%1").arg((position + 1) % 10));
}
