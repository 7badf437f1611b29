// First byte: how many bytes the grid shows; second: the cell pasted at; the
// rest: clipboard text. Cells past the data never take text, and "Data" texts
// read back to the bytes they were written from.

#include "control/HexaTable.h"
#include "control/TableWidgetWithPaste.h"

#include <QApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_byte_grid";
    static char* argv[] = { name, nullptr };
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    // Made once and never destroyed: the widget and the application stay reachable
    // at exit, where tearing them down leaves the platform plugin's pieces behind.
    static QApplication* app = new QApplication(argc, argv);
    static TableWidgetWithPaste* grid = new TableWidgetWithPaste;
    TableWidgetWithPaste& table = *grid;
    (void)offscreen;
    (void)app;
    if (size < 2)
        return 0;

    const int length = data[0] + 1;
    HexaTable::update(&table, QByteArray(length, '\0'), true);
    table.setCurrentCell(data[1] / HexaTable::Side, data[1] % HexaTable::Side);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 2), int(size - 2));
    table.pasteText(text);
    for (int i = length; i < HexaTable::Cells; ++i) {
        if (!table.item(i / HexaTable::Side, i % HexaTable::Side)->text().isEmpty())
            std::abort(); // pasted past the data
    }

    const QByteArray parsed = HexaTable::parseData(text);
    if (parsed.size() > HexaTable::Cells)
        std::abort();
    if (HexaTable::parseData(HexaTable::dataText(parsed)) != parsed)
        std::abort(); // written "Data" must read back
    return 0;
}
