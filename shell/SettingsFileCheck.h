#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/// Qt reads a settings value stored as "@Variant(…)" by trusting the counts inside it,
/// so one damaged value can make it reserve gigabytes and abort the program when its
/// group is first read. Brantix stores only colours that way; any other such value is
/// set aside before Qt reads the file.
namespace SettingsFileCheck {

/// The file's text without the lines holding a value Qt cannot read safely, every
/// other byte as it was; `keys` gets the keys of the lines taken out.
QByteArray withoutUnsafeValues(const QByteArray& text, QStringList* keys);

struct Result
{
    QStringList setAside; ///< keys taken out of the file
    QString keptAs;       ///< where the file as it was is kept
    QString error;        ///< why the file could not be rewritten
};

/// Rewrites the settings file at `path` without its unsafe values, keeping the
/// original beside it as `path` + ".unreadable". Does nothing to a sound file.
Result repair(const QString& path);

} // namespace SettingsFileCheck
