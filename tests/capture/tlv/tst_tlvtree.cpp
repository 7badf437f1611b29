#include "capture/tlv/CTLVLeaf.h"
#include "capture/tlv/CTLVNode.h"

#include <QtTest>

#include <iostream>
#include <sstream>
#include <stdexcept>

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes bytes(std::initializer_list<int> list)
{
    Bytes out;
    for (int v : list)
        out.push_back(static_cast<unsigned char>(v));
    return out;
}

Bytes filled(std::size_t n, unsigned char seed)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(seed + i * 7);
    return out;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// depth 0xC0 nodes each wrapping the next, the innermost holding one leaf.
Bytes nested(int depth)
{
    Bytes frame = bytes({0x21, 0x01, 0x42});
    for (int d = 0; d < depth; ++d) {
        const unsigned n = unsigned(frame.size());
        frame = concat(bytes({0xC0, int(n >> 8), int(n & 0xFF)}), frame);
    }
    return frame;
}

const Bytes kNested = bytes({0xC0, 0x00, 0x08, 0x40, 0x03, 0x21, 0x01, 0x05, 0x22, 0x01, 0x06});
const Bytes kRecord = bytes({0xC0, 0x00, 0x06, 0x21, 0x01, 0x01, 0x22, 0x01, 0x07});

// Leaves of a tree, depth first, as "tag:hex" texts, for compact comparisons.
QStringList leafList(const CTLVComponent& c)
{
    QStringList out;
    if (!c.is_node() && c.get_tag() != 0) {
        const Bytes& v = c.get_value();
        out << QString::asprintf("%02x:", c.get_tag())
                + QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size())).toHex();
        return out;
    }
    for (const CTLVComponent::Ptr& child : c.get_tlv_children())
        out << (child->is_node() ? QStringList{QString::asprintf("[%02x", child->get_tag())} + leafList(*child) + QStringList{"]"}
                                 : leafList(*child));
    return out;
}

// Routes the debug output to a string for the life of the object.
class CapturedOutput
{
public:
    CapturedOutput() { CTLVComponent::set_debug_output(&m_stream); }
    ~CapturedOutput() { CTLVComponent::set_debug_output(&std::cout); }
    std::string text() const { return m_stream.str(); }
    int count(const std::string& needle) const
    {
        const std::string s = m_stream.str();
        int n = 0;
        for (std::size_t p = s.find(needle); p != std::string::npos; p = s.find(needle, p + 1))
            ++n;
        return n;
    }

private:
    std::ostringstream m_stream;
};

} // namespace

class TestTlvTree : public QObject
{
    Q_OBJECT

private slots:
    void leafParse_data()
    {
        QTest::addColumn<Bytes>("frame");
        QTest::addColumn<int>("tag");
        QTest::addColumn<uint>("length");
        QTest::addColumn<Bytes>("value");
        QTest::addColumn<bool>("isNode");
        QTest::addColumn<bool>("twoByte");
        QTest::newRow("one byte") << bytes({0x21, 0x01, 0x05}) << 0x21 << 1u << bytes({0x05}) << false << false;
        QTest::newRow("empty value") << bytes({0x21, 0x00}) << 0x21 << 0u << Bytes() << false << false;
        QTest::newRow("header only two-byte") << bytes({0x90, 0x00, 0x00}) << 0x90 << 0u << Bytes() << false << true;
        QTest::newRow("two-byte header cut") << bytes({0x90, 0x00}) << 0x90 << 0u << Bytes() << false << true;
        QTest::newRow("tag only") << bytes({0x22}) << 0x22 << 0u << Bytes() << false << false;
        QTest::newRow("length bytes not read") << bytes({0x23, 0x09, 0xAA, 0xBB}) << 0x23 << 2u << bytes({0xAA, 0xBB})
                                               << false << false;
        QTest::newRow("256 bytes") << concat(bytes({0x90, 0x01, 0x00}), filled(256, 3)) << 0x90 << 256u
                                   << filled(256, 3) << false << true;
        QTest::newRow("node frame") << bytes({0xC0, 0x00, 0x03, 0x21, 0x01, 0x05}) << 0 << 0u << Bytes() << true << true;
        QTest::newRow("one-byte node frame") << bytes({0x40, 0x03, 0x21, 0x01, 0x05}) << 0 << 0u << Bytes() << true
                                             << false;
    }
    void leafParse()
    {
        QFETCH(Bytes, frame);
        QFETCH(Bytes, value);
        const CTLVLeaf leaf(frame.data(), unsigned(frame.size()));
        QTEST(int(leaf.get_tag()), "tag");
        QTEST(leaf.get_length(), "length");
        QVERIFY(leaf.get_value() == value);
        QTEST(leaf.is_node(), "isNode");
        QTEST(leaf.is_two_byte_length(), "twoByte");
        QVERIFY(leaf.get_tlv_children().empty());
    }

    // The length field changes form with the tag, not the size: a one-byte leaf keeps
    // only the low byte, a two-byte leaf writes the high byte first.
    void leafEncodingBoundaries_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("size");
        QTest::addColumn<Bytes>("header");
        QTest::newRow("1B 0") << 0x21 << 0 << bytes({0x21, 0x00});
        QTest::newRow("1B 127") << 0x21 << 127 << bytes({0x21, 0x7F});
        QTest::newRow("1B 128") << 0x21 << 128 << bytes({0x21, 0x80});
        QTest::newRow("1B 255") << 0x21 << 255 << bytes({0x21, 0xFF});
        QTest::newRow("2B 0") << 0x90 << 0 << bytes({0x90, 0x00, 0x00});
        QTest::newRow("2B 255") << 0x90 << 255 << bytes({0x90, 0x00, 0xFF});
        QTest::newRow("2B 256") << 0x90 << 256 << bytes({0x90, 0x01, 0x00});
        QTest::newRow("2B 65535") << 0x90 << 65535 << bytes({0x90, 0xFF, 0xFF});
    }
    void leafEncodingBoundaries()
    {
        QFETCH(int, tag);
        QFETCH(int, size);
        QFETCH(Bytes, header);
        const Bytes data = filled(std::size_t(size), 0x11);
        const CTLVLeaf leaf(static_cast<unsigned char>(tag), data.data(), unsigned(size));
        QCOMPARE(leaf.encoded_size(), unsigned(header.size()) + unsigned(size));
        const Bytes frame = leaf.get_frame();
        QVERIFY(frame == concat(header, data));
        const CTLVLeaf back(frame.data(), unsigned(frame.size()));
        QCOMPARE(int(back.get_tag()), tag);
        QCOMPARE(back.get_length(), unsigned(size));
        QVERIFY(back.get_value() == data);
    }

    void leafValues()
    {
        // A node tag holds no value of its own.
        const Bytes data = bytes({1, 2, 3});
        const CTLVLeaf node(0xC0, data.data(), 3);
        QVERIFY(node.is_node() && node.get_length() == 0 && node.get_value().empty());
        // Added values grow the length past one byte.
        CTLVLeaf leaf(0x90);
        const Bytes a = filled(200, 1), b = filled(100, 9);
        leaf.add_value(a.data(), 200);
        leaf.add_value(b.data(), 100);
        leaf.add_value(nullptr, 0);
        QVERIFY(leaf.get_frame() == concat(concat(bytes({0x90, 0x01, 0x2C}), a), b));
        leaf.set_value(nullptr, 0);
        QCOMPARE(leaf.get_length(), 0u);
    }

    void nodeParse_data()
    {
        QTest::addColumn<Bytes>("frame");
        QTest::addColumn<int>("tag");
        QTest::addColumn<uint>("length");
        QTest::addColumn<QStringList>("leaves");
        QTest::newRow("two leaves") << kRecord << 0xC0 << 6u << QStringList{"21:01", "22:07"};
        QTest::newRow("one-byte node") << bytes({0x40, 0x03, 0x21, 0x01, 0x05}) << 0x40 << 3u << QStringList{"21:05"};
        QTest::newRow("two-byte child") << bytes({0xC0, 0x00, 0x05, 0x90, 0x00, 0x02, 0xAB, 0xCD}) << 0xC0 << 5u
                                        << QStringList{"90:abcd"};
        QTest::newRow("nested") << kNested << 0xC0 << 8u << QStringList{"[40", "21:05", "]", "22:06"};
        QTest::newRow("at depth limit") << nested(CTLVComponent::MaxParseDepth) << 0xC0
                                        << uint(nested(CTLVComponent::MaxParseDepth).size() - 3)
                                        << QVector<QString>(CTLVComponent::MaxParseDepth - 1, "[c0").toList() + QStringList{"21:42"}
                + QVector<QString>(CTLVComponent::MaxParseDepth - 1, "]").toList();
        QTest::newRow("overrun drops child") << bytes({0xC0, 0x00, 0x04, 0x21, 0x05, 0x01, 0x02}) << 0xC0 << 4u
                                             << QStringList{};
        QTest::newRow("overrun keeps earlier") << bytes({0xC0, 0x00, 0x07, 0x21, 0x01, 0x01, 0x22, 0x09, 0x01, 0x02})
                                               << 0xC0 << 7u << QStringList{"21:01"};
        QTest::newRow("zero length loses rest")
            << bytes({0xC0, 0x00, 0x08, 0x21, 0x01, 0x01, 0x22, 0x00, 0x23, 0x01, 0x02}) << 0xC0 << 8u
            << QStringList{"21:01"};
        QTest::newRow("incomplete tail") << bytes({0xC0, 0x00, 0x05, 0x21, 0x01, 0x01, 0x90, 0x00}) << 0xC0 << 5u
                                         << QStringList{"21:01"};
        QTest::newRow("own length ignored") << bytes({0xC0, 0xFF, 0xFF, 0x21, 0x01, 0x01}) << 0xC0 << 3u
                                            << QStringList{"21:01"};
        QTest::newRow("leaf frame") << bytes({0x21, 0x01, 0x05}) << 0 << 0u << QStringList{};
    }
    void nodeParse()
    {
        QFETCH(Bytes, frame);
        QFETCH(int, tag);
        CapturedOutput quiet;
        const CTLVNode node(frame.data(), unsigned(frame.size()));
        QCOMPARE(int(node.get_tag()), tag);
        QTEST(node.get_length(), "length");
        QTEST(leafList(node), "leaves");
        if (tag != 0)
            QVERIFY(node.get_value() == Bytes(frame.begin() + node.header_size(), frame.end()));
        else
            QVERIFY(!node.is_node() && node.get_value().empty());
    }

    void nodeRoundTrip_data()
    {
        QTest::addColumn<Bytes>("frame");
        QTest::newRow("record") << kRecord;
        QTest::newRow("nested") << kNested;
        QTest::newRow("255-byte child") << concat(bytes({0xC0, 0x01, 0x01, 0x21, 0xFF}), filled(255, 4));
        QTest::newRow("256-byte child") << concat(bytes({0xC0, 0x01, 0x03, 0x90, 0x01, 0x00}), filled(256, 5));
    }
    void nodeRoundTrip()
    {
        QFETCH(Bytes, frame);
        CapturedOutput out;
        const CTLVNode node(frame.data(), unsigned(frame.size()));
        QVERIFY(node.get_frame() == frame);
        QCOMPARE(out.text(), std::string()); // well-formed input reports nothing
    }

    void nodeRefused_data()
    {
        QTest::addColumn<Bytes>("frame");
        QTest::newRow("C0 tag only") << bytes({0xC0});
        QTest::newRow("C0 length 0") << bytes({0xC0, 0x00, 0x00});
        QTest::newRow("C0 one length byte") << bytes({0xC0, 0x00});
        QTest::newRow("40 length 0") << bytes({0x40, 0x00});
        QTest::newRow("past depth limit") << nested(CTLVComponent::MaxParseDepth + 1);
    }
    void nodeRefused()
    {
        QFETCH(Bytes, frame);
        QVERIFY_EXCEPTION_THROWN(CTLVNode(frame.data(), unsigned(frame.size())), std::out_of_range);
    }

    void nodeDiagnostics_data()
    {
        QTest::addColumn<Bytes>("frame");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<int>("count");
        // Child 0x21 claims 5 bytes but only 2 remain: one report per remaining byte.
        QTest::newRow("overrun") << bytes({0xC0, 0x00, 0x04, 0x21, 0x05, 0x01, 0x02})
                                 << "ERROR TLV PACKET SPLIT !! LEN field too important"
                                    " - cframe_start_value_index + cframe_value_length = 0007 - frame size = 0004\n"
                                 << 2;
        QTest::newRow("zero length") << bytes({0xC0, 0x00, 0x05, 0x22, 0x00, 0x23, 0x01, 0x02})
                                     << "cframe_value_length == 0 !!\n" << 3;
        QTest::newRow("zero length stray") << bytes({0xC0, 0x00, 0x03, 0x22, 0x00, 0x23})
                                           << "ERROR TLV PACKET SPLIT !! - Ne doit pas entrer ici - tag_offset = 0x00"
                                              " - tag = 22 - i = 0002 - cframe_start_value_index = 0002"
                                              " - cframe_value_length = 0000\ntwo_byte_length = false\n"
                                              " 0x22 0x00\n 0x23\n\n"
                                           << 1;
    }
    void nodeDiagnostics()
    {
        QFETCH(Bytes, frame);
        QFETCH(QString, needle);
        CapturedOutput out;
        const CTLVNode node(frame.data(), unsigned(frame.size()));
        QTEST(out.count(needle.toStdString()), "count");
    }

    void addLength_data()
    {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("childLength");
        QTest::addColumn<uint>("growth");
        QTest::newRow("one-byte 3") << 0x21 << 3 << 5u;
        QTest::newRow("one-byte 0") << 0x21 << 0 << 2u;
        QTest::newRow("two-byte 300") << 0x90 << 300 << 303u;
        QTest::newRow("two-byte 0") << 0x90 << 0 << 3u;
    }
    void addLength()
    {
        QFETCH(int, tag);
        QFETCH(int, childLength);
        CTLVNode node(0xC0);
        const Bytes data = filled(std::size_t(childLength), 2);
        node.add(CTLVComponent::Ptr(new CTLVLeaf(static_cast<unsigned char>(tag), data.data(), unsigned(childLength))));
        QTEST(node.get_length(), "growth");
        node.add(CTLVComponent::Ptr());
        QCOMPARE(node.get_tlv_children().size(), std::size_t(1));
    }

    void handBuiltTrees()
    {
        CTLVNode::Ptr inner(new CTLVNode(0x40));
        const unsigned char five = 5, six = 6;
        inner->add(CTLVComponent::Ptr(new CTLVLeaf(0x21, &five, 1)));
        CTLVNode outer(0xC0);
        outer.add(inner);
        outer.add(CTLVComponent::Ptr(new CTLVLeaf(0x22, &six, 1)));
        QVERIFY(outer.get_frame() == kNested);
        // A leaf tag takes no children.
        const CTLVComponent::Children kids{CTLVComponent::Ptr(new CTLVLeaf(0x21))};
        QVERIFY(CTLVNode(0x21, kids).get_tlv_children().empty());
        QCOMPARE(CTLVNode(0xC0, kids).get_tlv_children().size(), std::size_t(1));
    }

    void copySharesChildren()
    {
        CTLVNode::Ptr source(new CTLVNode(kRecord.data(), unsigned(kRecord.size())));
        const CTLVNode copy(source);
        QVERIFY(copy.get_frame() == kRecord);
        QCOMPARE(copy.get_tlv_children()[0].get(), source->get_tlv_children()[0].get());
        const CTLVNode viaBase{CTLVComponent::Ptr(source)};
        QVERIFY(viaBase.get_frame() == kRecord);
        const CTLVNode fromNull{CTLVNode::Ptr()};
        QCOMPARE(int(fromNull.get_tag()), 0);
    }

};

QTEST_GUILESS_MAIN(TestTlvTree)
#include "tst_tlvtree.moc"
