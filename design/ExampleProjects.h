#pragma once

#include <QString>
#include <QStringList>

/// The example projects shipped beside the program and copied into the working directory.
class ExampleProjects
{
public:
    /// The nine example file names.
    static QStringList fileNames();
    /// Where the program finds them: its folder + "/../examples/brantix/2sta_worldfip/".
    static QString sourceDir();
    /// Creates workingDir + "/Examples" when missing and copies every example that is not
    /// there yet (an existing file is never overwritten). Returns the number of files copied,
    /// -1 when the folder cannot be made.
    static int install(const QString& workingDir, const QString& fromDir = sourceDir());
};
