// Reads arbitrary bytes as a settings file, set right first as the window does;
// whatever the options layer makes of it must write out and read back to the same values.

#include "shell/BXSettings.h"
#include "shell/SettingsFileCheck.h"

#include <QFile>
#include <QColor>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_settings_store";
    static char* argv[] = { name, nullptr };
    // Stored variants may be any Gui type (a bitmap needs a platform): the program always has one.
    static QGuiApplication app(argc, argv);
    static QTemporaryDir dir;

    const QString input = dir.filePath(QStringLiteral("input.ini"));
    const QString output = dir.filePath(QStringLiteral("output.ini"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    QFile::remove(output);
    SettingsFileCheck::repair(input);

    BXSettings first;
    {
        QSettings store(input, QSettings::IniFormat);
        first.read(store);
    }
    {
        QSettings store(output, QSettings::IniFormat);
        first.write(store);
    }
    BXSettings second;
    QSettings store(output, QSettings::IniFormat);
    second.read(store);
    for (const BXSettings::Key& key : BXSettings::keys()) {
        if (first.has(key.name) != second.has(key.name) || first.value(key.name) != second.value(key.name))
            std::abort(); // a store written by this version reads back whole
    }
    return 0;
}
