// The window's pcapng export and import: a converted capture exported, then
// opened again from the pcapng, gives the window the same rows and figures;
// a capture of another link type is refused with a message.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "app/FrameFilterBar.h"
#include "app/BX.h"
#include "tests/app/BoxAnswerer.h"
#include "tests/capture/pcapng/SimulatedCapture.h"

#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TstBXPcapng : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exportAndImportGiveTheSameAnalysis();
    void filteredTableExportsTheFramesItShows();
    void otherLinkTypeRefused();

private:
    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
};

void TstBXPcapng::initTestCase()
{
    qputenv("TZ", "UTC");
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TstBXPcapng::exportAndImportGiveTheSameAnalysis()
{
    const QString base = m_dir.filePath("simulated");
    QVERIFY(SimulatedCapture::make(base, 3000, 2, 1));
    const QString trace = m_dir.filePath("window.vtrc");
    const QString pcapng = m_dir.filePath("window.pcapng");

    quint64 frames = 0;
    quint64 fcsErrors = 0;
    {
        BX bx;
        bx.findChild<QRadioButton*>("paddingVisibleYes")->setChecked(true);
        bx.findChild<QRadioButton*>("logErrorsYes")->setChecked(true);
        BoxAnswerer answers({});
        QVERIFY(bx.generateVtrcFile(base + ".praw", trace, 2));
        QVERIFY(bx.exportCaptureToPcapng(trace, pcapng));
        frames = bx.analysisContext()->counters.frameTotal;
        fcsErrors = bx.analysisContext()->counters.errorFCS;
        QVERIFY(fcsErrors > 0);
    }
    QFile::rename(trace, m_dir.filePath("original.vtrc"));

    BX bx;
    bx.findChild<QRadioButton*>("paddingVisibleYes")->setChecked(true);
    bx.findChild<QRadioButton*>("logErrorsYes")->setChecked(true);
    BoxAnswerer answers({});
    QVERIFY(bx.importPcapngCapture(pcapng));
    QCOMPARE(bx.analysisContext()->counters.frameTotal, frames);
    QCOMPARE(bx.analysisContext()->counters.errorFCS, fcsErrors);
    const QStringList original = SimulatedCapture::readRows(m_dir.filePath("original.vtrc"));
    const QStringList imported = SimulatedCapture::readRows(trace);
    QCOMPARE(bx.frameTableModel()->rowCount(), original.size());
    QCOMPARE(imported.size(), original.size());
    for (int i = 0; i < original.size(); ++i) {
        QStringList a = original.at(i).split('\t');
        QStringList b = imported.at(i).split('\t');
        a[0] = a[2] = a[3] = b[0] = b[2] = b[3] = QString();
        if (a != b)
            QFAIL(qPrintable(QString("row %1 differs:\n%2\n%3").arg(i).arg(original.at(i), imported.at(i))));
    }
    QVERIFY(original.filter("\tSM_MPS\t").size() + original.filter("\tMPS\t").size() > 0);
}

void TstBXPcapng::filteredTableExportsTheFramesItShows()
{
    const QString base = m_dir.filePath("filtered");
    QVERIFY(SimulatedCapture::make(base, 3000, 2, 1));
    const QString trace = m_dir.filePath("table.vtrc");
    const QString pcapng = m_dir.filePath("fcs.pcapng");
    BX bx;
    bx.findChild<QRadioButton*>("logErrorsYes")->setChecked(true);
    BoxAnswerer answers({ QMessageBox::Yes });
    QVERIFY(bx.generateVtrcFile(base + ".praw", trace, 2));
    const quint64 fcsErrors = bx.analysisContext()->counters.errorFCS;
    QVERIFY(fcsErrors > 0);
    QVERIFY(bx.frameFilterBar()->applyFilter("error.fcs"));
    QTRY_VERIFY(bx.frameFilterModel()->isFiltered() && !bx.frameFilterModel()->isMatching());
    QCOMPARE(quint64(bx.frameFilterModel()->rowCount()), fcsErrors);
    QVERIFY(bx.exportCaptureToPcapng(trace, pcapng));

    // Read back: only the FCS errors went out.
    QVERIFY(bx.importPcapngCapture(pcapng));
    QCOMPARE(answers.texts.size(), 1); // the analysis open is replaced
    QCOMPARE(bx.analysisContext()->counters.errorFCS, fcsErrors);
    QCOMPARE(quint64(bx.frameTableModel()->rowCount()), fcsErrors);
}

void TstBXPcapng::otherLinkTypeRefused()
{
    // An Ethernet capture: section header, interface of link type 1, one packet.
    const QByteArray file = QByteArray::fromHex("0a0d0d0a1c0000004d3c2b1a01000000ffffffffffffffff1c000000"
                                                "010000001400000001000000000000001400000006000000240000"
                                                "0000000000000000000000000004000000040000006162636424000000");
    const QString path = m_dir.filePath("ethernet.pcapng");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    BX bx;
    BoxAnswerer answers({ QMessageBox::Ok });
    QVERIFY(!bx.importPcapngCapture(path));
    QCOMPARE(answers.texts.size(), 1);
    QVERIFY2(answers.texts.first().contains("link type 1,"), qPrintable(answers.texts.first()));
}

QTEST_MAIN(TstBXPcapng)
#include "tst_bxpcapng.moc"
