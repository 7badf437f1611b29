// Frame-level decoding: FCS, control codes, size rules, reception status, row
// texts; trace row fields and their text forms.

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "capture/decoder/TraceFormat.h"
#include "capture/decoder/TraceRow.h"
#include "tests/capture/decoder/FipStreamBuilder.h"

#include <QtTest>

using namespace FipStreamBuilder;

Q_DECLARE_METATYPE(FipStreamBuilder::Bytes)
using R = TraceRow;

namespace {

struct Recorder : FipDecoderListener
{
    QList<QPair<quint16, quint8>> identifiers;
    int replies = 0;
    int withoutError = 0;
    int done = 0;
    FipFrameInfo last;
    void onIdentifierFrame(const FipFrameInfo& f) override { identifiers.append({ f.identifier, f.control }); }
    void onReplyFrame(const FipFrameInfo&, TraceRow& row) override
    {
        ++replies;
        row.set(TraceRow::Pdu, "SM_MPS");
    }
    void onFrameWithoutError(const FipFrameInfo&) override { ++withoutError; }
    void onFrameDone(const FipFrameInfo& f, TraceRow&) override
    {
        ++done;
        last = f;
    }
};

QString rescue(const Bytes& f)
{
    QString text;
    for (quint8 b : f)
        text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
    return text;
}

// The row's texts in the given columns, to compare several at once.
QStringList texts(const FipStreamDecoder& d, std::initializer_list<TraceRow::Column> columns)
{
    QStringList out;
    for (TraceRow::Column c : columns)
        out << d.row().text(c);
    return out;
}

void feed(FipStreamDecoder& d, const Bytes& f, quint16 status = 0)
{
    d.treatFipFrame(f.data(), int(f.size()), status, 0, 0);
}



} // namespace

class TestFipFrameDecoding : public QObject
{
    Q_OBJECT

private slots:
    void fcsMatchesBitwiseReference_data()
    {
        QTest::addColumn<Bytes>("body");
        QTest::addColumn<bool>("fip");
        QTest::addColumn<int>("expected");
        QTest::newRow("ID_DAT 1234 FIP") << Bytes{ 0x03, 0x12, 0x34 } << true << 0xb569;
        QTest::newRow("ID_DAT 1234 WorldFIP") << Bytes{ 0x03, 0x12, 0x34 } << false << 0xbc01;
        QTest::newRow("RP_DAT FIP") << Bytes{ 0x02, 0x03, 0x05, 0xAA, 0x55 } << true << 0x33b5;
        QTest::newRow("RP_ACK WorldFIP") << Bytes{ 0x30 } << false << 0xd81d;
        QTest::newRow("nothing FIP") << Bytes{} << true << 0xffff;
        QTest::newRow("nothing WorldFIP") << Bytes{} << false << 0x0000;
        Bytes longBody(263);
        for (size_t i = 0; i < longBody.size(); ++i)
            longBody[i] = quint8(i * 7 + 1);
        QTest::newRow("263 bytes FIP") << longBody << true << int(referenceFcs(longBody, true));
        QTest::newRow("263 bytes WorldFIP") << longBody << false << int(referenceFcs(longBody, false));
    }
    void fcsMatchesBitwiseReference()
    {
        QFETCH(Bytes, body);
        QFETCH(bool, fip);
        QTEST(int(FipFcs::compute(body.data(), int(body.size()), fip)), "expected");
        QTEST(int(referenceFcs(body, fip)), "expected");
    }

    void sizeLimits_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fits");
        // Two bytes are all FCS: never a valid frame of any family.
        struct Family {
            QList<int> codes;
            int min;
            int max;
        };
        const QList<Family> families = {
            { { 0x03, 0x05, 0x09, 0x29 }, 5, 5 },
            { { 0x02, 0x06, 0x0A, 0x0E, 0x2A, 0x2E }, 6, 131 },
            { { 0x08, 0x28 }, 5, 131 },
            { { 0x04, 0x14, 0x94 }, 9, 265 },
            { { 0x10, 0x30, 0x40, 0x90, 0xB0 }, 3, 3 },
        };
        for (const Family& f : families) {
            for (int code : f.codes) {
                const QByteArray name = QByteArray(FipControls::name(quint8(code)));
                for (int n : { f.min - 1, f.min, f.max, f.max + 1 }) {
                    if (n >= 3)
                        QTest::newRow(name + " n=" + QByteArray::number(n)) << code << n << (n >= f.min && n <= f.max);
                }
            }
        }
    }
    void sizeLimits()
    {
        QFETCH(int, control);
        QFETCH(int, size);
        QFETCH(bool, fits);
        FipStreamDecoder d;
        const Bytes f = frameOfSize(quint8(control), size);
        QCOMPARE(int(f.size()), size);
        feed(d, f);
        QCOMPARE(d.counters().invalidDataSizes, quint64(fits ? 0 : 1));
        QCOMPARE(d.counters().perControl[size_t(control)], quint64(1));
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.state().errDataSize, !fits);
        if (fits) {
            QCOMPARE(texts(d, { R::Control, R::DataLength }),
                     (QStringList{ FipControls::name(quint8(control)), QString::number(size - 3) }));
        } else {
            QCOMPARE(d.row().text(R::Control), QStringLiteral("ERROR"));
            QVERIFY(d.row().text(R::Data).startsWith(QStringLiteral("Type: Invalid Data Size - Data Rescue: ")));
        }
    }

    void identifierFrameRow()
    {
        Recorder r;
        FipStreamDecoder d(&r);
        feed(d, frame({ 0x03, 0x12, 0x34 }));
        QVERIFY(r.last.ok && !r.last.error);
        QCOMPARE(texts(d, { R::Control, R::Identifier, R::DataLength, R::Data, R::Fcs }),
                 (QStringList{ "ID_DAT", "0x1234", "2", "12 34 ", "0xb569" }));
        QCOMPARE(r.identifiers, (QList<QPair<quint16, quint8>>{ { 0x1234, 0x03 } }));
        QCOMPARE(d.state().identifier, quint16(0x1234));
        // The first identifier frame itself counts for the per-pair maps.
        QCOMPARE(r.withoutError, 1);
        QCOMPARE(d.state().frameNumber, quint64(1));
    }

    void replyFrameRowAndHooks()
    {
        Recorder r;
        FipStreamDecoder d(&r);
        // A reply before any identifier: decoded, but kept out of the per-pair maps.
        feed(d, frame({ 0x02, 0x40, 0x02, 0xAB, 0xCD }));
        QCOMPARE(r.replies, 1);
        QCOMPARE(r.withoutError, 0);
        feed(d, frame({ 0x03, 0x05, 0x10 }));
        feed(d, frame({ 0x02, 0x40, 0x02, 0xAB, 0xCD }));
        QCOMPARE(r.replies, 2);
        QCOMPARE(r.withoutError, 2);
        QCOMPARE(texts(d, { R::Control, R::Identifier, R::DataLength, R::Data, R::Pdu }),
                 (QStringList{ "RP_DAT", "0x0510", "4", "40 02 ab cd ", "SM_MPS" }));
        QCOMPARE(r.last.identifier, quint16(0x0510));
        QCOMPARE(r.last.control, quint8(0x02));
        QCOMPARE(r.done, 3);
    }

    void errorRows_data()
    {
        QTest::addColumn<Bytes>("frameBytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("data");
        QTest::addColumn<bool>("ok");
        const Bytes id = frame({ 0x03, 0x12, 0x34 });
        const QString rescued = " - Data Rescue: 03 12 34 b5 69 ";
        Bytes badFcs = id;
        badFcs[4] ^= 0xFF;
        QTest::newRow("FCS error") << badFcs << 0
                                   << "Type: FCS Error [read = 0xb596, calculated = 0xb569] - Data Rescue: 03 12 34 b5 96 "
                                   << false;
        QTest::newRow("frame counter overflow") << id << 0x0010 << "Type: Frame Counter Overflow" + rescued << true;
        QTest::newRow("inter frame counter overflow") << id << 0x0020 << "Type: Inter Frame Counter Overflow" + rescued << true;
        QTest::newRow("both overflows name FC") << id << 0x0030 << "Type: Frame Counter Overflow" + rescued << true;
        QTest::newRow("glitch") << id << 0x0001 << "Type: PRE [Glitches]" + rescued << true;
        QTest::newRow("overflow before glitch") << id << 0x0011 << "Type: Frame Counter Overflow" + rescued << true;
        QTest::newRow("unknown FSD") << id << 0x0004 << "Type: Unknown FSD" + rescued << true;
        QTest::newRow("no FSD") << id << 0x0002 << "Type: No FSD" + rescued << true;
        QTest::newRow("glitch before FSD") << id << 0x0003 << "Type: PRE [Glitches]" + rescued << true;
        QTest::newRow("no FED") << id << 0x0008 << "Type: No FED" + rescued << true;
        const Bytes unknown = frame({ 0x55, 0x01 });
        QTest::newRow("unknown control") << unknown << 0 << "Type: Unknown Control [0x55] - Data Rescue: " + rescue(unknown) << false;
        const Bytes longAck = frameOfSize(0x30, 4);
        QTest::newRow("invalid data size") << longAck << 0 << "Type: Invalid Data Size - Data Rescue: " + rescue(longAck) << false;
        QTest::newRow("two bytes") << Bytes{ 0x30, 0x00 } << 0 << "Type: FCS Error [read = 0x3000, calculated = 0xffff] - Data Rescue: 30 00 " << false;
        QTest::newRow("status before FCS") << badFcs << 0x0004 << "Type: Unknown FSD - Data Rescue: 03 12 34 b5 96 " << false;
        QTest::newRow("bits without a flag") << id << 0xF8C0 << QString() << true;
    }
    void errorRows()
    {
        QFETCH(Bytes, frameBytes);
        QFETCH(int, status);
        QFETCH(QString, data);
        QFETCH(bool, ok);
        Recorder r;
        FipStreamDecoder d(&r);
        feed(d, frameBytes, quint16(status));
        QCOMPARE(r.last.ok, ok);
        QCOMPARE(r.last.error, !data.isEmpty());
        if (data.isEmpty()) {
            QCOMPARE(d.row().text(R::Control), QStringLiteral("ID_DAT"));
            QCOMPARE(d.counters().erroredTime, quint64(0));
            return;
        }
        // A frame that decoded keeps its identifier, length and FCS; a rejected one
        // leaves them empty rather than borrow the previous transaction's.
        const quint16 fcs = quint16((frameBytes[frameBytes.size() - 2] << 8) | frameBytes.back());
        QCOMPARE(texts(d, { R::Control, R::Data, R::Fcs, R::Identifier, R::DataLength }),
                 ok ? (QStringList{ "ERROR", data, QStringLiteral("0x%1").arg(fcs, 4, 16, QLatin1Char('0')), "0x1234", "2" })
                    : (QStringList{ "ERROR", data, "", "", "" }));
        QCOMPARE(r.withoutError, 0);
    }

    void noFedHidesFcsError()
    {
        FipStreamDecoder d;
        Bytes f = frame({ 0x03, 0x12, 0x34 });
        f.back() ^= 1;
        feed(d, f, 0x0008);
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.counters().noFedErrors, quint64(1));
        QVERIFY(!d.state().errFcs);
        feed(d, f, 0);
        QCOMPARE(d.counters().fcsErrors, quint64(1));
        QCOMPARE(d.state().control, quint8(0x03));
    }

    void emptyFrame()
    {
        Recorder r;
        FipStreamDecoder d(&r);
        d.treatFipFrame(nullptr, 0, 0, 0, 0);
        QVERIFY(!r.last.ok && !r.last.error);
        QCOMPARE(r.done, 1);
        d.treatFipFrame(nullptr, 0, 0x0001, 0, 0);
        QVERIFY(r.last.error);
        QCOMPARE(d.row().text(R::Data), QStringLiteral("Type: PRE [Glitches] - Data Rescue: None"));
        QCOMPARE(d.state().frameNumber, quint64(2));
    }

    void worldFipPolynomial()
    {
        // The FCS polynomial follows the frame type of the first Osp record.
        FipStreamDecoder d;
        d.treatOstrakFlowOsp(ospPacket(1, 1, ospRecord(frame({ 0x03, 0x12, 0x34 }, false), ospStatus(2, 2), 1000)));
        QCOMPARE(d.state().frameTypeText, QStringLiteral("WorldFIP"));
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.row().text(R::Fcs), QStringLiteral("0xbc01"));
        d.treatOstrakFlowOsp(ospPacket(2, 1, ospRecord(frame({ 0x03, 0x12, 0x34 }, true), ospStatus(2, 2), 2000)));
        QCOMPARE(d.counters().fcsErrors, quint64(1));
    }

    void paddingIdentifiers_data()
    {
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<int>("padding");
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("expected");
        QTest::newRow("presence 14FF") << false << 0 << 0x14FF << true;
        QTest::newRow("1000 alone") << false << 0 << 0x1000 << false;
        QTest::newRow("0400 alone") << false << 0 << 0x0400 << false;
        QTest::newRow("1400") << false << 0 << 0x1400 << true;
        QTest::newRow("fixed match") << true << 0x0123 << 0x0123 << true;
        QTest::newRow("fixed, presence id") << true << 0x0123 << 0x14FF << false;
    }
    void paddingIdentifiers()
    {
        QFETCH(bool, fixed);
        QFETCH(int, padding);
        QFETCH(int, id);
        FipStreamDecoder d;
        d.setPaddingRule(fixed, quint16(padding));
        QTEST(d.isPaddingId(quint16(id)), "expected");
    }

    void durationsByKind()
    {
        // TLV records carry IFC and FC; each identifier kind adds its ticks.
        FipStreamDecoder d;
        d.setCardSpeed(1);
        QByteArray data;
        data += tlvRecord(frame({ 0x03, 0x14, 0xFF }), 0, 10, 5);   // ID_DAT, padding
        data += tlvRecord(frame({ 0x05, 0x00, 0x01 }), 0, 20, 7);   // ID_MSG
        data += tlvRecord(frame({ 0x29, 0x00, 0x02 }), 0, 30, 9);   // ID_RQ1
        data += tlvRecord(frame({ 0x09, 0x00, 0x03 }), 0, 40, 11);  // ID_RQ2
        data += tlvRecord(frame({ 0x03, 0x00, 0x04 }), 0x0001, 50, 13); // errored
        d.treatOstrakFlowIProtEvt(eventRecord(0, data));
        const FipCaptureCounters& c = d.counters();
        QCOMPARE((QList<quint64>{ c.idDatTime, c.paddingTime, c.idMsgTime, c.idRqTime, c.erroredTime, c.preGlitches }),
                 (QList<quint64>{ 15 + 63, 15, 27, 39 + 51, 63, 1 }));
    }

    // A padding transaction that gets an answer: the ID_DAT is the padding frame,
    // its RP_DAT stays an ordinary reply.
    void onlyThePaddingRequestIsAPaddingFrame()
    {
        FipStreamDecoder d;
        d.setPaddingRule(true, 0x9080);
        feed(d, frame({ 0x03, 0x90, 0x80 }));
        feed(d, frame({ 0x02, 0x40, 0x01, 0x00 }));
        feed(d, frame({ 0x03, 0x90, 0x80 }));
        QCOMPARE(d.counters().paddingFrames, quint64(2));
        QCOMPARE(d.counters().paddingPerControl[0x03], quint64(2));
        QCOMPARE(d.counters().paddingPerControl[0x02], quint64(0));
    }

    // Exactly the 20 control codes of the bus are known; any other byte is an unknown control.
    void controlTable()
    {
        int known = 0;
        for (int b = 0; b < 256; ++b)
            known += FipControls::isKnown(quint8(b)) ? 1 : 0;
        QCOMPARE(known, 20);
        QVERIFY(FipControls::name(0x55) == nullptr);
    }

    void initTestCase() { qputenv("TZ", "UTC"); }
    // Counts grouped by thousands and delays in hundredths, as the locale and printf write them.
    void numberTexts()
    {
        for (quint64 value : { quint64(0), quint64(2), quint64(320), quint64(999), quint64(1000), quint64(123456),
                               quint64(1234567), ~quint64(0) }) {
            std::string grouped, centi;
            TraceFormat::appendGrouped(grouped, value);
            QCOMPARE(QString::fromStdString(grouped), QLocale(QLocale::English).toString(value));
            TraceFormat::appendCentiMicros(centi, value);
            if (value < (quint64(1) << 53)) // exact in a double
                QCOMPARE(QString::fromStdString(centi), QString::asprintf("%4.2f us", double(value) / 100.0));
        }
    }

    void dateText_data()
    {
        QTest::addColumn<quint64>("micros");
        QTest::addColumn<QString>("text");
        QTest::newRow("epoch") << quint64(0) << "[1970-01-01] 00:00:00.000000";
        QTest::newRow("micro digits") << quint64(1767225600123456ULL) << "[2026-01-01] 00:00:00.123456";
        QTest::newRow("small remainder") << quint64(1767225661001002ULL) << "[2026-01-01] 00:01:01.001002";
    }
    void dateText()
    {
        QFETCH(quint64, micros);
        QFETCH(QString, text);
        TraceFormat::DateText date;
        std::string out;
        date.append(out, micros);
        QCOMPARE(QString::fromStdString(out), text);
        // The cached second must not leak into the next one.
        out.clear();
        date.append(out, micros + 1000000);
        const QDateTime next = QDateTime::fromMSecsSinceEpoch(qint64((micros + 1000000) / 1000));
        QCOMPARE(QString::fromStdString(out),
                 next.toString(QStringLiteral("[yyyy-MM-dd] hh:mm:ss.zzz")) + QStringLiteral("%1").arg(micros % 1000, 3, 10, QLatin1Char('0')));
    }

    void textsCannotSplitTheLine()
    {
        TraceRow row;
        row.setText(TraceRow::Mnemonic, QStringLiteral("a\tb\nc\rd é"));
        QCOMPARE(row.text(TraceRow::Mnemonic), QStringLiteral("a b c d é"));
        QCOMPARE(row.line().count('\t'), 21);
        QCOMPARE(row.line().count('\n'), 1);
        row.clear();
        QCOMPARE(row.line(), QByteArray(21, '\t') + '\n');
    }

    void fromLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QByteArray>("value");
        TraceRow full;
        for (int c = 0; c < TraceRow::FieldCount; ++c)
            full.field(c) = "f" + std::to_string(c);
        QTest::newRow("full first") << full.line() << 0 << QByteArray("f0");
        QTest::newRow("full last") << full.line() << 21 << QByteArray("f21");
        QTest::newRow("CRLF") << QByteArray("a\tb\r\n") << 1 << QByteArray("b");
        QTest::newRow("short line") << QByteArray("a\tb") << 5 << QByteArray();
        QTest::newRow("extra fields") << full.line().chopped(1) + "\textra\n" << 21 << QByteArray("f21");
    }
    void fromLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, column);
        QFETCH(QByteArray, value);
        const TraceRow row = TraceRow::fromLine(line);
        QCOMPARE(QByteArray::fromStdString(row.field(column)), value);
    }
};

QTEST_GUILESS_MAIN(TestFipFrameDecoding)
#include "tst_fipframedecoding.moc"
