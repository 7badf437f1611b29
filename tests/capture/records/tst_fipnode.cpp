// Frame records and statistics records: fields, tree form, card word form, TLV stream.

#include "capture/records/CFipNode.h"
#include "capture/records/CFipRecordReader.h"
#include "capture/records/CFipStatisticsNode.h"
#include "capture/tlv/CTLVLeaf.h"

#include <QtTest>

#include <iostream>
#include <sstream>

using Bytes = std::vector<unsigned char>;
using Words = std::vector<unsigned short>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Words)

namespace {

Bytes bytes(std::initializer_list<int> list)
{
    Bytes out;
    for (int v : list)
        out.push_back(static_cast<unsigned char>(v));
    return out;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A 0xC0 node around the given leaves, with a correct two-byte length.
Bytes record(const Bytes& leaves)
{
    const unsigned n = unsigned(leaves.size());
    return concat(bytes({0xC0, int(n >> 8), int(n & 0xFF)}), leaves);
}

CTLVNode::Ptr parse(const Bytes& frame)
{
    return CTLVNode::Ptr(new CTLVNode(frame.data(), unsigned(frame.size())));
}

// Flags in status bit order, as one mask, to compare all ten at once.
int flagMask(const CFipNode& n)
{
    return (n.get_CHSL() == 2 ? 0x0400 : 0) | (n.is_TXErr2() ? 0x0200 : 0) | (n.is_TXErr1() ? 0x0100 : 0)
        | (n.is_GLC_overflow() ? 0x0040 : 0) | (n.is_IFC_overflow() ? 0x0020 : 0) | (n.is_FC_overflow() ? 0x0010 : 0)
        | (n.is_no_FED() ? 0x0008 : 0) | (n.is_FSD_unknown() ? 0x0004 : 0) | (n.is_no_FSD() ? 0x0002 : 0)
        | (n.is_glitch() ? 0x0001 : 0);
}

CFipNode sample()
{
    CFipNode n;
    n.set_frame_status(0x0521);
    n.set_frame_type(2);
    n.set_counter(0x7E);
    n.set_frame_number(0x0102030405060708ull);
    n.set_Above_IFC(0xA1B2C3D4u);
    n.set_FC(0x1234);
    n.set_GLC(0xFEDC);
    n.set_jitter_max(9);
    n.set_date_tick(0x1122334455667788ull);
    n.set_fip_data(bytes({0x02, 0x40, 0x05, 0xAA, 0xBB}));
    return n;
}

// Every field at once: the TLV form holds them all, and its bytes are checked exactly below.
Bytes tlvForm(const CFipNode& n)
{
    Bytes out;
    n.append_tlv_record(out);
    return out;
}

// The encoded leaf under a tag inside a serialised record, or empty when missing.
Bytes leafBytes(const Bytes& frame, unsigned char tag)
{
    std::size_t i = 3;
    while (i + 1 < frame.size()) {
        const std::size_t size = 2 + frame[i + 1];
        if (frame[i] == tag)
            return Bytes(frame.begin() + long(i), frame.begin() + long(i + size));
        i += size;
    }
    return Bytes();
}

} // namespace

class TestFipNode : public QObject
{
    Q_OBJECT

private slots:
    void frameStatusFlags_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("flags");
        QTest::newRow("zero") << 0x0000 << 0x0000;
        QTest::newRow("channel 2 + glitch") << 0x0401 << 0x0401;
        QTest::newRow("all flag bits") << 0x077F << 0x077F;
        QTest::newRow("bits without flag") << 0xF880 << 0x0000;
        QTest::newRow("everything") << 0xFFFF << 0x077F;
        QTest::newRow("tx errors") << 0x0300 << 0x0300;
        QTest::newRow("overflows") << 0x0070 << 0x0070;
        QTest::newRow("delimiters") << 0x000E << 0x000E;
    }
    void frameStatusFlags()
    {
        QFETCH(int, status);
        CFipNode n;
        n.set_frame_status(0xFFFF); // stale flags must be cleared
        n.set_frame_status(static_cast<unsigned short>(status));
        QCOMPARE(int(n.get_frame_status()), status);
        QTEST(flagMask(n), "flags");
    }

    void fromTree_data()
    {
        QTest::addColumn<Bytes>("leaves");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("type");
        QTest::addColumn<quint64>("frameNumber");
        QTest::addColumn<uint>("aboveIfc");
        QTest::addColumn<Bytes>("data");
        QTest::newRow("full") << bytes({0x20, 0x02, 0x04, 0x01, 0x21, 0x01, 0x01, 0x23, 0x08, 1, 2, 3, 4, 5, 6, 7, 8,
                                        0x30, 0x04, 0x00, 0x01, 0x00, 0x02, 0x90, 0x00, 0x02, 0x03, 0x10})
                              << 0x0401 << 1 << quint64(0x0102030405060708ull) << 0x00010002u << bytes({0x03, 0x10});
        QTest::newRow("any order") << bytes({0x90, 0x00, 0x01, 0x40, 0x21, 0x01, 0x02, 0x20, 0x02, 0x00, 0x08})
                                   << 0x0008 << 2 << quint64(0) << 0u << bytes({0x40});
        QTest::newRow("type length 2 skipped") << bytes({0x21, 0x02, 0x01, 0x01}) << 0 << 0 << quint64(0) << 0u
                                               << Bytes();
        QTest::newRow("status length 1 skipped") << bytes({0x20, 0x01, 0x01}) << 0 << 0 << quint64(0) << 0u << Bytes();
        QTest::newRow("24-bit IFC") << bytes({0x30, 0x03, 0xAB, 0xCD, 0xEF}) << 0 << 0 << quint64(0) << 0xABCDEFu
                                    << Bytes();
        QTest::newRow("IFC length 5 skipped") << bytes({0x30, 0x05, 1, 2, 3, 4, 5}) << 0 << 0 << quint64(0) << 0u
                                              << Bytes();
        QTest::newRow("short frame number") << bytes({0x23, 0x01, 0x2A}) << 0 << 0 << quint64(42) << 0u << Bytes();
        QTest::newRow("frame number 9 skipped") << bytes({0x23, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9}) << 0 << 0
                                                << quint64(0) << 0u << Bytes();
        QTest::newRow("unknown tag skipped") << bytes({0x24, 0x01, 0x07, 0x22, 0x01, 0x05}) << 0 << 0 << quint64(0)
                                             << 0u << Bytes();
    }
    void fromTree()
    {
        QFETCH(Bytes, leaves);
        QFETCH(int, status);
        QFETCH(int, type);
        QFETCH(Bytes, data);
        const Bytes frame = record(leaves);
        const CFipNode n(parse(frame));
        QCOMPARE(int(n.get_frame_status()), status);
        QCOMPARE(flagMask(n), status & 0x077F);
        QCOMPARE(int(n.get_frame_type()), type);
        QCOMPARE(n.is_FIP_type(), type == 1);
        QTEST(quint64(n.get_frame_number()), "frameNumber");
        QTEST(n.get_Above_IFC(), "aboveIfc");
        QVERIFY(n.get_fip_data() == data);
        QVERIFY(n.get_frame() == frame); // the tree itself is kept
    }

    void fromTreeOtherTagStaysEmpty()
    {
        const CFipNode n(parse(bytes({0xC1, 0x00, 0x03, 0x22, 0x01, 0x05})));
        QCOMPARE(int(n.get_tag()), 0xC1);
        QCOMPARE(n.get_counter(), 0);
        QCOMPARE(CFipNode(CTLVNode::Ptr()).get_counter(), 0);
    }

    void setFieldLengths_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("result");
        for (int len = 0; len <= 9; ++len) {
            const auto row = [&](int tag, int good) {
                QTest::addRow("%02x len %d", tag, len)
                    << tag << len << (len == good ? int(CFipNode::FieldStored) : int(CFipNode::FieldWrongLength));
            };
            row(0x20, 2);
            row(0x21, 1);
            row(0x22, 1);
            row(0x23, 8);
            row(0x30, 4);
            row(0x31, 2);
            row(0x32, 2);
            row(0x33, 1);
            row(0x34, 8);
            QTest::addRow("90 len %d", len) << 0x90 << len << int(CFipNode::FieldStored);
        }
        QTest::newRow("unknown 24") << 0x24 << 1 << int(CFipNode::FieldUnknownTag);
        QTest::newRow("unknown C0") << 0xC0 << 1 << int(CFipNode::FieldUnknownTag);
    }
    void setFieldLengths()
    {
        QFETCH(int, tag);
        QFETCH(int, length);
        QFETCH(int, result);
        const Bytes value = bytes({0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09});
        CFipNode n;
        QCOMPARE(int(n.set_field(static_cast<unsigned char>(tag), value.data(), unsigned(length))), result);
        if (result != CFipNode::FieldStored) {
            QVERIFY(tlvForm(n) == tlvForm(CFipNode()));
            return;
        }
        switch (tag) {
        case 0x20: QCOMPARE(n.get_frame_status(), 0x8102); QVERIFY(n.is_TXErr1()); break;
        case 0x21: QCOMPARE(n.get_frame_type(), 0x81); break;
        case 0x23: QCOMPARE(n.get_frame_number(), 0x8102030405060708ull); break;
        case 0x30: QCOMPARE(n.get_Above_IFC(), 0x81020304u); break;
        case 0x31: QCOMPARE(n.get_FC(), 0x8102); break;
        case 0x34: QCOMPARE(n.get_date_tick(), 0x8102030405060708ull); break;
        case 0x90: QVERIFY(n.get_fip_data() == Bytes(value.begin(), value.begin() + length)); break;
        default: break;
        }
    }

    void wordForm_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("fifo");
        QTest::addColumn<Bytes>("data");
        QTest::addColumn<int>("fc");
        QTest::addColumn<uint>("nextIfc");
        QTest::addColumn<Words>("words");
        QTest::newRow("plain") << 0 << false << bytes({0x03, 0x10, 0x05}) << 0x10 << 0x20u
                               << Words{0x103, 0x010, 0x005, 0, 0, 0, 0x30, 0x00};
        QTest::newRow("fifo overflow") << 0 << true << bytes({0x03, 0x10, 0x05}) << 0 << 0u
                                       << Words{0x1FC, 0x0FC, 0, 0, 0, 0, 0x103, 0x010, 0x005, 0, 0, 0, 0, 0x00};
        QTest::newRow("empty data") << 0 << false << Bytes() << 0 << 0u << Words{0x100, 0, 0, 0, 0, 0x00};
        QTest::newRow("glitch") << 0x0001 << false << bytes({0x03, 0x10}) << 0 << 0u
                                << Words{0x1FD, 0x0FD, 0, 0, 0, 0, 0x20};
        QTest::newRow("glitch wins over fsd") << 0x0007 << false << bytes({0x03}) << 0 << 0u
                                              << Words{0x1FD, 0x0FD, 0, 0, 0, 0, 0xE0};
        QTest::newRow("no fsd") << 0x0002 << false << bytes({0x03}) << 0 << 0u
                                << Words{0x1FE, 0x0FE, 0, 0, 0, 0, 0x40};
        QTest::newRow("unknown fsd") << 0x0004 << false << bytes({0x03}) << 0 << 0u
                                     << Words{0x1FE, 0x0FE, 0, 0, 0, 0, 0x80};
        QTest::newRow("channel bits and overflow") << 0x0730 << false << bytes({0x40}) << 0 << 0u
                                                   << Words{0x140, 0, 0, 0, 0, 0x0F};
        QTest::newRow("gap big-endian") << 0 << false << bytes({0x40}) << 0xFFFF << 0x01020304u
                                        << Words{0x140, 0x01, 0x03, 0x03, 0x03, 0x00};
        QTest::newRow("gap wraps at 32 bits") << 0 << false << bytes({0x40}) << 2 << 0xFFFFFFFFu
                                              << Words{0x140, 0, 0, 0, 1, 0x00};
    }
    void wordForm()
    {
        QFETCH(int, status);
        QFETCH(Bytes, data);
        QFETCH(int, fc);
        QFETCH(uint, nextIfc);
        CFipNode n;
        n.set_frame_status(static_cast<unsigned short>(status));
        QFETCH(bool, fifo);
        if (fifo)
            n.set_FIFO_overflow();
        n.set_fip_data(data);
        n.set_FC(static_cast<unsigned short>(fc));
        n.set_Next_IFC(nextIfc);
        QTEST(n.get_formatted_frame_for_OS(), "words");
    }

    void tlvFormExactBytes()
    {
        const CFipNode n = sample();
        Bytes out = bytes({0xEE}); // appends, keeping what was there
        QVERIFY(n.append_tlv_record(out));
        const QByteArray expected = "c00037" "20020521" "210102" "22017e" "23080102030405060708" "3004a1b2c3d4"
                                    "31021234" "3202fedc" "330109" "34081122334455667788" "900005024005aabb";
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), int(out.size())).toHex(), "ee" + expected);
        CFipNode updated = n;
        updated.update_tlv_children();
        QVERIFY(updated.get_frame() == Bytes(out.begin() + 1, out.end()));
        QCOMPARE(updated.get_tlv_children().size(), std::size_t(10));
    }

    void tlvFormRefusesOversizedData()
    {
        CFipNode n;
        n.set_fip_data(Bytes(CFipNode::MaxFipDataSize, 0x55));
        Bytes out;
        QVERIFY(n.append_tlv_record(out));
        QCOMPARE(out.size(), std::size_t(0x10000 + 2));
        QCOMPARE(int(out[1]) << 8 | int(out[2]), 0xFFFF);
        n.set_fip_data(Bytes(CFipNode::MaxFipDataSize + 1, 0x55));
        out.clear();
        QVERIFY(!n.append_tlv_record(out));
        QVERIFY(out.empty());
    }

    // Records written back to back read back field for field, by the tree and by the reader.
    void tlvFormReadsBack()
    {
        CFipNode a = sample(), b = sample();
        b.set_counter(0x7F);
        b.set_fip_data(Bytes(300, 0x66));
        Bytes stream = tlvForm(a);
        QVERIFY(tlvForm(CFipNode(parse(stream))) == stream);
        QVERIFY(b.append_tlv_record(stream));
        CFipRecordReader reader(stream.data(), stream.size());
        CFipNode n;
        reader.read_element(&n);
        QVERIFY(tlvForm(n) == tlvForm(a));
        n.reset();
        reader.read_element(&n);
        QVERIFY(tlvForm(n) == tlvForm(b));
        QVERIFY(reader.at_end());
        QCOMPARE(reader.counters().nodes, 2ull);
        QCOMPARE(reader.counters().tags[0x90], 2ull);
        QCOMPARE(reader.counters().wrong_lengths + reader.counters().unknown_tags + reader.counters().truncated, 0ull);
        CFipRecordReader orphans(stream.data(), stream.size());
        orphans.read_element(nullptr);
        QCOMPARE(orphans.counters().orphan_values, 10ull);
    }

    void readerStream_data()
    {
        QTest::addColumn<Bytes>("stream");
        QTest::addColumn<int>("counter");
        QTest::addColumn<Bytes>("data");
        QTest::addColumn<QList<quint64>>("counts"); // nodes, unknown, wrong, truncated
        QTest::addColumn<int>("elements");
        QTest::newRow("record") << record(bytes({0x22, 0x01, 0x05, 0x90, 0x00, 0x01, 0x40})) << 5 << bytes({0x40})
                                << QList<quint64>{1, 0, 0, 0} << 1;
        QTest::newRow("wrong length dropped") << record(bytes({0x22, 0x02, 0x05, 0x06, 0x90, 0x00, 0x01, 0x40})) << 0
                                              << bytes({0x40}) << QList<quint64>{1, 0, 1, 0} << 1;
        // The unknown leaf's value byte 0x22 is read as a tag: the stream resynchronises.
        QTest::newRow("unknown header only") << record(bytes({0x24, 0x00, 0x22, 0x01, 0x09})) << 9 << Bytes()
                                             << QList<quint64>{1, 1, 0, 0} << 1;
        QTest::newRow("truncated value") << bytes({0xC0, 0x00, 0x06, 0x90, 0x00, 0x05, 0x01}) << 0 << Bytes()
                                         << QList<quint64>{1, 0, 0, 2} << 1;
        QTest::newRow("truncated header") << bytes({0x22, 0x01, 0x03, 0x90}) << 3 << Bytes()
                                          << QList<quint64>{0, 0, 0, 1} << 2;
        QTest::newRow("zero-length node") << concat(bytes({0xC0, 0x00, 0x00}), bytes({0x22, 0x01, 0x04})) << 4
                                          << Bytes() << QList<quint64>{1, 0, 0, 0} << 2;
        QTest::newRow("empty data leaf") << record(bytes({0x90, 0x00, 0x00})) << 0 << Bytes()
                                         << QList<quint64>{1, 0, 0, 0} << 1;
    }
    void readerStream()
    {
        QFETCH(Bytes, stream);
        QFETCH(Bytes, data);
        CFipNode n;
        CFipRecordReader reader(stream.data(), stream.size());
        int read = 0;
        while (!reader.at_end() && read < 100) {
            reader.read_element(&n);
            ++read;
        }
        QTEST(read, "elements");
        QCOMPARE(reader.position(), stream.size());
        QTEST(int(n.get_counter()), "counter");
        QVERIFY(n.get_fip_data() == data);
        const CFipRecordReader::Counters& c = reader.counters();
        QTEST((QList<quint64>{c.nodes, c.unknown_tags, c.wrong_lengths, c.truncated}), "counts");
    }

    void resetKeepsNothing()
    {
        CFipNode n = sample();
        n.set_FIFO_overflow();
        n.set_Next_IFC(5);
        n.update_tlv_children();
        n.reset();
        QVERIFY(tlvForm(n) == tlvForm(CFipNode()));
        QVERIFY(!n.is_FIFO_overflow());
        QCOMPARE(n.get_Next_IFC(), 0u);
        QVERIFY(n.get_tlv_children().empty() && n.get_length() == 0);
        QCOMPARE(int(n.get_tag()), 0xC0);
    }

    void freshRecordSerialises()
    {
        const CFipStatisticsNode stats;
        const Bytes frame = stats.get_frame();
        const unsigned body = 26 * 10 + 8 * 2;
        QCOMPARE(stats.get_length(), body);
        QCOMPARE(frame.size(), std::size_t(3 + body));
        QCOMPARE(int(frame[0]), 0xC1);
        QCOMPARE(int(frame[1]), body >> 8);
        QCOMPARE(int(frame[2]), body & 0xFF);
        std::size_t i = 3;
        for (int tag = 0x01; tag <= 0x22; ++tag) {
            QCOMPARE(int(frame[i]), tag);
            if (tag <= 0x1A) {
                QCOMPARE(int(frame[i + 1]), 8);
                QVERIFY(std::all_of(frame.begin() + long(i + 2), frame.begin() + long(i + 10), [](unsigned char b) { return b == 0; }));
                i += 10;
            } else {
                QCOMPARE(int(frame[i + 1]), 0);
                i += 2;
            }
        }
        QCOMPARE(i, frame.size());
        QCOMPARE(stats.get_tlv_children().size(), std::size_t(34));
    }

    void counterBytes_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<quint64>("value");
        QTest::addColumn<Bytes>("leaf");
        QTest::newRow("rp_fin 1") << 0x14 << quint64(1) << bytes({0x14, 0x08, 1, 0, 0, 0, 0, 0, 0, 0});
        QTest::newRow("id_dat max") << 0x01 << quint64(~0ull) << bytes({0x01, 0x08, 255, 255, 255, 255, 255, 255, 255, 255});
        QTest::newRow("error_fcs order") << 0x1A << quint64(0x0807060504030201ull)
                                         << bytes({0x1A, 0x08, 1, 2, 3, 4, 5, 6, 7, 8});
    }
    void counterBytes()
    {
        QFETCH(int, tag);
        QFETCH(quint64, value);
        QFETCH(Bytes, leaf);
        CFipStatisticsNode stats;
        switch (tag) {
        case 0x14: stats.set_counter_rp_fin(value); QCOMPARE(stats.get_counter_rp_fin(), value); break;
        case 0x01: stats.set_counter_id_dat(value); QCOMPARE(stats.get_counter_id_dat(), value); break;
        case 0x1A: stats.set_counter_error_fcs(value); QCOMPARE(stats.get_counter_error_fcs(), value); break;
        }
        const Bytes frame = stats.get_frame();
        QVERIFY(leafBytes(frame, static_cast<unsigned char>(tag)) == leaf);
        QCOMPARE(frame.size(), std::size_t(3 + 276)); // a counter keeps its size
    }

    // A leaf length is one byte: longer texts are cut, never wrapped.
    void textsStored()
    {
        CFipStatisticsNode stats;
        stats.set_speed("1 Mbits/s");
        stats.set_macrocycle_time("20 ms");
        QCOMPARE(stats.get_length(), 276u + 9 + 5);
        QVERIFY(leafBytes(stats.get_frame(), 0x1C) == bytes({0x1C, 9, '1', ' ', 'M', 'b', 'i', 't', 's', '/', 's'}));
        stats.set_duration(std::string(300, 'x'));
        QCOMPARE(stats.get_duration().size(), std::size_t(255));
        QCOMPARE(stats.get_frame().size(), std::size_t(3 + stats.get_length()));
    }

    void statisticsRoundTripThroughParse()
    {
        CFipStatisticsNode stats;
        stats.set_counter_id_dat(123456789);
        stats.set_counter_rp_msg_no_ack(7);
        // The card's split never completes a zero-length leaf, so every text is set.
        for (unsigned char tag = 0x1B; tag <= 0x22; ++tag)
            stats.set_text(tag, "t");
        const Bytes frame = stats.get_frame();
        const CFipStatisticsNode back(parse(frame));
        QCOMPARE(back.get_counter_id_dat(), 123456789ull);
        QCOMPARE(back.get_counter_rp_msg_no_ack(), 7ull);
        QCOMPARE(back.get_turn_around_time(), std::string("t"));
        QVERIFY(back.get_frame() == frame);
    }

    void emptyTextLosesLaterLeaves()
    {
        CFipStatisticsNode stats;
        stats.set_counter_rp_fin(2);
        stats.set_start_time("t0"); // after the empty frame_type and speed texts
        std::ostringstream diagnostics;
        CTLVComponent::set_debug_output(&diagnostics);
        const CFipStatisticsNode back(parse(stats.get_frame()));
        CTLVComponent::set_debug_output(&std::cout);
        QVERIFY(diagnostics.str().find("cframe_value_length == 0 !!") != std::string::npos);
        QCOMPARE(back.get_counter_rp_fin(), 2ull);
        QCOMPARE(back.get_start_time(), std::string());
    }

    void fromTreeTakesByTag()
    {
        // Out of order, a 7-byte and a 9-byte counter, an unknown tag, and most leaves missing.
        const Bytes frame = bytes({0xC1, 0x00, 0x25,                             //
                                   0x1C, 0x02, 'o', 'k',                         //
                                   0x05, 0x07, 1, 1, 1, 1, 1, 1, 1,              //
                                   0x06, 0x09, 1, 1, 1, 1, 1, 1, 1, 1, 1,        //
                                   0x30, 0x01, 0x09,                             //
                                   0x02, 0x08, 5, 0, 0, 0, 0, 0, 0, 0});
        const CFipStatisticsNode stats(parse(frame));
        QCOMPARE(stats.get_speed(), std::string("ok"));
        QCOMPARE(stats.get_counter_rp_dat(), 0ull); // 7 bytes read as 0
        QCOMPARE(stats.get_counter(0x06), 0ull); // and 9 bytes
        QCOMPARE(stats.get_counter_id_msg(), 5ull);
        QCOMPARE(stats.get_tlv_children().size(), std::size_t(34));
        QCOMPARE(int(stats.get_tlv_children().front()->get_tag()), 0x01);
        QCOMPARE(stats.get_tlv_children_map().size(), std::size_t(34));
    }

    void copiesDoNotShareValues()
    {
        CFipStatisticsNode::Ptr a(new CFipStatisticsNode);
        a->set_counter_id_rq1(4);
        CFipStatisticsNode b{CTLVNode::Ptr(a)};
        b.set_counter_id_rq1(9);
        QCOMPARE(a->get_counter_id_rq1(), 4ull);
        QCOMPARE(b.get_counter_id_rq1(), 9ull);
    }
};

QTEST_GUILESS_MAIN(TestFipNode)
#include "tst_fipnode.moc"
