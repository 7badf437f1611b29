#include <QFile>
#include <QtTest>

// The chart pages load their libraries from the resources; a wrong version
// or a missing file shows as a blank chart, so check what was embedded.
class TestLibraries : public QObject
{
    Q_OBJECT
private slots:
    void embedded_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("marker");
        QTest::newRow("d3") << ":/lib/d3.min.js" << QByteArray("5.7.0");
        QTest::newRow("c3") << ":/lib/c3.min.js" << QByteArray("0.6.8");
        QTest::newRow("c3 css") << ":/lib/c3.min.css" << QByteArray(".c3");
        QTest::newRow("echarts") << ":/lib/echarts.min.js" << QByteArray("3.5.4");
        QTest::newRow("jquery") << ":/lib/jquery.min.js" << QByteArray("1.11.0");
        QTest::newRow("bootstrap css") << ":/lib/bootstrap.min.css" << QByteArray("v3.3.6");
        QTest::newRow("bootstrap js") << ":/lib/bootstrap.min.js" << QByteArray("v3.3.6");
    }
    void embedded()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, marker);
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray content = file.readAll();
        QVERIFY(content.size() > 1000);
        QVERIFY2(content.contains(marker), marker.constData());
    }
};

QTEST_GUILESS_MAIN(TestLibraries)
#include "tst_libraries.moc"
