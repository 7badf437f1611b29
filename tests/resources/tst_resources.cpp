#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QtTest>

static QString iconPath(const char* stem)
{
    return QStringLiteral(":/images/images/icon_%1.png").arg(QLatin1String(stem));
}

// The pixel size written in a file name ("_48x48.png"); an invalid size when the name has none.
static QSize sizeInName(const QString& path)
{
    static const QRegularExpression re(QStringLiteral("_(\\d+)x(\\d+)\\.png$"));
    const QRegularExpressionMatch m = re.match(path);
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

// 'r', 'y', 'g' or 'b' for a clearly coloured pixel, '-' for grey or transparent ones.
static char colourFamily(QRgb pixel)
{
    const QColor c = QColor::fromRgba(pixel);
    if (c.alpha() < 200 || c.hsvSaturation() < 100)
        return '-';
    const int h = c.hsvHue();
    if (h < 20 || h >= 340)
        return 'r';
    if (h < 65)
        return 'y';
    if (h < 170)
        return 'g';
    if (h < 250)
        return 'b';
    return '-';
}

static QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Relative luminance of an sRGB colour, for the contrast of the status bar text.
static double luminance(const QColor& c)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

class TestResources : public QObject
{
    Q_OBJECT
private slots:
    // Every icon shipped; the sources' own paths are checked to exist below. A broken file shows
    // as an empty decoration with no error, so each one is loaded and measured.
    void icons_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* folder : { ":/images/images/", ":/images/rendering/" }) {
            const QDir dir { QString::fromLatin1(folder) };
            for (const QString& name : dir.entryList({ QStringLiteral("*.png") }, QDir::Files))
                QTest::newRow(qPrintable(name)) << dir.filePath(name);
        }
    }
    void icons()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        const QSize expected = sizeInName(path);
        if (expected.isValid())
            QCOMPARE(image.size(), expected);
        else
            QVERIFY(image.width() == image.height() && image.width() >= 48);
        // The icon picker rebuilds the path from the shown name: "traffic light" is icon_traffic_light_48x48.png.
        static const QRegularExpression picked(QStringLiteral("^:/images/rendering/icon_[a-z0-9]+(_[a-z0-9]+)*_48x48\\.png$"));
        QVERIFY(!path.startsWith(QLatin1String(":/images/rendering/")) || picked.match(path).hasMatch());
        // Drawn on a transparent ground, and not blank.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128;
        QVERIFY2(opaque > image.width() * image.height() / 10, qPrintable(path));
    }

    void colours_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<char>("family");
        QTest::newRow("arbiter green") << iconPath("arbiter_green_48x48") << QPoint(24, 7) << 'g';
        QTest::newRow("arbiter red") << iconPath("arbiter_red_48x48") << QPoint(24, 7) << 'r';
        QTest::newRow("arbiter yellow") << iconPath("arbiter_yellow_48x48") << QPoint(24, 7) << 'y';
        QTest::newRow("arbiter plain") << iconPath("arbiter_48x48") << QPoint(24, 7) << '-';
        QTest::newRow("flag true") << iconPath("true_flag_green_48x48") << QPoint(36, 18) << 'g';
        QTest::newRow("flag false") << iconPath("false_flag_red_48x48") << QPoint(36, 18) << 'r';
        QTest::newRow("info") << iconPath("info_blue_tr_48x48") << QPoint(8, 24) << 'b';
        QTest::newRow("warning") << iconPath("warning_yellow_tr_48x48") << QPoint(12, 38) << 'y';
        QTest::newRow("error") << iconPath("error_red_tr_48x48") << QPoint(8, 24) << 'r';
        QTest::newRow("search") << iconPath("search_yellow_48x48") << QPoint(20, 8) << 'y';
    }
    void colours()
    {
        QFETCH(QString, path);
        QFETCH(QPoint, at);
        QTEST(colourFamily(QImage(path).pixel(at)), "family");
    }

    void spinners()
    {
        for (const char* path : { ":/images/images/spinner1.gif", ":/images/images/spinner3.gif" }) {
            QImageReader reader(path);
            QVERIFY2(reader.supportsAnimation() && reader.imageCount() >= 8 && reader.loopCount() != 0, path);
            QImage first;
            QVERIFY(reader.read(&first));
            QVERIFY(reader.nextImageDelay() > 0);
            QImage second;
            QVERIFY(reader.read(&second));
            QCOMPARE(second.size(), first.size());
            QVERIFY(second != first);
        }
    }

    void styleSheet()
    {
        const QString qss = QString::fromUtf8(readAll(QStringLiteral(":/css/style.qss")));
        QVERIFY(!qss.isEmpty());
        QCOMPARE(qss.count(QLatin1Char('{')), qss.count(QLatin1Char('}')));

        // The status message is white text: the bar behind it must give it a readable contrast.
        const QRegularExpressionMatch bar = QRegularExpression(
            QStringLiteral("QStatusBar\\s*\\{[^}]*background-color:\\s*(#[0-9a-fA-F]{6})")).match(qss);
        QVERIFY(bar.hasMatch());
        const double contrast = 1.05 / (luminance(QColor(bar.captured(1))) + 0.05);
        QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast)));
    }

    void credits()
    {
        const QString html = QString::fromUtf8(readAll(QStringLiteral(":/html/credits.html")));
        QVERIFY(html.startsWith(QLatin1String("<!DOCTYPE html>")));
        QVERIFY(html.trimmed().endsWith(QLatin1String("</html>")));
        for (const char* text : { "qrc:/lib/bootstrap.min.css", "Qt", "Lesser General Public License", "Boost Software License",
                                  "5.7.0", "0.6.8", "3.5.4", "1.11.0", "3.3.6", "MIT License", "BSD 3-Clause License" })
            QVERIFY2(html.contains(QLatin1String(text)), text);
    }

    void namedResourcesExist()
    {
        // Every resource path written in the sources, and every icon file named
        // on its own (the window's image() helper adds the folder), is a resource.
        static const QRegularExpression literal(QStringLiteral(":/[A-Za-z0-9_./-]+\\.(png|gif|qss|html)"));
        static const QRegularExpression bare(QStringLiteral("\"(icon_[A-Za-z0-9_]+\\.png)\""));
        int checked = 0;
        for (const char* folder : { "app", "analysis", "capture", "control", "design", "shell" }) {
            QDirIterator it(QStringLiteral(BX_SOURCE_DIR "/") + QLatin1String(folder),
                            { QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.ui") }, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString source = it.next();
                const QString text = QString::fromUtf8(readAll(source));
                for (auto m = literal.globalMatch(text); m.hasNext(); ++checked) {
                    const QString path = m.next().captured(0);
                    QVERIFY2(QFile::exists(path), qPrintable(source + ": " + path));
                }
                for (auto m = bare.globalMatch(text); m.hasNext(); ++checked) {
                    const QString name = m.next().captured(1);
                    QVERIFY2(QFile::exists(QStringLiteral(":/images/images/") + name)
                                 || QFile::exists(QStringLiteral(":/images/rendering/") + name),
                             qPrintable(source + ": " + name));
                }
            }
        }
        QVERIFY(checked > 40);
    }

    // The chart pages load their libraries from the resources; a wrong version or a missing
    // file shows as a blank chart, so check what was embedded.
    void libraries_data()
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
    void libraries()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, marker);
        const QByteArray content = readAll(path);
        QVERIFY2(content.size() > 1000, qPrintable(path));
        QVERIFY2(content.contains(marker), marker.constData());
    }

    void helpDocument()
    {
        // Copied beside bin/ by the build, where the Help action looks for it.
        const QString built = QStringLiteral(BX_BINARY_DIR "/docs/html/brantix/brantix.html");
        const QByteArray copy = readAll(built);
        QVERIFY2(!copy.isEmpty(), qPrintable(built));
        QCOMPARE(copy, readAll(QStringLiteral(BX_SOURCE_DIR "/docs/html/brantix/brantix.html")));
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
