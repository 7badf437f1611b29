// Bytes → a project → every station's configuration file. Whatever the columns hold, each
// file is well-formed XML, and the reader either takes it or says why.

#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"
#include "design/StationConfiguration.h"
#include "design/StationConfigurationExport.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_station_export";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);

    MainDTModel model;
    BrxprjFile file(&model);
    if (!file.generateMainDTModel(QByteArray(reinterpret_cast<const char*>(data), int(size))))
        return 0;
    StationConfigurationExport exporter(&model);
    for (const QModelIndex& station : model.getStationIndexes()) {
        const QByteArray bytes = exporter.toBytes(station);
        QXmlStreamReader reader(bytes);
        while (!reader.atEnd())
            reader.readNext();
        if (reader.hasError())
            std::abort();
        QString error;
        StationConfiguration read;
        if (!StationConfiguration::parse(bytes, &read, &error) && error.isEmpty())
            std::abort();
    }
    return 0;
}
