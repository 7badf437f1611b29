// Loads arbitrary bytes as a project; whatever loads must save, and the saved
// file must load back to a project that saves to the same bytes.

#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_brxprj";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);

    MainDTModel model;
    BrxprjFile file(&model);
    if (!file.generateMainDTModel(QByteArray(reinterpret_cast<const char*>(data), int(size))))
        return 0;
    const QByteArray saved = file.toBytes();
    if (model.rowCount() == 0)
        return 0;

    MainDTModel again;
    BrxprjFile reread(&again);
    if (!reread.generateMainDTModel(saved))
        std::abort(); // what we wrote must read back
    if (reread.toBytes() != saved)
        std::abort(); // and be stable
    return 0;
}
