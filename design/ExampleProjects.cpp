#include "design/ExampleProjects.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QStringList ExampleProjects::fileNames()
{
    return { QStringLiteral("2sta_worldfip_1M.brxprj"),     QStringLiteral("2sta_worldfip_2M5.brxprj"),
             QStringLiteral("2sta_worldfip_5M.brxprj"),     QStringLiteral("2sta_worldfip_31K25.brxprj"),
             QStringLiteral("file_transfer_1M.brxprj"),     QStringLiteral("file_transfer_2M5.brxprj"),
             QStringLiteral("file_transfer_5M.brxprj"),     QStringLiteral("file_transfer_31K25.brxprj"),
             QStringLiteral("microcycle_test_2M5.brxprj") };
}

QString ExampleProjects::sourceDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../examples/brantix/2sta_worldfip/");
}

int ExampleProjects::install(const QString& workingDir, const QString& fromDir)
{
    const QString target = workingDir + QStringLiteral("/Examples");
    if (!QDir().mkpath(target))
        return -1;
    int copied = 0;
    for (const QString& name : fileNames()) {
        const QString destination = target + QLatin1Char('/') + name;
        if (QFileInfo::exists(destination))
            continue;
        if (!QFile::copy(QDir(fromDir).filePath(name), destination))
            continue;
        // The copy keeps the source's mode; the user's own copy must be editable.
        QFile::setPermissions(destination, QFile::permissions(destination) | QFile::WriteOwner);
        ++copied;
    }
    return copied;
}
