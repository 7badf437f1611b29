// The donut page loaded from the resources in a real web view, driven with the
// slices of a known macrocycle and read back from the page's DOM.

#include "analysis/AnalysisContext.h"
#include "analysis/MacrocycleDonut.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

namespace {

const QString mu = QString(QChar(0x03BC));

/// The arcs drawn, as "label=fill" sorted, once the page settled on `count` of them.
QString arcs(QWebView& view)
{
    return view.page()
        ->mainFrame()
        ->evaluateJavaScript(
            "d3.selectAll('.c3-chart-arc path').nodes().map(function (p) {"
            "  return d3.select(p).datum().data.id + '=' + window.getComputedStyle(p).fill; }).sort().join(';')")
        .toString();
}

} // namespace

class TestMacrocycleDonut : public QObject
{
    Q_OBJECT

private slots:
    void page_data();
    void page();
    void unchangedMacrocycleNotRedrawn();
};

void TestMacrocycleDonut::page_data()
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

void TestMacrocycleDonut::page()
{
    QFETCH(int, maxSlices);
    QFETCH(QStringList, expected);

    QWebView view;
    view.resize(900, 500);
    QSignalSpy loaded(&view, &QWebView::loadFinished);
    view.load(QUrl(MacrocycleDonut::pageUrl()));
    QVERIFY(loaded.wait(10000));
    QVERIFY(loaded.first().first().toBool());
    // Scripts that did not load leave no chart.
    QCOMPARE(view.page()->mainFrame()->evaluateJavaScript("typeof d3 + ' ' + typeof c3 + ' ' + typeof chart").toString(),
             QString("object object object"));
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
}

void TestMacrocycleDonut::unchangedMacrocycleNotRedrawn()
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

QTEST_MAIN(TestMacrocycleDonut)
#include "tst_macrocycledonut.moc"
