// Drives the design model with byte-chosen user actions and checks that undoing
// everything always gives back the empty project.

#include "design/MainDTModel.h"

#include <QCoreApplication>
#include <QMimeData>
#include <QUndoStack>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
const char* const kKinds[] = { "Network", "Segment",  "Station",        "Arbiter",  "Scan Table", "Instruction",
                               "Variable", "Aperiodic List", "Message", "Data Rendering", "Mnemonic" };
const char* const kValues[] = { "0",         "1",          "2",        "15",        "16",        "255",
                                "256",       "-1",         "0x0104",   "260",       "zz",        "",
                                "true",      "false",      "IN",       "OUT",       "SUSPEND",   "SEND_ID_DAT",
                                "WAIT_TIME", "NEXT_MACRO", "TESTP",    "5",         "1024",      "0.0625",
                                "Ascii",     "Bool",       "Int64",    "Hexa",      "Periodic",  "Aperiodic",
                                "1 Mbits/s", "2.5 Mbits/s", "31.25 kbits/s", "5 Mbits/s", "Optimization 1",
                                "Optimization 2", "0x3f",  "0x00",     "<Bind a device>", "0 - USB - 1 Mbits/s - 0x00000001" };

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool atEnd() const { return pos >= size; }
    uint8_t next() { return pos < size ? data[pos++] : 0; }
};

QModelIndex pickNode(MainDTModel& model, Reader& in)
{
    const QModelIndexList all = model.getAllIndexes();
    const uint8_t choice = in.next();
    if (all.isEmpty() || choice == 0xFF)
        return QModelIndex();
    return all.at(choice % all.size());
}

void checkTree(MainDTModel& model, const QModelIndex& parent)
{
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex child = model.index(r, 0, parent);
        if (!child.isValid() || model.parent(child) != parent)
            std::abort();
        model.data(child, Qt::DisplayRole);
        checkTree(model, child);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_design_model";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);

    MainDTModel model;
    model.setMultiInsertPause(0);
    bool ctrl = false;
    int count = 1;
    model.setCtrlPressedQuery([&] { return ctrl; });
    model.setInsertionCountQuery([&](int* c) {
        *c = count;
        return true;
    });
    bool rawWrites = false;

    Reader in { data, size };
    for (int step = 0; step < 64 && !in.atEnd(); ++step) {
        switch (in.next() % 8) {
        case 0:
        case 1: {
            const char* kind = kKinds[in.next() % (sizeof(kKinds) / sizeof(*kKinds))];
            const QModelIndex parent = pickNode(model, in);
            const int row = (in.next() & 1) ? -1 : int(in.next() % 4);
            ctrl = (in.next() & 3) == 0;
            count = 1 + in.next() % 3;
            std::unique_ptr<QMimeData> mime(MainDTModel::createItemMimeData(QString::fromLatin1(kind)));
            model.dropMimeData(mime.get(), Qt::CopyAction, row, 0, parent);
            break;
        }
        case 2:
        case 3: {
            const QModelIndex node = pickNode(model, in);
            const int column = in.next() % (MainDTModel::LastProjectColumn + 1);
            const char* value = kValues[in.next() % (sizeof(kValues) / sizeof(*kValues))];
            if (node.isValid())
                model.setData(node.sibling(node.row(), column), QString::fromLatin1(value));
            break;
        }
        case 4:
            model.undoStack()->undo();
            break;
        case 5:
            model.undoStack()->redo();
            break;
        case 6: {
            const QModelIndex node = pickNode(model, in);
            if (node.isValid())
                model.removeItem(node);
            break;
        }
        case 7: {
            // A value written as a project file would, after which the history is dropped.
            const QModelIndex node = pickNode(model, in);
            const int column = in.next() % MainDTModel::ColumnCount;
            const char* value = kValues[in.next() % (sizeof(kValues) / sizeof(*kValues))];
            if (node.isValid()) {
                model.setDataWithoutControl(node.sibling(node.row(), column), QString::fromLatin1(value));
                model.undoStack()->clear();
                model.updateInternalData();
                rawWrites = true;
            }
            break;
        }
        }
        checkTree(model, QModelIndex());
    }
    while (model.undoStack()->canUndo())
        model.undoStack()->undo();
    checkTree(model, QModelIndex());
    if (!rawWrites && model.rowCount() != 0)
        std::abort();
    return 0;
}
