// Builds the example projects through the design model's own drops and edits,
// so that every value in them passes the editor's checks, and saves them:
//   make-examples <output folder>

#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QUndoStack>

#include <cstdio>

namespace {

using M = MainDTModel;

class Builder
{
public:
    explicit Builder(MainDTModel& model) : m(model) {}

    QModelIndex add(const char* kind, const QModelIndex& parent)
    {
        if (!m.dropItem(QString::fromLatin1(kind), parent)) {
            std::fprintf(stderr, "refused: %s\n", kind);
            ++failures;
            return QModelIndex();
        }
        return m.index(m.rowCount(parent) - 1, 0, parent);
    }
    void set(const QModelIndex& node, int column, const QString& value)
    {
        if (m.text(node, column) == value)
            return; // the model refuses an edit that changes nothing
        if (!m.setData(node.sibling(node.row(), column), value, Qt::EditRole)) {
            std::fprintf(stderr, "refused: column %d = %s on %s\n", column, qPrintable(value),
                         qPrintable(m.text(node, 0)));
            ++failures;
        }
    }
    QString get(const QModelIndex& node, int column) const { return m.text(node, column); }

    MainDTModel& m;
    int failures = 0;
};

struct Station
{
    QModelIndex node;
    QList<QModelIndex> outputs;
};

/// An output variable of `length` bytes refreshed every `period` µs, with a data
/// rendering of two mnemonics.
QModelIndex produce(Builder& b, Station& s, quint16 id, int length, const QString& name)
{
    const QModelIndex v = b.add("Variable", s.node);
    b.set(v, M::ColVarOutId, QString::asprintf("0x%04x", id));
    b.set(v, M::ColVarOutLength, QString::number(length));
    const QModelIndex rendering = b.add("Data Rendering", v);
    b.set(rendering, 0, name);
    const QModelIndex first = b.add("Mnemonic", rendering);
    b.set(first, 0, name + "_STATE");
    b.set(first, M::ColMnemoDescription, "Running state of " + name);
    const QModelIndex second = b.add("Mnemonic", rendering);
    b.set(second, 0, name + "_VALUE");
    b.set(second, M::ColMnemoDescription, "Measured value of " + name);
    s.outputs << v;
    return v;
}

void consume(Builder& b, Station& s, const QModelIndex& produced)
{
    const QModelIndex v = b.add("Variable", s.node);
    b.set(v, M::ColVariableDirection, "IN");
    b.set(v, M::ColVarInId, b.get(produced, M::ColVarOutId));
}

void scan(Builder& b, const QModelIndex& table, const QList<QModelIndex>& variables, const QString& wait)
{
    // Drops append after the NEXT_MACRO the table starts with; keep it last by
    // editing the first row and adding the rest before it.
    for (const QModelIndex& v : variables) {
        const QModelIndex i = b.add("Instruction", table);
        b.set(i, M::ColInstructionType, "SEND_ID_DAT");
        b.set(i, M::ColInstructionId, b.get(v, M::ColVarOutId));
    }
    const QModelIndex w = b.add("Instruction", table);
    b.set(w, M::ColInstructionType, "WAIT_TIME");
    b.set(w, M::ColInstructionTime, wait);
    const QModelIndex next = b.add("Instruction", table);
    b.set(next, M::ColInstructionType, "NEXT_MACRO");
}

enum Kind { TwoStations, FileTransfer, MicrocycleTest };

bool build(const QString& dir, const QString& name, const QString& speed, Kind kind)
{
    MainDTModel model;
    model.setMultiInsertPause(0);
    Builder b(model);
    const QModelIndex network = b.add("Network", QModelIndex());
    b.set(network, 0, name);
    b.set(network, M::ColNetworkFrameType, "WorldFIP");
    b.set(network, M::ColNetworkSpeed, speed);
    const QModelIndex segment = b.add("Segment", network);
    Station a { b.add("Station", segment), {} };
    b.set(a.node, 0, "Arbitrator");
    Station c { b.add("Station", segment), {} };
    b.set(c.node, 0, "Field unit");
    const QModelIndex arbiter = b.add("Arbiter", a.node);
    const QModelIndex table = b.add("Scan Table", arbiter);

    const int perStation = kind == MicrocycleTest ? 8 : 2;
    for (int i = 0; i < perStation; ++i) {
        produce(b, a, quint16(0x0100 + i), 8, QString("ARB_OUT%1").arg(i + 1));
        produce(b, c, quint16(0x0200 + i), kind == MicrocycleTest ? 2 : 16, QString("UNIT_OUT%1").arg(i + 1));
    }
    for (const QModelIndex& v : a.outputs)
        consume(b, c, v);
    for (const QModelIndex& v : c.outputs)
        consume(b, a, v);

    // Aperiodic traffic: the unit's first variable asks for the arbitrator's second.
    const QModelIndex aperiodic = b.add("Aperiodic List", c.outputs.first());
    const QModelIndex ref = b.add("Variable", aperiodic);
    b.set(ref, M::ColVarRefId, b.get(a.outputs.at(1), M::ColVarOutId));

    if (kind == FileTransfer) {
        for (Station* s : { &a, &c }) {
            const QModelIndex carrier = s->outputs.last();
            b.set(carrier, M::ColVarOutMessageTransferEnabled, "true");
            const QModelIndex message = b.add("Message", carrier);
            b.set(message, M::ColMsgFileTransferEnabled, "true");
        }
    }

    QList<QModelIndex> periodic = a.outputs + c.outputs;
    scan(b, table, periodic, kind == MicrocycleTest ? "1" : "5");

    BrxprjFile file(&model);
    const QString path = QDir(dir).filePath(name + ".brxprj");
    if (!file.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s: %d nodes, %d refused edits\n", qPrintable(path), model.getAllIndexes().size(), b.failures);
    return b.failures == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-examples <output folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    const QList<QPair<QString, QString>> speeds = { { "1M", "1 Mbits/s" }, { "2M5", "2.5 Mbits/s" },
                                                    { "5M", "5 Mbits/s" }, { "31K25", "31.25 kbits/s" } };
    bool ok = true;
    for (const auto& s : speeds) {
        ok = build(dir, "2sta_worldfip_" + s.first, s.second, TwoStations) && ok;
        ok = build(dir, "file_transfer_" + s.first, s.second, FileTransfer) && ok;
    }
    ok = build(dir, "microcycle_test_2M5", "2.5 Mbits/s", MicrocycleTest) && ok;
    return ok ? 0 : 1;
}
