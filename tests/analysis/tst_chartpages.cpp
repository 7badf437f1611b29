// The chart pages loaded from the resources in a real web view: the donut driven
// with the slices of a known macrocycle and read back from the page's DOM, the
// mnemonic graph given a chart option with known steps and read back through the
// chart's own API.

#include "analysis/AnalysisContext.h"
#include "analysis/MacrocycleDonut.h"
#include "analysis/MnemoGraphOption.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

namespace {

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

class TestChartPages : public QObject
{
    Q_OBJECT

private slots:
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
        const QStringList legend = view.page()
                                       ->mainFrame()
                                       ->evaluateJavaScript("d3.selectAll('.c3-legend-item text').nodes()"
                                                            ".map(function (t) { return t.textContent; }).join(';')")
                                       .toString()
                                       .split(';');
        QCOMPARE(legend.size(), expected.size());

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

        MnemoHistory steps;
        steps.field.type = MnemoField::Type(type);
        steps.first = 0;
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

        const auto read = [&](const QString& expression) {
            return frame->evaluateJavaScript("(function(){ var o = myChart.getOption(); return " + expression + "; })()")
                .toString();
        };
        QCOMPARE(read("o.series.length + ' ' + o.grid.length + ' ' + o.xAxis.length"), QString("2 2 2"));
        QTEST(read("o.series[0].data.join(',')"), "drawn");
        QCOMPARE(read("o.series[0].step + ' ' + o.series[0].type + ' ' + o.series[1].xAxisIndex"), QString("end line 1"));
        QCOMPARE(read("o.series[1].data[0] === null"), QString("true"));
        QCOMPARE(read("o.yAxis[0].name"), QString("speed (rpm)"));
        QCOMPARE(read("o.grid[1].top + ' ' + o.grid[1].height"), QString("53% 37%"));
        QCOMPARE(read("o.xAxis[0].data.length"), QString::number(raws.size()));
        QCOMPARE(read("$('#empty').is(':visible')"), QString("false"));

        // The canvas holds the picture: it is not a blank page.
        const QImage picture = view.grab().toImage();
        const QRgb background = picture.pixel(2, 2);
        int drawnPixels = 0;
        for (int y = 0; y < picture.height(); y += 2) {
            for (int x = 0; x < picture.width(); x += 2)
                drawnPixels += picture.pixel(x, y) != background;
        }
        QVERIFY2(drawnPixels > 2000, qPrintable(QString::number(drawnPixels)));

        // A reset leaves the chart empty.
        frame->evaluateJavaScript("resetChart();");
        QCOMPARE(read("$('#empty').is(':visible')"), QString("true"));
    }
};

QTEST_MAIN(TestChartPages)
#include "tst_chartpages.moc"
