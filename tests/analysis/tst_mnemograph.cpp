// The graph page loaded from the resources in a real web view, given a chart
// option with known steps and read back through the chart's own API.

#include "analysis/MnemoGraphOption.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

class TstMnemoGraph : public QObject
{
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
};

void TstMnemoGraph::steps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<qint64>>("raws");
    QTest::addColumn<QString>("drawn"); // the series' data as the chart holds it
    QTest::newRow("uint16 steps") << int(MnemoField::UInt16) << QList<qint64> { 0, 300, 300, 65535 } << "0,300,300,65535";
    QTest::newRow("int16 negative") << int(MnemoField::Int16) << QList<qint64> { -5, 7, -32768 } << "-5,7,-32768";
    QTest::newRow("bool") << int(MnemoField::Bool) << QList<qint64> { 0, 1, 0 } << "false,true,false";
}

void TstMnemoGraph::steps()
{
    QFETCH(int, type);
    QFETCH(QList<qint64>, raws);
    QFETCH(QString, drawn);

    QWebView view;
    view.resize(900, 500);
    QSignalSpy loaded(&view, &QWebView::loadFinished);
    view.load(QUrl("qrc:/html/mnemograph.html"));
    QVERIFY(loaded.wait(10000));
    QVERIFY(loaded.first().first().toBool());
    QWebFrame* frame = view.page()->mainFrame();
    QCOMPARE(frame->evaluateJavaScript("typeof echarts + ' ' + typeof jQuery + ' ' + typeof myChart").toString(),
             QString("object function object"));

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
    QCOMPARE(read("o.series[0].data.join(',')"), drawn);
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

QTEST_MAIN(TstMnemoGraph)
#include "tst_mnemograph.moc"
