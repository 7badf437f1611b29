#pragma once

#include <QKeySequence>
#include <QString>
#include <QStringList>

class QSettings;

/// The recent-project list kept in the settings under "BX/recentfileslist":
/// newest first, each path once, at most ten.
class RecentProjects
{
public:
    static constexpr int MaxCount = 10;
    static const QString SettingsKey; ///< "BX/recentfileslist"

    /// `settings` is not owned; the main window passes QSettings("Kivotec", "Brantix").
    explicit RecentProjects(QSettings& settings);

    QStringList files() const;
    /// Puts `path` first (once), drops entries beyond ten, stores and returns the list.
    QStringList add(const QString& path);
    /// Stores an empty list.
    void clear();

    /// The list rule alone: `path` first, its other occurrences removed, at most ten entries.
    static QStringList withFirst(QStringList list, const QString& path);
    /// Text of a recent action: the file name without its folder.
    static QString actionText(const QString& path);
    /// Shortcut of the recent action at `position` (0-based): Ctrl+1 ... Ctrl+9, then Ctrl+0.
    static QKeySequence shortcut(int position);

private:
    QSettings& m_settings;
};
