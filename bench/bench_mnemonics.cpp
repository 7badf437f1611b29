// Mnemonic analysis under the densest traffic: values decoded per second with
// 100 mnemonics on the simulated card's variables; then, with 100 mnemonics
// whose values change on every frame, the memory held per stored change and the
// time of one graph refresh (option built, serialised and evaluated in the page)
// at 10 k, 100 k and 1 M changes.

#include "analysis/MnemoAnalysis.h"
#include "analysis/MnemoGraphOption.h"
#include "capture/decoder/TraceRow.h"
#include "platform/capture/FipTrafficGenerator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

#include <cstdio>

namespace {

long residentKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

MnemoField field(MnemoField::Type type, int start, int stop)
{
    MnemoField f;
    f.type = type;
    f.startBit = start;
    f.stopBit = stop;
    return f;
}

void decodeRate()
{
    FipTrafficGenerator generator(3); // 5 Mbit/s: the densest traffic
    generator.setAperiodicEvery(0);
    MnemoAnalysis analysis;
    const QVector<FipTrafficGenerator::Variable> variables = generator.variables();
    const MnemoField::Type types[] = { MnemoField::UInt8, MnemoField::Bool, MnemoField::UInt16, MnemoField::Int16,
                                       MnemoField::Float };
    int defined = 0;
    for (int n = 0; defined < 100; ++n) {
        const FipTrafficGenerator::Variable& v = variables[n % variables.size()];
        const MnemoField::Type type = types[n % 5];
        const int width = type == MnemoField::Bool ? 1 : type == MnemoField::Float ? 32 : type == MnemoField::UInt8 ? 8 : 16;
        const int start = (n * 3) % qMax(1, v.length * 8 - width + 1);
        analysis.addDefinition(QModelIndex(), field(type, start, start + width - 1), QString("m%1").arg(n), v.id, false);
        ++defined;
    }
    std::vector<int> perIdentifier(65536, 0);
    for (int n = 0; n < 100; ++n)
        ++perIdentifier[variables[n % variables.size()].id];

    std::vector<FipFrame> frames;
    for (int i = 0; i < 400000; ++i)
        frames.push_back(generator.next());
    quint64 values = 0;
    quint16 identifier = 0;
    TraceRow row;
    QElapsedTimer timer;
    timer.start();
    for (int pass = 0; pass < 5; ++pass) {
        for (const FipFrame& f : frames) {
            FipFrameInfo info;
            info.data = reinterpret_cast<const quint8*>(f.bytes.constData());
            info.size = f.bytes.size();
            info.control = quint8(f.bytes[0]);
            info.ok = true;
            info.timestamp = f.timestampUs;
            if (info.control == 0x03 && info.size == 5)
                identifier = quint16((quint8(f.bytes[1]) << 8) | quint8(f.bytes[2]));
            info.identifier = identifier;
            if (info.control == 0x02) {
                analysis.onReplyFrame(info, row);
                values += quint64(perIdentifier[identifier]);
            }
            analysis.onFrameWithoutError(info);
        }
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("mnemonics decoded: %.0f values/s\n", double(values) / seconds);
    std::printf("mnemonics frames treated: %.0f frames/s\n", 5.0 * double(frames.size()) / seconds);
}

/// One refresh of the page: option built, serialised and evaluated; ms.
double refresh(QWebView& view, const MnemoAnalysis& analysis, int selected, bool replace)
{
    QElapsedTimer timer;
    timer.start();
    QList<MnemoSeries> series;
    for (int i = 0; i < selected; ++i)
        series << MnemoSeries { analysis.definition(i).label.name, "UInt16", &analysis.definition(i).history };
    const QJsonObject option = MnemoGraphOption::generateEchartsJsonObject(series, analysis.dates(), "Mnemonics");
    const QString json = QString::fromUtf8(QJsonDocument(option).toJson(QJsonDocument::Compact));
    view.page()->mainFrame()->evaluateJavaScript(
        (replace ? QString("myChart.setOption(%1,true);") : QString("myChart.setOption(%1);")).arg(json));
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    decodeRate();

    QWebView view;
    view.resize(1200, 800);
    QEventLoop wait;
    QObject::connect(&view, &QWebView::loadFinished, &wait, &QEventLoop::quit);
    view.load(QUrl("qrc:/html/mnemograph.html"));
    wait.exec();

    MnemoAnalysis analysis;
    for (int i = 0; i < 100; ++i)
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt16, 16 * i, 16 * i + 15), QString("m%1").arg(i),
                               0x0100, false);
    // One reply of 200 data bytes carries the 100 values: longer than a bus allows, the cost is per value.
    QByteArray frame = QByteArray::fromHex("024000");
    frame.append(QByteArray(200, '\0'));
    frame.append("\0\0", 2);
    FipFrameInfo info;
    info.control = 0x02;
    info.identifier = 0x0100;
    info.ok = true;
    TraceRow row;
    quint64 stored = 0;
    const long baseKb = residentKb();
    for (quint64 target : { 10000ULL, 100000ULL, 1000000ULL }) {
        for (; stored < target; ++stored) {
            auto* data = reinterpret_cast<quint16*>(frame.data() + 3);
            for (int i = 0; i < 100; ++i)
                data[i] = quint16(stored + quint64(i));
            info.data = reinterpret_cast<const quint8*>(frame.constData());
            info.size = frame.size();
            info.timestamp = 1700000000000000ULL + stored * 100;
            analysis.onReplyFrame(info, row);
            analysis.onFrameWithoutError(info);
        }
        // What the histories and dates hold (capacities), and what the process grew by.
        double held = double(analysis.dates().capacity()) * sizeof(qint64);
        for (int i = 0; i < analysis.count(); ++i)
            held += double(analysis.definition(i).history.values.capacity()) * sizeof(quint64);
        std::printf("mnemonics memory held at %llu changes: %.0f bytes/change (100 values and a date)\n",
                    static_cast<unsigned long long>(stored), held / double(stored));
        std::printf("mnemonics resident growth at %llu changes: %.0f bytes/change\n",
                    static_cast<unsigned long long>(stored), double(residentKb() - baseKb) * 1024.0 / double(stored));
        for (int selected : { 4, 100 }) {
            refresh(view, analysis, selected, true); // the selection changed: the option replaced
            const double merge = refresh(view, analysis, selected, false);
            std::printf("mnemonics graph refresh at %llu changes, %d series: %.1f ms\n",
                        static_cast<unsigned long long>(stored), selected, merge);
        }
    }
    return analysis.dates().size() == 1000000 ? 0 : 1;
}
