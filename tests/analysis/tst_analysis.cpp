// The transaction tree on its own, pushed counters and states by script; and
// transaction bookkeeping, station presence, load gauges, macrocycle detection
// and bus faults, fed by the real decoder with hand-built frames and with the
// simulated bus, read back from the real transaction tree; mnemonic values
// tracked through the frames of a capture, and their exports. The frame table
// over trace files: cells of every kind of line, the anchor and its editing, a
// file shrinking under the table, the row limit, row colours and colour buttons;
// the filtered view over real traces from the simulated bus: rows arriving during
// a live capture, a filter changed meanwhile, and an anchor that moves the `time`
// field. The display filter itself: parsing (every error with its position),
// matching against hand-built trace lines, and scanning a real trace file. The
// chart pages loaded from the resources in a real web view: the donut driven with
// the slices of a known macrocycle and read back from the page's DOM, the mnemonic
// graph given a chart option with known steps and read back through the chart's API.

#include "analysis/AnalysisContext.h"
#include "analysis/ControlTable.h"
#include "analysis/filter/FrameFilter.h"
#include "analysis/filter/FrameFilterScan.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MacrocycleDonut.h"
#include "analysis/MainATDelegate.h"
#include "analysis/MainATModel.h"
#include "analysis/MnemoAnalysis.h"
#include "analysis/MnemoExport.h"
#include "analysis/MnemoGraphOption.h"
#include "analysis/PaddingSearch.h"
#include "analysis/StationPresenceTable.h"
#include "analysis/StatisticsOverview.h"
#include "analysis/TransactionATDelegate.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "capture/decoder/TraceRow.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"
#include "tests/capture/files/CapturePipeline.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

#include <functional>

using namespace FipControls;
using M = TransactionATModel;

namespace {

constexpr quint64 kStartUs = 1700000000000000ULL;

/// A capture on a 1 Mbit/s WorldFIP bus: frames go in as Osp records, through
/// the macrocycle detection when asked for, then the transaction bookkeeping.
struct Capture : MacrocycleAnalysis::Observer
{
    AnalysisContext context;
    FrameAnalysis transactions { &context };
    MacrocycleAnalysis macro { &context, &transactions };
    FipStreamDecoder decoder;
    M model;
    FipTrafficGenerator bus { 1, 2, kStartUs };
    quint64 now = kStartUs;
    QString outcomes; ///< D drawn, E errors told

    explicit Capture(quint16 padding = 0xFFFF, bool fixedPadding = true, bool detectMacrocycle = false)
        : decoder(detectMacrocycle ? static_cast<FipDecoderListener*>(&macro) : &transactions)
    {
        decoder.initAnalysisContext();
        decoder.setPaddingRule(fixedPadding, padding);
        macro.setPaddingRule(fixedPadding, padding);
        macro.setObserver(this);
        macro.setTransactionModel(&model);
        macro.setErrorCounters(&decoder.counters());
        macro.setSamplingPeriodMs(2000);
    }
    void onMacrocycleEvaluated() override { outcomes += 'D'; }
    void onMacrocycleErrors() override { outcomes += 'E'; }

    void frame(const QByteArray& body, quint16 status = 0, quint16 glc = 0)
    {
        FipFrame f;
        f.bytes = bus.withFcs(body);
        f.status = status;
        f.timestampUs = now;
        f.gapTicks = 200;
        f.lengthTicks = quint32(f.bytes.size() * 80);
        f.glc = glc;
        now += 100;
        feed(FipRecordEncoder::ospRecord(f));
    }
    void feed(const QByteArray& records)
    {
        bool stop = false;
        decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(records.constData()), records.size(), &stop, false);
    }
    void request(quint8 control, quint16 id) { frame(QByteArray() + char(control) + char(id >> 8) + char(id & 0xFF)); }
    void reply(quint8 control, const QByteArray& data = QByteArray()) { frame(QByteArray(1, char(control)) + data); }
    void variable(quint16 id, const QByteArray& data)
    {
        request(ID_DAT, id);
        reply(RP_DAT, QByteArray() + char(0x40) + char(data.size()) + data);
    }
    /// Simulated bus traffic up to `seconds` of bus time after the start.
    void runUntil(double seconds, quint64 fcsErrorAtUs = 0)
    {
        QByteArray records;
        for (;;) {
            if (fcsErrorAtUs != 0 && bus.ticksToUs(bus.nextFrameTick()) + kStartUs >= fcsErrorAtUs) {
                bus.injectError(FipTrafficGenerator::Error::FcsError);
                fcsErrorAtUs = 0;
            }
            const FipFrame f = bus.next();
            if (f.timestampUs > kStartUs + quint64(seconds * 1e6))
                break;
            records += FipRecordEncoder::ospRecord(f);
            if (records.size() > 64 * 1024) {
                feed(records);
                records.clear();
            }
        }
        feed(records);
    }

    void push(bool glitchTick = false)
    {
        StatisticsOverview::collect(decoder.counters(), &context.counters);
        StatisticsOverview::updateTimes(context, decoder, 0, 0, 0);
        StatisticsOverview::pushTransactions(context, model, 1, 0.1, glitchTick);
    }
    int state(quint16 id) { return context.pair(id, ID_DAT).state; }
    QVariant cell(quint16 id, quint8 control, int column)
    {
        const QModelIndex row = model.getRootCtrlIdx(id, control);
        return model.index(row.row(), column, row.parent()).data();
    }
    quint64 count(quint16 id, quint8 control, int column) { return cell(id, control, column).toULongLong(); }
    QStringList cells(quint16 id, quint8 control, std::initializer_list<int> columns)
    {
        QStringList out;
        for (int column : columns)
            out << cell(id, control, column).toString();
        return out;
    }
};

/// "0201:1 0202:2": identifiers and their periods in cycles.
QVector<FipTrafficGenerator::Variable> scanTable(const QString& text)
{
    QVector<FipTrafficGenerator::Variable> table;
    for (const QString& entry : text.split(' ', Qt::SkipEmptyParts))
        table.append({ quint16(entry.section(':', 0, 0).toUInt(nullptr, 16)), 2, entry.section(':', 1).toInt() });
    return table;
}

/// The macrocycle found, "0201 0202|0201" (microcycles separated by bars), started
/// at the microcycle that makes it read as `expected` when one does.
QString found(const Macrocycle& cycles, const QString& expected)
{
    QStringList micros;
    for (const Microcycle& micro : cycles) {
        QStringList ids;
        for (quint16 id : micro)
            ids << QString::asprintf("%04x", id);
        micros << ids.join(' ');
    }
    for (int shift = 0; shift < micros.size(); ++shift) {
        if ((micros.mid(shift) + micros.mid(0, shift)).join('|') == expected)
            return expected;
    }
    return micros.join('|');
}

enum Figure { FcsErrors, Glitches, VariableNoReplies, PresenceNoReplies, LateTurnaround, FigureCount };

// "R 0x10 0x03 5; S 0x10 0x03 0x81": the pushes of one statistics tick, in order.
// R request/reply, N no-reply, A no-ack, S state, D data value, F refresh state, P padding.
void push(M& model, const QString& script)
{
    for (const QString& step : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList f = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto num = [&f](int i) { return f.value(i).toULongLong(nullptr, 0); };
        const quint16 id = quint16(num(1));
        const quint8 ctrl = quint8(num(2));
        switch (f.at(0).at(0).toLatin1()) {
        case 'R': QVERIFY(model.setRequestReplyCounter(id, ctrl, num(3))); break;
        case 'N': QVERIFY(model.setNoReplyCounter(id, ctrl, num(3))); break;
        case 'A': QVERIFY(model.setNoAckCounter(id, ctrl, num(3))); break;
        case 'S': QVERIFY(model.setIdState(id, ctrl, quint8(num(3)))); break;
        case 'D': QVERIFY(model.setDataValueStr(id, ctrl, f.value(3))); break;
        case 'F': QVERIFY(model.setRefreshStateStr(id, ctrl, f.value(3))); break;
        case 'P': model.setPadding(id); break;
        default: QFAIL(qPrintable(step));
        }
    }
}

QImage picture(const QVariant& icon)
{
    return icon.value<QIcon>().pixmap(16, 16).toImage();
}

MnemoField field(MnemoField::Type type, int start, int stop, bool big = false)
{
    return { type, big, start, stop };
}

MnemoHistory history(MnemoField::Type type, int stopBit, const std::vector<quint64>& values, int first = 0)
{
    return { field(type, 0, stopBit), first, values };
}

/// Feeds one frame (control byte first, FCS bytes added) to the analysis.
void feed(MnemoAnalysis& analysis, quint16 identifier, QByteArray frame, quint64 timestampUs)
{
    frame.append("\0\0", 2);
    FipFrameInfo info;
    info.data = reinterpret_cast<const quint8*>(frame.constData());
    info.size = frame.size();
    info.control = quint8(frame[0]);
    info.identifier = identifier;
    info.ok = true;
    info.timestamp = timestampUs;
    TraceRow row;
    analysis.onReplyFrame(info, row);
    analysis.onFrameWithoutError(info);
}


// A trace line: field n holds "f<n>" except the ones given.
QByteArray frame(quint64 tick, const QByteArray& control = "RP_DAT", const QByteArray& fileRelative = "file-rel")
{
    TraceRow row;
    for (int c = 0; c < TraceRow::FieldCount; ++c)
        row.field(c) = "f" + std::to_string(c);
    row.field(TraceRow::RelativeDate) = fileRelative.toStdString();
    row.field(TraceRow::AbsoluteDateTick) = std::to_string(tick);
    row.field(TraceRow::Control) = control.toStdString();
    return row.line();
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("t.vtrc"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QString cell(const MainATModel& m, int row, int column)
{
    return m.data(m.index(row, column)).toString();
}

// A capture session writing a trace, fed by the simulated bus with an error now and then.
struct LiveTrace {
    CapturePipeline pipeline;
    FipTrafficGenerator bus { 1, 2, 1765087200000000ULL };
    QString path;

    explicit LiveTrace(const QString& file) : path(file)
    {
        TraceRecordOptions o;
        o.converting = true;
        pipeline.recorder.setOptions(o);
        pipeline.decoder.setCardSpeed(1);
        bus.setErrorEvery(37);
        pipeline.writer.open(path);
    }
    // Frames onto the bus, their lines into the file; the offsets of the new lines.
    QVector<qint64> feed(int frames)
    {
        QByteArray records;
        for (int i = 0; i < frames; ++i)
            records += FipRecordEncoder::ospRecord(bus.next());
        bool stop = false;
        pipeline.decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(records.constData()), records.size(),
                                           &stop, false);
        QVector<qint64> offsets;
        pipeline.writer.writePending(&offsets);
        return offsets;
    }
    // Frame numbers of the lines whose field `column` passes `keep`, read the plain way.
    template<typename F> QStringList numbers(F keep) const
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QStringList out;
        while (!f.atEnd()) {
            const QList<QByteArray> fields = f.readLine().chopped(1).split('\t');
            if (keep(fields))
                out << QString::fromUtf8(fields.value(1));
        }
        return out;
    }
};

QStringList shown(const QAbstractItemModel& m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.index(r, 1).data().toString();
    return out;
}

bool apply(FrameFilterATModel& model, const QString& text)
{
    QSignalSpy applied(&model, &FrameFilterATModel::filterApplied);
    if (!model.setFilter(FrameFilter::parse(text)))
        return false;
    return applied.count() > 0 || applied.wait(10000);
}


const quint64 kAnchor = 1765087200000000ULL;

// A trace line as the decoder writes it, from the few fields a case needs.
QByteArray line(const QString& ctrl, const QString& id, const QString& data = QString(), quint64 micros = 0,
                const QString& mnemonic = QString())
{
    TraceRow row;
    row.set(TraceRow::Number, "1,234");
    row.setText(TraceRow::AbsoluteDateTick, QString::number(kAnchor + micros));
    row.setText(TraceRow::Control, ctrl);
    row.setText(TraceRow::Identifier, id);
    if (ctrl.startsWith(QLatin1String("RP_DAT")))
        row.set(TraceRow::Pdu, "SM_MPS");
    const int bytes = data.startsWith(QLatin1String("Type:")) ? 0 : data.split(' ', Qt::SkipEmptyParts).size();
    row.setText(TraceRow::DataLength, QString::number(bytes));
    row.setText(TraceRow::Mnemonic, mnemonic);
    row.setText(TraceRow::Data, data);
    row.set(TraceRow::Fcs, "0xbeef");
    return row.line();
}

const QString mu = QString(QChar(0x03BC));

/// The arcs drawn, as "label=fill", sorted.
QString arcs(QWebView& view)
{
    return view.page()
        ->mainFrame()
        ->evaluateJavaScript(
            "d3.selectAll('.c3-chart-arc path').nodes().map(function (p) {"
            "  return d3.select(p).datum().data.id + '=' + window.getComputedStyle(p).fill; }).sort().join(';')")
        .toString();
}

/// Loads a page; true once it loaded and its scripts made their objects (`kinds`
/// gives their "typeof" list): scripts that did not load leave no chart.
bool load(QWebView& view, const QString& url, const QString& kinds)
{
    view.resize(900, 500);
    QSignalSpy loaded(&view, &QWebView::loadFinished);
    view.load(QUrl(url));
    if (!loaded.wait(10000) || !loaded.first().first().toBool())
        return false;
    const QString types = view.page()->mainFrame()->evaluateJavaScript(kinds).toString();
    return types.startsWith("object object") && !types.contains("undefined");
}

} // namespace

Q_DECLARE_METATYPE(FipTrafficGenerator::Faults)
using Setter = std::function<bool(M&, quint8)>;
Q_DECLARE_METATYPE(Setter)

class TestAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void rowsMadeOnFirstCounter_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("control");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QString>("categoryIcon");
        const QString msg = ":/images/images/icon_message_out_48x48.png";
        const QString apl = ":/images/images/icon_aperiodic_list_48x48.png";
        QTest::newRow("RP_ACKpe") << 0x0100 << 0x30
                                  << QStringList{"IdMsg - Message Transfer", "0x0100", "RpMsgAckEven", "RpAckEven+"} << msg;
        QTest::newRow("RP_ACKmo") << 0x0030 << 0x90
                                  << QStringList{"IdMsg - Message Transfer", "0x0030", "RpMsgAckOdd", "RpAckOdd-"} << msg;
        QTest::newRow("RP_RQ1") << 0x1234 << 0x28
                                << QStringList{"IdRqx - Aperiodic List Transfer", "IdRq1 - Urgent", "0x1234", "RpRq1"} << apl;
        QTest::newRow("ID_RQ2") << 0x0001 << 0x09
                                << QStringList{"IdRqx - Aperiodic List Transfer", "IdRq2 - Normal", "0x0001"} << apl;
        QTest::newRow("RP_DAT_RQ2_MSG") << 0xffff << 0x0e
                                        << QStringList{"IdDat - Variable Transfer", "0xffff", "RpDatRq2Msg"}
                                        << ":/images/images/icon_variable_out_48x48.png";
        QTest::newRow("unknown") << 0x0100 << 0x01 << QStringList() << QString();
    }

    void rowsMadeOnFirstCounter()
    {
        QFETCH(int, id);
        QFETCH(int, control);
        QFETCH(QStringList, path);
        QFETCH(QString, categoryIcon);
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        for (int round = 0; round < 2; ++round) { // the second push finds the same rows
            QCOMPARE(model.setRequestReplyCounter(quint16(id), quint8(control), 7), !path.isEmpty());
            QModelIndex at;
            for (const QString& text : path) {
                QCOMPARE(model.rowCount(at), 1);
                at = model.index(0, M::TransactionCol, at);
                QCOMPARE(at.data().toString(), text);
            }
            QCOMPARE(model.rowCount(at), 0);
        }
        const QModelIndex row = model.getRootCtrlIdx(quint16(id), quint8(control));
        QCOMPARE(row.isValid(), !path.isEmpty());
        if (path.isEmpty())
            return;
        const int column = M::isRequest(quint8(control)) ? M::RequestCol : M::ReplyCol;
        QCOMPARE(row.siblingAtColumn(column).data().toULongLong(), 7ull);
        QCOMPARE(picture(model.index(0, 0).data(Qt::DecorationRole)), picture(QIcon(categoryIcon)));
    }

    void replySums_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("row"); // the control of the row read
        QTest::addColumn<quint64>("reply");
        QTest::newRow("ACKe and NOACK left out")
            << "R 0x20 0x14 4; R 0x20 0x04 3; R 0x20 0x30 4; R 0x20 0x40 2" << 0x05 << quint64(2);
        QTest::newRow("ACKo left out") << "R 0x20 0x94 6; R 0x20 0xb0 6" << 0x05 << quint64(0);
        QTest::newRow("variable variants, one updated")
            << "R 0x20 0x02 3; R 0x20 0x06 4; R 0x20 0x02 10" << 0x03 << quint64(14);
        QTest::newRow("ACKe sums its acknowledgements") << "R 0x20 0x14 9; R 0x20 0x30 3; R 0x20 0x10 1" << 0x14 << quint64(4);
        QTest::newRow("ACKo pushed after its acknowledgement") << "R 0x20 0xb0 2; R 0x20 0x94 9" << 0x94 << quint64(2);
    }

    void replySums()
    {
        QFETCH(QString, script);
        QFETCH(int, row);
        M model;
        push(model, script);
        QTEST(model.getRootCtrlIdx(0x20, quint8(row)).siblingAtColumn(M::ReplyCol).data().toULongLong(), "reply");
    }

    void settersOnResponseRows_data()
    {
        QTest::addColumn<Setter>("set");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("requestOnly");
        const quint16 id = 0x10;
        QTest::newRow("no reply") << Setter([](M& m, quint8 c) { return m.setNoReplyCounter(id, c, 3); }) << int(M::NoReplyCol) << true;
        QTest::newRow("no ack") << Setter([](M& m, quint8 c) { return m.setNoAckCounter(id, c, 3); }) << int(M::NoAckCol) << false;
        QTest::newRow("glitches") << Setter([](M& m, quint8 c) { return m.setGlitchesCounter(id, c, 3); }) << int(M::GlitchesCol) << false;
        QTest::newRow("no refresh") << Setter([](M& m, quint8 c) { return m.setNoRefreshCounter(id, c, 3); }) << int(M::NoRefreshCol) << false;
        QTest::newRow("data changes") << Setter([](M& m, quint8 c) { return m.setDataChangesCounter(id, c, 3); }) << int(M::DataChangesCol) << true;
        QTest::newRow("data length") << Setter([](M& m, quint8 c) { return m.setDataLength(id, c, 3); }) << int(M::DataLengthCol) << true;
        QTest::newRow("jitter") << Setter([](M& m, quint8 c) { return m.setJitterMaxDurationStr(id, c, "3"); }) << int(M::MaxJitterCol) << false;
        QTest::newRow("duration") << Setter([](M& m, quint8 c) { return m.setTransactionDurationStr(id, c, "3"); }) << int(M::DurationCol) << true;
        QTest::newRow("no refresh date") << Setter([](M& m, quint8 c) { return m.setNoRefreshDateStr(id, c, "3"); }) << int(M::LastNoRefreshDateCol) << false;
        QTest::newRow("refresh state") << Setter([](M& m, quint8 c) { return m.setRefreshStateStr(id, c, "3"); }) << int(M::RefreshStateCol) << false;
        QTest::newRow("data value") << Setter([](M& m, quint8 c) { return m.setDataValueStr(id, c, "3"); }) << int(M::DataValueCol) << true;
        QTest::newRow("state") << Setter([](M& m, quint8 c) { return m.setIdState(id, c, 3); }) << int(M::StateCol) << true;
    }

    void settersOnResponseRows()
    {
        QFETCH(Setter, set);
        QFETCH(int, column);
        QFETCH(bool, requestOnly);
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(!set(model, 0x01)); // unknown control: no row, nothing made
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(set(model, 0x02));
        QCOMPARE(model.getRootCtrlIdx(0x10, 0x02).siblingAtColumn(column).data().toString(), requestOnly ? QString() : QString("3"));
        QVERIFY(set(model, 0x03));
        QCOMPARE(model.getRootIdIdx(0x10, 0x03).siblingAtColumn(column).data().toString(), QString("3"));
    }

    void transactionCounters_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<quint64>>("expected");
        using L = QList<quint64>;
        QTest::newRow("variable replied") << "R 0x10 3 10; R 0x10 2 10; N 0x10 3 0" << L{10, 0, 0, 0, 0};
        QTest::newRow("variable lost") << "R 0x10 3 10; R 0x10 2 8; N 0x10 3 2" << L{0, 2, 0, 0, 0};
        QTest::newRow("variable never replied") << "R 0x11 3 5; N 0x11 3 5" << L{0, 0, 5, 0, 0};
        QTest::newRow("message replied") << "R 0x20 5 4; R 0x20 0x14 4; R 0x20 0x40 4" << L{0, 0, 0, 4, 0};
        QTest::newRow("message not replied") << "R 0x20 5 4; R 0x20 0x40 3; N 0x20 5 1" << L{0, 0, 0, 0, 1};
        QTest::newRow("aperiodic ignored") << "R 0x30 0x29 4; R 0x30 0x28 4" << L{0, 0, 0, 0, 0};
        QTest::newRow("reply without request") << "R 0x12 2 6" << L{0, 0, 0, 0, 0};
        QTest::newRow("padding left out") << "R 0x10 3 9; R 0x10 2 9; R 0xa0 3 2; R 0xa0 2 2; P 0xa0"
                                          << L{9, 0, 0, 0, 0};
        QTest::newRow("padding 0 keeps 0x0000") << "R 0x0 3 9; R 0x0 2 9; P 0" << L{9, 0, 0, 0, 0};
    }

    void transactionCounters()
    {
        QFETCH(QString, script);
        QFETCH(QList<quint64>, expected);
        M model;
        push(model, script);
        QList<quint64> out{99, 99, 99, 99, 99};
        model.getTransactionCounters(&out[0], &out[1], &out[2], &out[3], &out[4]);
        QCOMPARE(out, expected);
        model.getTransactionCounters(nullptr, nullptr, nullptr, nullptr, &out[4]); // recomputed, not added
        QCOMPARE(out.last(), expected.last());
    }

    void changesReported_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("columns");
        QTest::newRow("same count twice") << "R 0x10 3 5; R 0x10 3 5" << QList<int>{1};
        QTest::newRow("state reports its icon") << "S 0x10 3 0x81; S 0x10 3 0x81; S 0x10 3 0x83"
                                                << QList<int>{14, 0, 14, 0};
        QTest::newRow("same text twice") << "D 0x10 3 ab; D 0x10 3 ab; D 0x10 3 ac" << QList<int>{13, 13};
        QTest::newRow("reply and its sum once") << "R 0x10 2 3; R 0x10 2 3" << QList<int>{0, 2, 2};
    }

    void changesReported()
    {
        QFETCH(QString, script);
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.getRootIdIdx(0x10, 0x03).isValid());
        QSignalSpy spy(&model, &M::dataChanged);
        push(model, script);
        QList<int> reported;
        for (const QList<QVariant>& args : spy) {
            const QModelIndex from = args.at(0).toModelIndex();
            QCOMPARE(args.at(1).toModelIndex(), from);
            reported << from.column();
        }
        QTEST(reported, "columns");
    }

    void identifierIcons_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("icon");
        const QString p = ":/images/images/icon_%1.png";
        QTest::newRow("no state") << "R 0x10 3 1" << 0 << QString();
        QTest::newRow("state not known") << "S 0x10 3 0x07" << 0 << QString();
        QTest::newRow("absent") << "S 0x10 3 0x86" << 0 << p.arg("id_absence_52x52");
        QTest::newRow("seen, warning, no reply") << "S 0x10 3 0x85" << 0 << p.arg("id_without_rp_52x52");
        QTest::newRow("replied") << "S 0x10 3 0x83" << 0 << p.arg("id_with_rp_52x52");
        QTest::newRow("replied with warning") << "S 0x10 3 0x87" << 0 << p.arg("id_with_rp_warning_52x52");
        QTest::newRow("refreshed") << "F 0x10 3 true" << 8 << p.arg("true_flag_green_48x48");
        QTest::newRow("not refreshed") << "F 0x10 3 false" << 8 << p.arg("false_flag_red_48x48");
        QTest::newRow("other refresh text") << "F 0x10 3 -" << 8 << QString();
    }

    void identifierIcons()
    {
        QFETCH(QString, script);
        QFETCH(int, column);
        QFETCH(QString, icon);
        M model;
        push(model, script);
        const QVariant shown = model.getRootIdIdx(0x10, 0x03).siblingAtColumn(column).data(Qt::DecorationRole);
        QCOMPARE(picture(shown), picture(QIcon(icon))); // no icon: two null pictures
    }

    void categorySignalsSurviveClear()
    {
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy created(&model, &M::newCategoryCreated);
        QSignalSpy firstChild(&model, &M::firstCategoryChildCreated);
        for (int round = 0; round < 2; ++round) {
            created.clear();
            firstChild.clear();
            push(model, "R 0x10 3 1; R 0x11 3 1; R 0x10 2 1; R 0x20 0x29 1; R 0x21 0x09 1; R 0x22 0x29 1");
            QCOMPARE(created.count(), 4);
            QStringList categories;
            for (const QList<QVariant>& args : firstChild)
                categories << args.at(0).toModelIndex().data().toString();
            QCOMPARE(categories, (QStringList{"IdDat - Variable Transfer", "IdRqx - Aperiodic List Transfer",
                                              "IdRq1 - Urgent", "IdRq2 - Normal"}));
            QCOMPARE(model.rowCount(model.getCategoryIdx(0x29)), 2);
            model.clear();
            QCOMPARE(model.rowCount(), 0);
        }
        push(model, "R 0x10 2 4");
        model.removeIdxChilds(model.getRootIdIdx(0x10, 0x03));
        push(model, "R 0x10 2 6"); // the removed response row is made again, not written through a stale cache
        QCOMPARE(model.rowCount(model.getRootIdIdx(0x10, 0x03)), 1);
        QCOMPARE(model.getRootCtrlIdx(0x10, 0x02).siblingAtColumn(M::ReplyCol).data().toULongLong(), 6ull);
    }

    void delegateMarksCategories()
    {
        struct Delegate : TransactionATDelegate
        {
            using TransactionATDelegate::initStyleOption;
        } delegate;
        M model;
        push(model, "R 0x10 3 1");
        const QModelIndex category = model.index(0, M::DataValueCol);
        const QModelIndex identifier = model.getRootIdIdx(0x10, 0x03).siblingAtColumn(M::DataValueCol);
        QStyleOptionViewItem categoryOption, identifierOption;
        delegate.initStyleOption(&categoryOption, category);
        delegate.initStyleOption(&identifierOption, identifier);
        // Categories bold on a ground of their own, identifiers plain.
        QCOMPARE((QList<bool> { categoryOption.font.bold(), categoryOption.backgroundBrush.style() != Qt::NoBrush,
                                identifierOption.font.bold(), identifierOption.backgroundBrush.style() != Qt::NoBrush }),
                 (QList<bool> { true, true, false, false }));
    }

    void variableTransaction()
    {
        Capture c;
        QAbstractItemModelTester tester(&c.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        c.variable(0x0101, QByteArray::fromHex("0a0b"));
        c.push(); // the tick that learns the average turn-around
        c.variable(0x0101, QByteArray::fromHex("0a0b"));
        c.variable(0x0101, QByteArray::fromHex("0a0c"));
        c.push();

        QCOMPARE(c.count(0x0101, RP_DAT, M::ReplyCol), 3ULL);
        QCOMPARE(c.state(0x0101), 0x83);
        // Two different values: the first and the change. The tree shows states as the
        // macrocycle sampling writes them, not on every tick. Duration: request FC (5 bytes
        // × 80) + average turn-around (200) + reply FC (7 bytes × 80) = 1160 ticks of 0.1 µs.
        QCOMPARE(c.cells(0x0101, ID_DAT, { M::RequestCol, M::DataChangesCol, M::DataValueCol, M::DataLengthCol,
                                           M::NoReplyCol, M::StateCol, M::DurationCol }),
                 (QStringList{ "3", "2", "40 02 0a 0c ", "4", "", "", " 116 us" }));
    }

    void unansweredRequest()
    {
        Capture c;
        c.variable(0x0102, QByteArray::fromHex("01"));
        c.request(ID_DAT, 0x0102); // never answered
        c.variable(0x0103, QByteArray::fromHex("02"));
        c.push();

        // One silence of 200 ticks; seen, warning kept, the reply mark cleared until it is answered again.
        QCOMPARE((QList<quint64> { c.count(0x0102, ID_DAT, M::NoReplyCol), c.context.silenceCount, c.context.silenceSum,
                                   quint64(c.state(0x0102)) }),
                 (QList<quint64> { 1, 1, 200, 0x85 }));
        c.variable(0x0102, QByteArray::fromHex("01"));
        c.push();
        QCOMPARE(c.state(0x0102), 0x87);
        QCOMPARE(c.count(0x0103, ID_DAT, M::NoReplyCol), 0ULL);
    }

    void missingAcknowledgement_data()
    {
        QTest::addColumn<QList<int>>("replies");
        QTest::addColumn<quint64>("noAck");
        QTest::newRow("ack then end") << QList<int> { RP_MSG_ACKe, RP_ACKpe, RP_FIN } << 0ULL;
        QTest::newRow("end right after the message") << QList<int> { RP_MSG_ACKe, RP_FIN } << 1ULL;
        QTest::newRow("two messages without ack") << QList<int> { RP_MSG_ACKo, RP_MSG_ACKe, RP_ACKpe, RP_FIN } << 1ULL;
        QTest::newRow("unacknowledged message") << QList<int> { RP_MSG_NOACK, RP_FIN } << 0ULL;
    }

    void missingAcknowledgement()
    {
        QFETCH(QList<int>, replies);
        Capture c;
        c.request(ID_MSG, 0x0100);
        for (int control : replies)
            c.reply(quint8(control), family(quint8(control)) == ReplyMessage ? QByteArray::fromHex("0001020304050607")
                                                                             : QByteArray());
        c.push();
        QTEST(c.count(0x0100, ID_MSG, M::NoAckCol), "noAck");
    }

    void refreshState()
    {
        Capture c;
        c.context.identifier(0x0120).refreshmentEnabled = true;
        // Status byte last: 0x05 refreshed and meaningful, then 0x04 (not refreshed), then back.
        c.variable(0x0120, QByteArray::fromHex("aa05"));
        c.push();
        QCOMPARE(c.cell(0x0120, ID_DAT, M::RefreshStateCol).toString(), QStringLiteral("true"));
        c.variable(0x0120, QByteArray::fromHex("aa04"));
        c.variable(0x0120, QByteArray::fromHex("aa04"));
        c.variable(0x0120, QByteArray::fromHex("aa05"));
        c.push();
        QCOMPARE(c.cells(0x0120, ID_DAT, { M::NoRefreshCol, M::RefreshStateCol }), (QStringList{ "1", "true" }));
        QVERIFY(c.cell(0x0120, ID_DAT, M::LastNoRefreshDateCol).toString().startsWith(QLatin1Char('[')));

        // Without the design's flag the status byte means nothing.
        c.variable(0x0121, QByteArray::fromHex("aa04"));
        c.push();
        QCOMPARE(c.cell(0x0121, ID_DAT, M::RefreshStateCol).toString(), QStringLiteral("false"));
    }

    void glitchWindows()
    {
        Capture c;
        c.request(ID_DAT, 0x0130);
        c.frame(QByteArray() + char(RP_DAT) + char(0x40) + char(1) + char(7), 0, 5);
        c.push(true); // first boundary: the burst is in the window that closes now
        QCOMPARE(c.count(0x0130, RP_DAT, M::GlitchesCol), 0ULL);
        c.variable(0x0130, QByteArray::fromHex("07"));
        c.push(true); // second boundary: the burst's window is shown
        QCOMPARE(c.count(0x0130, RP_DAT, M::GlitchesCol), 5ULL);
        c.push(true); // and replaced by the next, empty one
        QCOMPARE(c.count(0x0130, RP_DAT, M::GlitchesCol), 0ULL);
    }

    void presenceStates()
    {
        Capture c;
        QTableWidget table;
        StationPresenceTable presence(&table);
        presence.razStationPresenceTable();

        c.variable(0x1425, QByteArray::fromHex("800100")); // present
        c.request(ID_DAT, 0x1426);                          // asked, silent
        c.request(ID_DAT, 0x1427);
        c.variable(0x1428, QByteArray::fromHex("800100"));
        c.request(ID_DAT, 0x1428); // once absent
        c.variable(0x1428, QByteArray::fromHex("800100"));
        presence.refresh(c.context);

        QList<StationPresenceTable::Presence> states;
        for (quint16 id : { 0x1425, 0x1426, 0x1428 })
            states << StationPresenceTable::presence(c.context.findIdentifier(id)->presenceState);
        QCOMPARE(states, (QList<StationPresenceTable::Presence>{ StationPresenceTable::Present, StationPresenceTable::Absent,
                                                                  StationPresenceTable::PresentWithAbsences }));
        // Address 0x25: row 2, column 5.
        QCOMPARE(table.cellWidget(2, 5), presence.cell(0x25));
        QCOMPARE(presence.cell(0x25)->accessibleDescription(), StationPresenceTable::presenceText(StationPresenceTable::Present));
        QVERIFY(presence.cell(0x25)->toolTip().startsWith(QStringLiteral("Last status at ")));
        QCOMPARE(presence.cell(0x30)->accessibleDescription(),
                 StationPresenceTable::presenceText(StationPresenceTable::NeverAsked));

        // Unchanged cells keep their widget.
        QWidget* kept = presence.cell(0x25);
        presence.refresh(c.context);
        QCOMPARE(presence.cell(0x25), kept);
        // A new capture: every station back to never asked.
        presence.razStationPresenceTable();
        QCOMPARE(presence.cell(0x25)->accessibleDescription(),
                 StationPresenceTable::presenceText(StationPresenceTable::NeverAsked));
        QVERIFY(presence.cell(0x25)->toolTip().isEmpty());
    }

    void networkRatio_data()
    {
        QTest::addColumn<quint8>("speed");
        QTest::addColumn<quint64>("dt");
        QTest::addColumn<quint64>("padding");
        QTest::addColumn<quint64>("variables");
        QTest::addColumn<int>("traffic"); // -1: not shown
        QTest::addColumn<int>("variableRate");
        // 2,000,000 tenth-bits at 1 µs per bit are 200 ms of the second: 80 % useful.
        QTest::newRow("1 Mbit/s padding") << quint8(1) << 1000000ULL << 2000000ULL << 0ULL << 80 << 0;
        QTest::newRow("5 Mbit/s variables") << quint8(3) << 1000ULL << 0ULL << 25000ULL << 100 << 50;
        QTest::newRow("dates stand still") << quint8(1) << 0ULL << 100ULL << 100ULL << -1 << 0;
        QTest::newRow("unknown speed") << quint8(255) << 1000ULL << 500ULL << 500ULL << 100 << 0;
    }

    void networkRatio()
    {
        QFETCH(quint8, speed);
        QFETCH(quint64, dt);
        QFETCH(quint64, padding);
        QFETCH(quint64, variables);
        QFETCH(int, traffic);
        NetworkRatio ratio;
        NetworkRatio::Accumulators start { 1000, 0, 1000, 0, 0 };
        QVERIFY(ratio.update(5000000, start, speed, nullptr));
        NetworkRatio::Accumulators next = start;
        next[NetworkRatio::Padding] += padding;
        next[NetworkRatio::Variables] += variables;
        NetworkRatio::Rates rates;
        rates.traffic = -1;
        QCOMPARE(ratio.update(5000000 + dt, next, speed, &rates), traffic >= 0);
        QCOMPARE(rates.traffic, traffic);
        if (traffic < 0)
            return;
        QTEST(rates.variables, "variableRate");

        // An accumulator that went back (a new capture) shows full load and no rate.
        NetworkRatio::Rates after;
        QVERIFY(ratio.update(5000000 + dt + 1000, start, speed, &after));
        QCOMPARE((QList<int> { after.traffic, after.variables }), (QList<int> { 100, 0 }));
    }

    void turnAroundOverRpDat()
    {
        // Three variable replies of 200 ticks each, two of them RP_DAT: 600 / 2 ticks of 0.1 µs.
        Capture c;
        c.variable(0x0140, QByteArray::fromHex("01"));
        c.variable(0x0141, QByteArray::fromHex("02"));
        c.request(ID_DAT, 0x0142);
        c.reply(RP_DAT_MSG, QByteArray::fromHex("4001") + QByteArray(1, char(3)));
        c.push();
        QCOMPARE(c.context.info.turnAroundTime, QStringLiteral("30.00 us"));
    }

    void texts()
    {
        QCOMPARE((QStringList { AnalysisTexts::maxJitter(50, 1), AnalysisTexts::maxJitter(0, 1), AnalysisTexts::maxJitter(50, 7),
                                AnalysisTexts::duration(90061002) }),
                 (QStringList { "1000 ns", "-", "0 ns", "25:01:01.002" }));
    }

    // The scan table that made the traffic comes back as the macrocycle.
    void scanTables_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("aperiodicEvery");
        QTest::addColumn<bool>("fixedPadding");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<quint64>("microcycleUs"); // 0: cycles of unequal spacing
        QTest::addColumn<QString>("changedTable");
        QTest::addColumn<QString>("expectedAfterChange");

        // Presence polling closes every cycle when presence identifiers are the padding.
        QTest::newRow("microcycles of different lengths")
            << "0201:1 0202:2 0203:4" << 0 << false << "0201 0202 0203|0201|0201 0202|0201" << quint64(20000) << ""
            << "";
        // A fixed padding identifier: the presence variables after it open each microcycle, station by station.
        QTest::newRow("padding identifier")
            << "0201:1 0202:2 9080:1" << 0 << true
            << "1401 0201|1402 0201 0202|1403 0201|1404 0201 0202|1405 0201|1406 0201 0202|1407 0201|1408 0201 0202"
            << quint64(0) << "" << "";
        // The aperiodic window after the presence poll opens the next microcycle, so
        // microcycles start at two places of the cycle and their lengths alternate.
        QTest::newRow("aperiodic traffic") << "0201:1 0202:1" << 2 << false
                                           << "0201 0202|0201 0202 0201 0500 0201 0202" << quint64(0) << "" << "";
        QTest::newRow("scan table changed") << "0201:1 0202:1 0203:1" << 0 << false << "0201 0202 0203"
                                            << quint64(20000) << "0201:1 0204:2" << "0201 0204|0201";
    }

    void scanTables()
    {
        QFETCH(QString, table);
        QFETCH(int, aperiodicEvery);
        QFETCH(bool, fixedPadding);
        QFETCH(QString, expected);
        QFETCH(quint64, microcycleUs);
        QFETCH(QString, changedTable);
        QFETCH(QString, expectedAfterChange);

        Capture c(0x9080, fixedPadding, true);
        c.bus.setVariables(scanTable(table));
        c.bus.setAperiodicEvery(aperiodicEvery);
        c.runUntil(6.5);
        QVERIFY(c.macro.evaluations() >= 2);
        QCOMPARE(found(c.macro.macrocycle(), expected), expected);
        if (microcycleUs != 0)
            QCOMPARE(c.macro.microcycleLength(), microcycleUs);
        QVERIFY(c.decoder.counters().paddingFrames > 0);
        QCOMPARE(c.outcomes, QString(int(c.macro.evaluations()), 'D'));
        // Sampled at the evaluation: seen and answered during the period.
        QCOMPARE(c.cell(0x0201, ID_DAT, M::StateCol).toUInt(), 0x83u);

        if (changedTable.isEmpty())
            return;
        c.bus.setVariables(scanTable(changedTable));
        c.runUntil(13.0);
        QCOMPARE(found(c.macro.macrocycle(), expectedAfterChange), expectedAfterChange);
    }

    void errorsHoldBackTheDrawing()
    {
        Capture c(0, false, true);
        c.bus.setVariables(scanTable("0201:1 0202:2"));
        c.bus.setAperiodicEvery(0);
        // One FCS error between the second and the third evaluation.
        c.runUntil(9.0, kStartUs + 5000000);
        QCOMPARE(c.outcomes, QStringLiteral("DDED"));
        QVERIFY(c.context.macrocycleConsistent);
        QCOMPARE(found(c.macro.macrocycle(), "0201 0202|0201"), QString("0201 0202|0201"));
    }

    void periodSearch_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("period");
        QTest::newRow("eight microcycles of two") << "a|b|a|b|a|b|a|b" << 2;
        QTest::newRow("five: two is not below 5 / 2") << "a|b|a|b|a" << 0;
        QTest::newRow("last turn cut short") << "a|b|c|a|b|c|a|b|c|a" << 3;
        QTest::newRow("one repeated") << "a|a|a|a" << 1;
        QTest::newRow("a first match that does not hold") << "a|b|a|c|a|b|a|c|a|b|a|c" << 4;
        QTest::newRow("no repetition") << "a|b|c|d|e|f" << 0;
        QTest::newRow("empty") << "" << 0;
    }

    void periodSearch()
    {
        QFETCH(QString, list);
        Macrocycle cycles;
        for (const QString& name : list.split('|', Qt::SkipEmptyParts))
            cycles.push_back({ quint16(name.at(0).unicode()) });
        QTEST(int(MacrocycleAnalysis::findPeriod(cycles)), "period");
    }

    void paddingSearch_data()
    {
        QTest::addColumn<bool>("autoDetect");
        QTest::addColumn<int>("paddingFromCheck"); // padding frames counted from this check on, 0 never
        QTest::addColumn<QString>("steps");        // per check: outcome letter and the identifier

        QTest::newRow("search gives up") << true << 0 << "M9080 S7530 S9080 G7530 N7530";
        QTest::newRow("search finds the second") << true << 3 << "M9080 S7530 F7530! N7530";
        QTest::newRow("configured padding there") << true << 1 << "F9080 N9080";
        QTest::newRow("no automatic search") << false << 0 << "M9080 N9080";
    }

    void paddingSearch()
    {
        QFETCH(bool, autoDetect);
        QFETCH(int, paddingFromCheck);
        QFETCH(QString, steps);
        PaddingSearch search;
        search.reset(0x9080);
        bool pending = true;
        QStringList seen;
        for (int check = 1; check <= steps.count(' ') + 1; ++check) {
            const quint64 padding = paddingFromCheck != 0 && check >= paddingFromCheck ? 1 : 0; // a single padding frame counts
            const PaddingSearch::Outcome outcome = search.check(&pending, padding, true, autoDetect);
            seen << QString("NFSGM").at(outcome) + QString::asprintf("%04x", search.identifier())
                    + (search.announce() ? "!" : "");
        }
        QCOMPARE(seen.join(' '), steps);
        QVERIFY(!pending);
    }

    // Each fault of the simulated bus moves the figure a real one moves, and no other.
    void oneFigurePerFault_data()
    {
        QTest::addColumn<FipTrafficGenerator::Faults>("faults");
        QTest::addColumn<int>("moves");
        QTest::addColumn<int>("mayMove"); // bit mask of figures the fault also touches
        using F = FipTrafficGenerator::Faults;
        F none, missing, fcs, glitch, late, dropout;
        missing.missingReply = 0.05;
        fcs.fcs = 0.01;
        glitch.glitch = 0.01;
        late.lateReply = 0.3;
        dropout.dropout = 0.05;
        dropout.dropoutMs = 100;
        QTest::newRow("none") << none << -1 << 0;
        // A missing reply may be a station's presence reply too.
        QTest::newRow("missing reply") << missing << int(VariableNoReplies) << (1 << PresenceNoReplies);
        // A reply the decoder cannot read is no reply to the analysis.
        QTest::newRow("fcs error") << fcs << int(FcsErrors) << (1 << VariableNoReplies | 1 << PresenceNoReplies);
        QTest::newRow("glitch") << glitch << int(Glitches) << 0;
        QTest::newRow("late reply") << late << int(LateTurnaround) << 0;
        QTest::newRow("station drops off") << dropout << int(PresenceNoReplies) << 0;
    }

    void oneFigurePerFault()
    {
        QFETCH(FipTrafficGenerator::Faults, faults);
        QFETCH(int, moves);
        QFETCH(int, mayMove);
        Capture c(FipTrafficGenerator::kDefaultPaddingId);
        c.bus.setVariables({ { 0x0201, 8, 1 }, { 0x0202, 4, 1 } });
        c.bus.setCycleUs(5000);
        c.bus.setAperiodicEvery(0);
        c.bus.setPaddingId(FipTrafficGenerator::kDefaultPaddingId);
        c.bus.setFaults(faults);
        c.runUntil(2.0);
        QVERIFY(c.decoder.counters().paddingFrames > 0);

        quint64 figures[FigureCount] = { c.decoder.counters().fcsErrors, c.decoder.counters().preGlitches, 0, 0, 0 };
        for (const TransactionStats& pair : c.context.pairs()) {
            if (pair.identifier != FipTrafficGenerator::kDefaultPaddingId) // nobody ever answers padding
                figures[(pair.identifier & 0x1400) == 0x1400 ? PresenceNoReplies : VariableNoReplies] += pair.noReply;
        }
        // Replies later than the turnaround and its jitter: 28 bits at 1 Mbit/s, ten ticks a bit.
        const quint64 replies = c.decoder.counters().perControl[RP_DAT];
        const quint64 average = replies ? c.context.turnAroundSum / replies : 0;
        figures[LateTurnaround] = average > 280 + 20 ? average - 280 : 0;
        for (int f = 0; f < FigureCount; ++f) {
            if (f == moves)
                QVERIFY2(figures[f] > 0, qPrintable(QString::number(f)));
            else if (!(mayMove & (1 << f)))
                QVERIFY2(figures[f] == 0, qPrintable(QString("%1: %2").arg(f).arg(figures[f])));
        }
    }

    void frameData_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("refreshment");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("value");
        // RP_DAT: control, PDU, length, data, status byte.
        const QByteArray reply = QByteArray::fromHex("024003aabb05");
        QTest::newRow("first data byte") << reply << false << 0 << "170";
        QTest::newRow("status byte is data without refreshment") << reply << false << 16 << "5";
        QTest::newRow("status byte left out with refreshment") << reply << true << 16 << "0";
        QTest::newRow("last data byte with refreshment") << reply << true << 8 << "187";
        QTest::newRow("rp_dat_msg") << QByteArray::fromHex("064002ccdd") << false << 8 << "221";
        QTest::newRow("no data") << QByteArray::fromHex("024000") << false << 0 << "0";
    }

    void frameData()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, refreshment);
        QFETCH(int, start);
        MnemoAnalysis analysis;
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt8, start, start + 7), "m", 0x0104, false, refreshment);
        // Another identifier's definition stays untouched.
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt8, 0, 7), "other", 0x0105, false);
        feed(analysis, 0x0104, frame, 1000);
        QTEST(analysis.definition(0).label.value, "value");
        QVERIFY(!analysis.definition(1).hasValue);
    }

    void histories()
    {
        MnemoAnalysis analysis;
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt8, 0, 7), "a", 0x0100, false);
        analysis.addDefinition(QModelIndex(), field(MnemoField::Bool, 8, 8), "b", 0x0100, false);
        analysis.addDefinition(QModelIndex(), field(MnemoField::Int16, 0, 15, true), "m",
                               MnemoAnalysis::messageKey(0, 0x0105, 0, 0x0102), true);
        const auto rpDat = [](int a, int b) { return QByteArray::fromHex("024002") + char(a) + char(b); };
        // RP_MSG: control, destination (segment, id), source (segment, id), data.
        const QByteArray message = QByteArray::fromHex("04000102000105ff38");
        feed(analysis, 0x0100, rpDat(1, 0), 1000);        // a=1 b=0
        feed(analysis, 0x0100, rpDat(1, 0), 2000);        // nothing changed: no date
        feed(analysis, 0x0100, rpDat(2, 1), 3000);        // a=2 b=1
        QVERIFY(analysis.changedLabels(0x0100));
        QCOMPARE(analysis.changedLabels(0x0100)->size(), 2);
        feed(analysis, 0x0300, message, 4500);            // the message: m=-200
        QVERIFY(!analysis.changedLabels(0x0100));
        feed(analysis, 0x0100, rpDat(2, 0), 5600);        // b=0
        QCOMPARE(analysis.changedLabels(0x0100)->size(), 1);
        QCOMPARE(analysis.changedLabels(0x0100)->first().name, QString("b"));

        QCOMPARE(analysis.dates(), (std::vector<qint64> { 1, 3, 5, 6 }));
        QCOMPARE(analysis.definition(2).label.value, QString("-200"));
        // Per definition: its changes, then its value at each date.
        QStringList values;
        for (int d = 0; d < 3; ++d) {
            values << QString::number(analysis.definition(d).changes);
            for (int i = 0; i < int(analysis.dates().size()); ++i)
                values << analysis.definition(d).history.at(i).toString();
        }
        QCOMPARE(values.join(' '), QString("2 1 2 2 2 3 false true true false 1   -200 -200"));
    }

    // A long history is drawn as an even subset that keeps both ends.
    void longHistoryDrawnEvenly()
    {
        const std::vector<int> drawn = MnemoGraphOption::drawnDates(1000000, 2000);
        QCOMPARE((QList<int> { int(drawn.size()), drawn.front(), drawn.back() }), (QList<int> { 2000, 0, 999999 }));
        QVERIFY(std::is_sorted(drawn.begin(), drawn.end()));
    }

    void exportsReadBack_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<quint64>>("values"); // the raw value at each change date
        QTest::addColumn<QStringList>("expected");
        const QList<quint64> steps { 1, 1, 0xff, 2, 0x80 };
        for (int format : { 1, 2, 3 }) {
            const QByteArray name = format == 1 ? "csv " : format == 2 ? "json " : "tsv ";
            QTest::newRow(name + "uint8") << format << int(MnemoField::UInt8) << steps
                                          << QStringList { "1", "255", "2", "128" };
            QTest::newRow(name + "bool") << format << int(MnemoField::Bool) << QList<quint64> { 0, 0, 1, 0 }
                                         << (format == 2 ? QStringList { "false", "true", "false" }
                                                         : QStringList { "0", "1", "0" });
            // Exact past 2^53, where a double would round.
            QTest::newRow(name + "uint64") << format << int(MnemoField::UInt64) << QList<quint64> { 9007199254740993ULL, ~0ULL }
                                           << QStringList { "9007199254740993", "18446744073709551615" };
            QTest::newRow(name + "int64") << format << int(MnemoField::Int64)
                                          << QList<quint64> { 1ULL << 63, quint64(-9007199254740993LL) }
                                          << QStringList { "-9223372036854775808", "-9007199254740993" };
        }
    }

    void exportsReadBack()
    {
        QFETCH(int, format);
        QFETCH(int, type);
        QFETCH(QList<quint64>, values);
        // No value at the first date.
        MnemoHistory h = history(MnemoField::Type(type), 63, { values.begin(), values.end() }, 1);
        std::vector<qint64> dates { 1000 };
        for (int i = 0; i < values.size(); ++i)
            dates.push_back(1000 + 250 * (i + 1));
        QTemporaryDir dir;
        MnemoExport exporter;
        QVERIFY(exporter.generateMnemosFiles(dir.path(), format, { MnemoSeries { "Speed/rpm:\"x\"?*", QString(), &h } },
                                             dates));
        const QString file = "Speed_rpm__x___" + MnemoExport::extension(MnemoExport::Format(format));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { file });
        QFile written(dir.filePath(file));
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray text = written.readAll();

        QStringList times, read;
        if (format == MnemoExport::Json) {
            QJsonParseError error;
            for (const QJsonValue& entry : QJsonDocument::fromJson(text, &error).array())
                times << entry.toObject().value("time").toString();
            QCOMPARE(error.error, QJsonParseError::NoError);
            // The values as written: booleans as words, numbers unquoted.
            for (const QByteArray& line : text.split('\n')) {
                if (line.trimmed().startsWith("\"value\": "))
                    read << line.trimmed().mid(9);
            }
        } else {
            for (const QString& line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
                const QStringList fields = line.split(format == MnemoExport::Csv ? ',' : '\t');
                QCOMPARE(fields.size(), 2);
                times << fields[0];
                read << fields[1];
            }
        }
        QTEST(read, "expected");
        // Each entry keeps the date of its change; repeats are left out.
        QCOMPARE(times.first(), MnemoAnalysis::dateText(1250));
    }

    void overwrite_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QStringList>("replaced"); // of a, b, c: which files hold the new text
        QTest::newRow("yes, no, yes") << QList<int> { QMessageBox::Yes, QMessageBox::No, QMessageBox::Yes } << true << 3
                                      << QStringList { "a", "c" };
        QTest::newRow("yes to all") << QList<int> { QMessageBox::YesToAll } << true << 1 << QStringList { "a", "b", "c" };
        QTest::newRow("no to all") << QList<int> { QMessageBox::NoToAll } << true << 1 << QStringList {};
        QTest::newRow("abort at the second") << QList<int> { QMessageBox::Yes, QMessageBox::Abort } << false << 2
                                             << QStringList { "a" };
    }

    void overwrite()
    {
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, replaced);
        QTemporaryDir dir;
        MnemoHistory h = history(MnemoField::UInt16, 15, { 4242 });
        QList<MnemoSeries> series;
        for (const char* name : { "a", "b", "c" }) {
            QFile old(dir.filePath(QString(name) + ".csv"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old\n");
            series << MnemoSeries { name, QString(), &h };
        }
        MnemoExport exporter;
        QStringList questions;
        exporter.setOverwriteQuestion([&](const QString& path) {
            questions << path;
            return answers.isEmpty() ? QMessageBox::Abort : QMessageBox::StandardButton(answers.takeFirst());
        });
        QTEST(exporter.generateMnemosFiles(dir.path(), MnemoExport::Csv, series, { 5000 }), "completed");
        QTEST(questions.size(), "asked");
        QCOMPARE(questions.first(), dir.filePath("a.csv"));
        for (const char* name : { "a", "b", "c" }) {
            QFile file(dir.filePath(QString(name) + ".csv"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll().contains("4242"), replaced.contains(name));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3); // no temporary file left behind
    }

    void unwritableFolder()
    {
        MnemoHistory h = history(MnemoField::UInt8, 7, { 1 });
        QTemporaryDir dir;
        // A folder no one may create files in, even root, and one that is not there.
        for (const QString& folder : { QString("/proc/self"), dir.filePath("missing") }) {
            MnemoExport exporter;
            QVERIFY2(!exporter.generateMnemosFiles(folder, MnemoExport::Json, { MnemoSeries { "m", QString(), &h } },
                                                   { 1 }),
                     qPrintable(folder));
            QVERIFY(!exporter.errorString().isEmpty());
        }
    }

    void liveCapture()
    {
        QTemporaryDir dir;
        LiveTrace trace(dir.filePath("live.vtrc"));
        MainATModel table;
        table.setFilePath(trace.path);
        FrameFilterATModel model(&table);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(apply(model, "ctrl == RP_DAT or error"));
        QCOMPARE(model.rowCount(), 0);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        bool errorsOnly = false;
        // Rows as they arrive; filters cleared or refused are the filter bar's case.
        for (int batch = 0; batch < 8; ++batch) {
            const QVector<qint64> offsets = trace.feed(500);
            table.addRows(offsets.size(), offsets);
            QCOMPARE(shown(model), trace.numbers([&](const QList<QByteArray>& f) {
                         return (!errorsOnly && f.value(8) == "RP_DAT") || f.value(8) == "ERROR";
                     }));
            if (batch == 3) {
                // Changed mid-capture: the rows so far go to the worker, the next ones come as they arrive.
                QVERIFY(apply(model, "error"));
                errorsOnly = true;
            }
        }
        QVERIFY(inserted.count() >= 7);
        QVERIFY(!model.isMatching());
        QCOMPARE(model.matchingRows().size(), model.rowCount());

        // A source row maps to its shown row, or to the next shown one.
        const qint64 source = model.sourceRowOf(3);
        QCOMPARE(model.rowOfSourceRow(source), 3);
        QCOMPARE(model.rowOfSourceRow(source + 1), -1);
        QCOMPARE(model.rowOfSourceRow(source + 1, true), 4);

        // Anchored on row 100: the rows before it are now at negative times.
        QVERIFY(apply(model, "time >= 0"));
        QCOMPARE(model.rowCount(), table.rowCount());
        QSignalSpy applied(&model, &FrameFilterATModel::filterApplied);
        QVERIFY(table.setData(table.index(100, 0), true, Qt::CheckStateRole));
        QVERIFY(applied.wait(10000));
        QCOMPARE(model.rowCount(), table.rowCount() - 100);
        QCOMPARE(model.sourceRowOf(0), qint64(100));
    }

    void cells_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("speed"); // 4: none given
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("cells"); // "row column text"

        const QByteArray two = frame(1000) + frame(1500);
        QTest::newRow("anchor on the first row") << two << 1 << 2
            << QStringList { "0 0 true", "0 3 0", "0 2   00:00:00.000 000 s", "1 0 false", "1 3 500",
                             "1 2 + 00:00:00.000 500 s", "1 21 f21" };
        QTest::newRow("before the anchor") << frame(5000) + frame(2000) << 0 << 2
                                           << QStringList { "1 3 -3000", "1 2 - 00:00:00.003 000 s" };
        QTest::newRow("days") << frame(7) + frame(7 + 90061002003ULL) << 3 << 2
                              << QStringList { "1 2 + [1 days] 01:01:01.002 003 s" };
        QTest::newRow("unknown speed shows the file") << two << 4 << 2 << QStringList { "1 2 file-rel" };
        // A short line is never the anchor, and the rows after it count from the anchor.
        QTest::newRow("short line") << frame(1000) + "0\t9\tx\ty\n" + frame(1200) << 1 << 3
                                    << QStringList { "1 1 9", "1 13 ", "1 3 ", "1 0 false", "2 3 200" };
        QByteArray longLine = frame(1000);
        longLine.chop(1);
        QTest::newRow("long line") << longLine + "\textra1\textra2\n" + frame(1000) << 1 << 2
                                   << QStringList { "0 21 f21", "1 21 f21" };
        QTest::newRow("UTF-8 text") << frame(1, "Temp\xc3\xa9rature") << 1 << 1
                                    << QStringList { QString::fromUtf8("0 8 Temp\xc3\xa9rature") };
        QTest::newRow("not UTF-8") << frame(1, "\xe9\xff") << 1 << 1
                                   << QStringList { "0 8 " + QString(2, QChar::ReplacementCharacter) };
        QByteArray crlf = frame(1);
        crlf.insert(crlf.size() - 1, '\r');
        QTest::newRow("CR LF") << crlf + crlf << 1 << 2 << QStringList { "1 21 f21" };
        QTest::newRow("last line without end") << two.chopped(1) << 1 << 2 << QStringList { "1 21 f21" };
        QTest::newRow("blank line") << frame(10) + "\n" + frame(20) << 1 << 3 << QStringList { "1 1 " };
    }

    void cells()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, speed);
        QFETCH(QStringList, cells);
        QTemporaryDir dir;
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setFilePath(writeFile(dir, file));
        if (speed != 4)
            model.setOstrakSpeed(quint8(speed));
        QTEST(model.rowCount(), "rows");
        for (const QString& c : cells)
            QCOMPARE(c.section(' ', 0, 1) + ' ' + cell(model, c.section(' ', 0, 0).toInt(), c.section(' ', 1, 1).toInt()), c);
    }

    void emptyOrMissing_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty") << true;
        QTest::newRow("missing") << false;
    }

    void emptyOrMissing()
    {
        QFETCH(bool, exists);
        QTemporaryDir dir;
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setFilePath(writeFile(dir, frame(1) + frame(2)));
        model.setOstrakSpeed(1);
        QCOMPARE(model.rowCount(), 2);
        QSignalSpy progress(&model, &MainATModel::generateProgress);
        model.setFilePath(exists ? writeFile(dir, QByteArray()) : dir.filePath(QStringLiteral("none.vtrc")));
        // No rows, and the speed and anchor of the trace before forgotten.
        QCOMPARE((QList<quint64> { quint64(model.rowCount()), model.ostrakSpeed(), model.absoluteCounterAnchor() }),
                 (QList<quint64> { 0, 4, 0 }));
        QCOMPARE(progress.isEmpty() ? -1 : progress.last().at(0).toInt(), exists ? 100 : -1);
        // An empty table still names its columns: the widths the window fits are measured on them.
        FrameFilterATModel filtered(&model);
        for (int column = 0; column < model.columnCount(); ++column)
            QCOMPARE(filtered.headerData(column, Qt::Horizontal).toString(), model.headerData(column, Qt::Horizontal).toString());
    }

    void anchorEditing_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("anchorRow");
        QTest::newRow("check row 2") << "check" << 2 << 2;
        QTest::newRow("uncheck the anchor") << "uncheck" << 0 << 0;
        QTest::newRow("space on row 1") << "space" << 1 << 1;
        QTest::newRow("space on the anchor") << "space" << 0 << 0;
        QTest::newRow("click in the box") << "click" << 2 << 2;
        QTest::newRow("click beside the box") << "click-off" << 2 << 0;
    }

    void anchorEditing()
    {
        QFETCH(QString, action);
        QFETCH(int, row);
        QFETCH(int, anchorRow);
        const quint64 ticks[] = { 100, 250, 400 };
        QTemporaryDir dir;
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setFilePath(writeFile(dir, frame(ticks[0]) + frame(ticks[1]) + frame(ticks[2])));
        ControlTable controls;
        MainATDelegate delegate(&controls);
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 60, 20);
        const QModelIndex box = model.index(row, 0);
        if (action == "check" || action == "uncheck") {
            model.setData(box, action == "check");
        } else if (action == "space") {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
            QVERIFY(delegate.editorEvent(&key, &model, option, box));
        } else {
            const QPoint at = action == "click" ? option.rect.center() : QPoint(1, 1);
            QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCOMPARE(delegate.editorEvent(&release, &model, option, box), action == "click");
        }
        QCOMPARE(model.absoluteCounterAnchor(), ticks[anchorRow]);
        for (int r = 0; r < 3; ++r) {
            QCOMPARE(cell(model, r, 3), QString::number(qint64(ticks[r]) - qint64(ticks[anchorRow])));
            QCOMPARE(cell(model, r, 0), r == anchorRow ? "true" : "false");
        }
    }

    void shrinkingFile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("truncated mid-line") << "truncate";
        QTest::newRow("emptied") << "empty";
        QTest::newRow("removed") << "remove";
    }

    void shrinkingFile()
    {
        QFETCH(QString, change);
        QTemporaryDir dir;
        MainATModel model;
        const QByteArray first = frame(1);
        const QString path = writeFile(dir, first + frame(2) + frame(3) + frame(4));
        model.setFilePath(path);
        QCOMPARE(model.rowCount(), 4);
        if (change == "remove")
            QVERIFY(QFile::remove(path));
        else
            QVERIFY(QFile::resize(path, change == "empty" ? 0 : first.size() + 5));
        // Every cell of every role, read through the shrunk file.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        if (change != "remove") {
            QCOMPARE(cell(model, 2, 1), QString());
            QCOMPARE(cell(model, 3, 21), QString());
            QCOMPARE(cell(model, 1, 1), change == "truncate" ? "f1" : "");
        }
    }

    // Past its row limit the table stops growing, whichever way rows come, and counts the rest.
    void rowsBeyondLimitCounted()
    {
        QTemporaryDir dir;
        QByteArray bytes;
        for (int n = 0; n < 8; ++n)
            bytes += frame(quint64(n));
        const QString path = writeFile(dir, bytes);
        MainATModel model;
        model.setMaxRows(5);
        model.setFilePath(path);
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.rowsNotShown(), quint64(3));
        QCOMPARE(cell(model, 4, 5), "4");

        model.setFilePath(path); // a fresh start
        QCOMPARE(model.rowsNotShown(), quint64(3));
        model.addRows(5, { 0, 1, 2, 3, 4 });
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.rowsNotShown(), quint64(3 + 5));
        QVERIFY(model.indexBytes() <= qint64(sizeof(qint64)) * 5);
    }

    void rowColours_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<int>("column");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("ID_DAT") << QByteArray("ID_DAT") << 5 << QColor(150, 150, 255, 100);
        QTest::newRow("RP_FIN on the anchor cell") << QByteArray("RP_FIN") << 0 << QColor(100, 35, 100, 100);
        QTest::newRow("unknown name") << QByteArray("ERROR") << 8 << QColor(239, 58, 63, 100);
        QTest::newRow("name prefix") << QByteArray("RP_ACK") << 8 << QColor(239, 58, 63, 100);
        QTest::newRow("no name") << QByteArray() << 13 << QColor(239, 58, 63, 100);
    }

    void rowColours()
    {
        QFETCH(QByteArray, control);
        QFETCH(int, column);
        QFETCH(QColor, expected);
        QTemporaryDir dir;
        MainATModel model;
        model.setFilePath(writeFile(dir, frame(5, control)));
        ControlTable controls;
        QCOMPARE(controls.getControlCode(control.constData(), control.size()), controls.getControlCode(QString(control)));
        MainATDelegate delegate(&controls);
        QImage image(80, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.state = QStyle::State_Enabled | QStyle::State_HasFocus;
        QPainter painter(&image);
        delegate.paint(&painter, option, model.index(0, column));
        painter.end();
        const QColor got = image.pixelColor(1, 1);
        QVERIFY2(qAbs(got.red() - expected.red()) <= 3 && qAbs(got.green() - expected.green()) <= 3
                     && qAbs(got.blue() - expected.blue()) <= 3 && got.alpha() == expected.alpha(),
                 qPrintable(got.name(QColor::HexArgb)));
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("recoloured");
        QTest::newRow("rpAckColor") << "rpAckColor" << QStringList { "RP_ACKpe", "RP_ACKpo", "RP_ACKme", "RP_ACKmo" };
        QTest::newRow("rpMsgAckColor") << "rpMsgAckColor" << QStringList { "RP_MSG_ACKe", "RP_MSG_ACKo" };
        QTest::newRow("idRq2Color") << "idRq2Color" << QStringList { "ID_RQ2" };
        QTest::newRow("unknown button") << "okButton" << QStringList();
    }

    void buttons()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, recoloured);
        ControlTable controls;
        const QColor chosen(1, 2, 3);
        for (quint8 code : ControlTable::codesOfButton(button))
            controls.setControlColor(code, chosen);
        // Every control belongs to exactly one button, and only the button's controls change.
        int buttonsOfAll = 0;
        for (const QString& b : ControlTable::buttonNames())
            buttonsOfAll += ControlTable::codesOfButton(b).size();
        QCOMPARE(buttonsOfAll, 20);
        for (const QString& b : ControlTable::buttonNames()) {
            for (quint8 code : ControlTable::codesOfButton(b)) {
                const QString name = ControlTable::settingsKeySuffix(code);
                QVERIFY(!name.isEmpty());
                const bool mine = recoloured.contains(name, Qt::CaseInsensitive);
                QCOMPARE(controls.getControlColor(code), mine ? chosen : ControlTable::defaultColor(code));
            }
        }
    }

    void errors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("position");

        QTest::newRow("unknown field") << "ident == 1" << "Unknown field \"ident\"" << 0;
        QTest::newRow("field names are lower case") << "ID == 1" << "Unknown field \"ID\"" << 0;
        QTest::newRow("single =") << "id = 1" << "Use \"==\" to compare" << 3;
        QTest::newRow("no operator") << "id 0x10" << "Expected an operator after \"id\", found \"0x10\"" << 3;
        QTest::newRow("no value") << "id ==" << "The expression ends where a value was expected after \"==\"" << 5;
        QTest::newRow("value is an operator") << "id == <" << "Expected a value after \"id\", found \"<\"" << 6;
        QTest::newRow("not a number") << "len > ten" << "\"ten\" is not a number" << 6;
        QTest::newRow("bad hex") << "id == 0xzz" << "\"0xzz\" is not a number" << 6;
        QTest::newRow("no field") << "and id" << "Expected a field name, found \"and\"" << 0;
        QTest::newRow("ends after and") << "error and" << "The expression ends where a field was expected" << 9;
        QTest::newRow("trailing") << "error error" << "Expected an operator after \"error\", found \"error\"" << 6;
        QTest::newRow("stray paren") << "error )" << "Unexpected \")\"" << 6;
        QTest::newRow("open paren") << "(error or id" << "Missing \")\" for the \"(\" at 1" << 12;
        QTest::newRow("operator on condition") << "error == 1" << "\"==\" does not apply to error" << 6;
        QTest::newRow("contains on number") << "id contains 1" << "\"contains\" does not apply to id" << 3;
        QTest::newRow("order on control") << "ctrl < RP_DAT" << "\"<\" does not apply to ctrl" << 5;
        QTest::newRow("unknown control") << "ctrl == RP_XYZ" << "\"RP_XYZ\" is not a control name or code" << 8;
        QTest::newRow("unknown control code") << "ctrl == 0x07" << "\"0x07\" is not a control name or code" << 8;
        QTest::newRow("empty control") << "ctrl == \"\"" << "\"\" is not a control name or code" << 8;
        QTest::newRow("empty control in set") << "ctrl in {RP_DAT \"\"}" << "\"\" is not a control name or code" << 16;
        QTest::newRow("odd digits") << "data contains 40 2" << "\"2\" has an odd number of hexadecimal digits" << 17;
        QTest::newRow("odd digits joined") << "data == 40:020" << "\"020\" has an odd number of hexadecimal digits" << 11;
        QTest::newRow("not bytes") << "data contains xyz" << "\"xyz\" is not a byte in hexadecimal" << 14;
        QTest::newRow("bad regex") << "mnemonic matches \"(ab\"" << "Invalid regular expression: missing closing parenthesis" << 21;
        QTest::newRow("open quote") << "pdu == \"SM" << "Missing closing quote" << 7;
        QTest::newRow("set without brace") << "id in 1" << "Expected \"{\" after \"in\", found \"1\"" << 6;
        QTest::newRow("open set") << "id in {1 2" << "Missing \"}\" for the \"{\" at 7" << 10;
        QTest::newRow("empty set") << "id in {}" << "The set for id is empty" << 6;
        QTest::newRow("backward range") << "id in {0x20..0x10}" << "The range 0x20..0x10 runs backwards" << 7;
        QTest::newRow("open range") << "id in {0x20..}" << "The range starting with \"0x20\" has no end" << 7;
        QTest::newRow("stray character") << "id == 1 # 2" << "Unexpected \"#\"" << 8;
        QString chain = "error";
        for (int i = 0; i < 2500; ++i)
            chain += " or error";
        QTest::newRow("too long") << chain << "The expression is too long" << 9 * 2000 + 6;
        QTest::newRow("too deep") << QString(300, '(') + "error" << "The expression nests too deeply" << 201;
    }

    void errors()
    {
        QFETCH(QString, text);
        const FrameFilter f = FrameFilter::parse(text);
        QVERIFY(!f.isValid());
        QTEST(f.error().message, "message");
        QTEST(f.error().position, "position");
        QVERIFY(!f.matches(line("RP_DAT", "0x0100")));
    }

    void matches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("match");

        const QByteArray rpDat = line("RP_DAT", "0x0100", "40 02 ff ", 12500000);
        const QByteArray idDat = line("ID_DAT", "0x0300", QString(), 13000000);
        const QByteArray fcs = line("ERROR", "0x0100", "Type: FCS Error [read = 0x1234, calculated = 0x4321] - Data Rescue: 02 40 02 ");
        const QByteArray size = line("ERROR", "0x0100", "Type: Invalid Data Size - Data Rescue: 02 ");
        const QByteArray label = line("RP_DAT", "0x0100", "123.5", 0, "Speed");

        QTest::newRow("empty matches all") << "  " << idDat << true;
        QTest::newRow("id == decimal") << "id == 256" << rpDat << true;
        QTest::newRow("id !=") << "id != 0x0100" << rpDat << false;
        QTest::newRow("len <") << "len < 3" << rpDat << false;
        QTest::newRow("len <=") << "len <= 3" << rpDat << true;
        QTest::newRow("len >") << "len > 2" << rpDat << true;
        QTest::newRow("len >=") << "len >= 4" << rpDat << false;
        QTest::newRow("no with grouping") << "no == 1234" << rpDat << true;
        QTest::newRow("fcs") << "fcs == 0xBEEF" << rpDat << true;
        QTest::newRow("time window") << "time > 12.5 and time < 13" << rpDat << false;
        QTest::newRow("time inclusive") << "time >= 12.5 and time < 13" << rpDat << true;
        QTest::newRow("time negative") << "time > -1" << rpDat << true;
        QTest::newRow("ctrl by name") << "id == 0x0100 and ctrl == RP_DAT" << rpDat << true;
        QTest::newRow("ctrl by code") << "ctrl == 0x03" << idDat << true;
        QTest::newRow("ctrl any case") << "ctrl == rp_dat" << rpDat << true;
        QTest::newRow("ctrl set") << "ctrl in {ID_DAT 0x02}" << idDat << true;
        QTest::newRow("ctrl contains") << "ctrl contains DAT" << idDat << true;
        QTest::newRow("ctrl matches") << "ctrl matches \"^RP_\"" << idDat << false;
        QTest::newRow("pdu") << "pdu == SM_MPS" << rpDat << true;
        QTest::newRow("pdu present") << "pdu" << idDat << false;
        QTest::newRow("data contains") << "data contains 40 02" << rpDat << true;
        QTest::newRow("data contains joined") << "data contains 02ff" << rpDat << true;
        QTest::newRow("data contains colons") << "data contains 02:FF" << rpDat << true;
        QTest::newRow("data contains quoted") << "data contains \"ff\"" << rpDat << true;
        QTest::newRow("data not in order") << "data contains 02 40" << rpDat << false;
        QTest::newRow("data ==") << "data == 40 02 ff" << rpDat << true;
        QTest::newRow("data == prefix") << "data == 40 02" << rpDat << false;
        QTest::newRow("data on error row") << "data contains 02 40" << fcs << false;
        QTest::newRow("data matches text") << "data matches \"FCS Error\"" << fcs << true;
        QTest::newRow("error") << "error" << fcs << true;
        QTest::newRow("not error") << "not error" << rpDat << true;
        QTest::newRow("error kind") << "error.fcs" << fcs << true;
        QTest::newRow("other error kind") << "error.size" << fcs << false;
        QTest::newRow("error.size") << "error.size" << size << true;
        QTest::newRow("kind on good row") << "error.fcs" << rpDat << false;
        QTest::newRow("id range") << "id in {0x0100..0x01ff 0x0300}" << rpDat << true;
        QTest::newRow("id single of set") << "id in {0x0100..0x01ff 0x0300}" << idDat << true;
        QTest::newRow("id spaced range") << "id in {0x0101 .. 0x01ff}" << rpDat << false;
        QTest::newRow("mnemonic") << "mnemonic == Speed and mnemonic.value > 100" << label << true;
        QTest::newRow("mnemonic value text") << "mnemonic.value contains \"3.5\"" << label << true;
        QTest::newRow("mnemonic value not number") << "mnemonic.value > 1" << rpDat << false;
        QTest::newRow("and binds tighter") << "error or id == 0x0300 and ctrl == RP_DAT" << idDat << false;
        QTest::newRow("parentheses") << "(error or id == 0x0300) and ctrl == ID_DAT" << idDat << true;
        QTest::newRow("symbols") << "!(error || id == 0x0100) && ctrl == ID_DAT" << idDat << true;
        QTest::newRow("not binds tightest") << "not id == 0x0100 or error" << rpDat << false;
        QTest::newRow("keywords any case") << "NOT id == 0x0100 OR error" << rpDat << false;
    }

    void matches()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        const FrameFilter f = FrameFilter::parse(text);
        QVERIFY2(f.isValid(), qPrintable(f.error().message));
        FrameFilterContext context;
        context.anchor = kAnchor;
        QTEST(f.matches(line, context), "match");
    }

    void scan()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.vtrc");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVector<qint64> offsets;
        for (int i = 0; i < 1000; ++i) {
            offsets.append(file.pos());
            file.write(line(i % 3 ? "RP_DAT" : "ID_DAT", i % 10 == 1 ? "0x0100" : "0x0200"));
        }
        offsets.append(file.pos());
        file.write(line("ID_DAT", QString()).chopped(1)); // a last line without its line end
        file.close();

        const FrameFilter sel = FrameFilter::parse("id == 0x0100 and ctrl == RP_DAT");
        FrameFilterScan::Result r = FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {});
        QCOMPARE(r.status, FrameFilterScan::Status::Done);
        QCOMPARE(r.scanned, qint64(offsets.size()));
        QVector<quint32> expected;
        for (int i = 0; i < 1000; ++i)
            if (i % 10 == 1 && i % 3)
                expected.append(quint32(i));
        QCOMPARE(r.rows, expected);

        const FrameFilter last = FrameFilter::parse("ctrl == ID_DAT and not id");
        QCOMPARE(FrameFilterScan::run(path, offsets, 0, offsets.size(), last, {}).rows, QVector<quint32>{ 1000 });
        QCOMPARE(FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {}, 2).rows, expected.mid(0, 2));

        // Find's progress ends at all the rows when nothing matches, either way.
        const FrameFilter none = FrameFilter::parse("id == 0x0300");
        for (bool forward : { true, false }) {
            QVector<int> percents;
            const auto progress = [&percents](int percent) { percents.append(percent); };
            const qint64 from = forward ? -1 : offsets.size();
            QCOMPARE(FrameFilterScan::find(path, offsets, from, forward, none, {}, nullptr, progress), qint64(-1));
            QCOMPARE(percents.last(), 100);
        }

        std::atomic<bool> cancel { true };
        QCOMPARE(FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {}, 0, &cancel).status,
                 FrameFilterScan::Status::Cancelled);

        QVERIFY(QFile::resize(path, offsets.at(500)));
        r = FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {});
        QCOMPARE(r.status, FrameFilterScan::Status::Failed);
        QCOMPARE(r.message, QString("The trace file changed while filtering"));
    }

    void donut_data()
    {
        QTest::addColumn<int>("maxSlices");
        QTest::addColumn<QStringList>("expected");
        const QString blue = "rgb(150, 150, 255)";
        const QString grey = "rgb(220, 220, 220)";
        // 0x0101 answered, 0x0102 not: two microcycles, five detailed slices.
        QTest::newRow("detailed") << 50
                                  << QStringList { mu + "Cycle[1] - padding=" + grey,
                                                   mu + "Cycle[1][1] - id_dat/rp_dat(0x0101)=" + blue,
                                                   mu + "Cycle[1][2] - id_dat(0x0102)=" + grey,
                                                   mu + "Cycle[2] - padding=" + grey,
                                                   mu + "Cycle[2][1] - id_dat/rp_dat(0x0101)=" + blue };
        QTest::newRow("one slice per microcycle") << 4
                                                  << QStringList { mu + "Cycle[1]=" + grey, mu + "Cycle[2]=" + blue };
    }

    void donut()
    {
        QFETCH(int, maxSlices);
        QFETCH(QStringList, expected);

        QWebView view;
        QVERIFY(load(view, MacrocycleDonut::pageUrl(), "typeof d3 + ' ' + typeof c3 + ' ' + typeof chart"));
        QTRY_COMPARE(arcs(view), MacrocycleDonut::initialSlice() + "=rgb(220, 220, 220)");

        AnalysisContext context;
        IdentifierStats& answered = context.identifier(0x0101);
        answered.replied = true;
        answered.transactionTicks = 1160; // 116 µs of a 20 ms microcycle
        context.identifier(0x0102).transactionTicks = 2000;
        context.pair(0x0101, 0x03).state = 0x83;
        context.pair(0x0101, 0x03).fields |= TransactionStats::HasState;

        QStandardItemModel tree;
        QAbstractItemModelTester tester(&tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
        MacrocycleDonut donut;
        const MacrocycleDonut::Update update
            = donut.refresh({ { 0x0101, 0x0102 }, { 0x0101 } }, 20000.0, 0.1, maxSlices, context, &tree);
        QVERIFY(update.draw);
        QCOMPARE(update.detailedSlices, 5);
        QCOMPARE(update.reportTooManySlices, maxSlices < 5);
        view.page()->mainFrame()->evaluateJavaScript(update.script);
        QTRY_COMPARE(arcs(view), expected.join(';'));

        // Slices share each microcycle's half of the donut by transaction time.
        const double first = view.page()->mainFrame()->evaluateJavaScript(
            "chart.data.values('" + mu + "Cycle[1][1] - id_dat/rp_dat(0x0101)')[0]").toDouble();
        if (maxSlices >= 5)
            QVERIFY(qAbs(first - 116.0 * 50.0 / 20000.0) < 1e-9);
        QCOMPARE(donut.paddingShare(), 100.0 - (116.0 + 200.0 + 116.0) * 50.0 / 20000.0);

        QCOMPARE(tree.rowCount(), 2);
        QCOMPARE(tree.item(0)->text(), mu + "Cycle[1]");
        QCOMPARE(tree.item(0)->rowCount(), 2);
        QCOMPARE(tree.item(0)->child(1)->text(), QString("0x0102"));
        QVERIFY(!tree.item(0)->child(0)->icon().isNull());
        QVERIFY(tree.item(0)->child(1)->icon().isNull()); // never sampled

        // A new capture starts the page's chart over without loading the page, then draws again.
        view.page()->mainFrame()->evaluateJavaScript("resetChart();");
        QTRY_COMPARE(arcs(view), MacrocycleDonut::initialSlice() + "=rgb(220, 220, 220)");
        donut.reset();
        view.page()->mainFrame()->evaluateJavaScript(
            donut.refresh({ { 0x0101, 0x0102 }, { 0x0101 } }, 20000.0, 0.1, maxSlices, context, &tree).script);
        QTRY_COMPARE(arcs(view), expected.join(';'));
    }

    void unchangedMacrocycleNotRedrawn()
    {
        AnalysisContext context;
        context.identifier(0x0201).replied = true;
        MacrocycleDonut donut;
        QStandardItemModel tree;
        const Macrocycle drawn { { 0x0201 }, { 0x0201, 0x0202 }, { 0x0203 } };
        QVERIFY(donut.refresh(drawn, 20000.0, 0.1, 50, context, &tree).draw);
        // Started elsewhere, same length: left as it is.
        QVERIFY(!donut.refresh({ { 0x0203 }, { 0x0201 }, { 0x0201, 0x0202 } }, 21000.0, 0.1, 50, context, &tree).draw);
        // Out of cyclic order, 30 % longer, or a reply mark changed: drawn again.
        QVERIFY(donut.refresh({ { 0x0201, 0x0202 }, { 0x0201 }, { 0x0203 } }, 20000.0, 0.1, 50, context, &tree).draw);
        QVERIFY(donut.refresh({ { 0x0201, 0x0202 }, { 0x0201 }, { 0x0203 } }, 26000.0, 0.1, 50, context, &tree).draw);
        context.identifier(0x0202).replied = true;
        const MacrocycleDonut::Update update
            = donut.refresh({ { 0x0201, 0x0202 }, { 0x0201 }, { 0x0203 } }, 26000.0, 0.1, 50, context, &tree);
        QVERIFY(update.draw);
        // Only the slice whose label changed goes; the others are reloaded in place.
        QVERIFY2(update.script.contains("\"unload\":[\"" + mu + "Cycle[1][2] - id_dat(0x0202)\"]"),
                 qPrintable(update.script));
        // A single microcycle has no microcycle rows: its identifiers sit at the top.
        QVERIFY(donut.refresh({ { 0x0301, 0x0302 } }, 20000.0, 0.1, 50, context, &tree).draw);
        QCOMPARE(tree.rowCount(), 2);
        QCOMPARE(tree.item(1)->text(), QString("0x0302"));
    }

    void graph_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<qint64>>("raws");
        QTest::addColumn<QString>("drawn"); // the series' data as the chart holds it
        QTest::newRow("uint16 steps") << int(MnemoField::UInt16) << QList<qint64> { 0, 300, 300, 65535 } << "0,300,300,65535";
        QTest::newRow("int16 negative") << int(MnemoField::Int16) << QList<qint64> { -5, 7, -32768 } << "-5,7,-32768";
        QTest::newRow("bool") << int(MnemoField::Bool) << QList<qint64> { 0, 1, 0 } << "false,true,false";
    }

    void graph()
    {
        QFETCH(int, type);
        QFETCH(QList<qint64>, raws);

        QWebView view;
        QVERIFY(load(view, "qrc:/html/mnemograph.html", "typeof echarts + ' ' + typeof myChart + ' ' + typeof jQuery"));
        QWebFrame* frame = view.page()->mainFrame();

        MnemoHistory steps = history(MnemoField::Type(type), 15, {});
        std::vector<qint64> dates;
        for (int i = 0; i < raws.size(); ++i) {
            steps.values.push_back(quint64(raws[i]));
            dates.push_back(1500000000000 + 100 * i);
        }
        // A second series that has no value at the first date.
        MnemoHistory late = steps;
        late.first = 1;
        late.values.pop_back();
        const QJsonObject option = MnemoGraphOption::generateEchartsJsonObject(
            { MnemoSeries { "speed", "rpm", &steps }, MnemoSeries { "late", QString(), &late } }, dates, "Mnemonics");
        frame->evaluateJavaScript(QString("myChart.setOption(%1,true);")
                                      .arg(QString::fromUtf8(QJsonDocument(option).toJson(QJsonDocument::Compact))));

        const auto read = [&](const QString& expressions) {
            return frame->evaluateJavaScript("(function(){ var o = myChart.getOption(); return [" + expressions
                                             + "].join('|'); })()")
                .toString();
        };
        QTEST(read("o.series[0].data.join(',')"), "drawn");
        // Two stacked charts of steps, the second on its own axes and empty at the first date.
        QCOMPARE(read("o.series.length, o.grid.length, o.xAxis.length, o.series[0].step, o.series[0].type, "
                      "o.series[1].xAxisIndex, o.series[1].data[0] === null, o.yAxis[0].name, o.grid[1].top, "
                      "o.grid[1].height, $('#empty').is(':visible')"),
                 QString("2|2|2|end|line|1|true|speed (rpm)|53%|37%|false"));

        // The canvas holds the picture: it is not a blank page.
        const QImage picture = view.grab().toImage();
        const QRgb background = picture.pixel(2, 2);
        int drawnPixels = 0;
        for (int y = 0; y < picture.height(); y += 2) {
            for (int x = 0; x < picture.width(); x += 2)
                drawnPixels += picture.pixel(x, y) != background;
        }
        QVERIFY2(drawnPixels > 2000, qPrintable(QString::number(drawnPixels)));
    }
};

QTEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
