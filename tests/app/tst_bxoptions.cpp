// The options area of the main window: stored options reaching their widgets
// and written back at close, the defaults of an empty store, restoring the
// defaults, and the contact form sent to a loopback TLS mail server.

#include "analysis/ControlTable.h"
#include "app/BX.h"
#include "capture/decoder/FipControls.h"
#include "shell/BXSettings.h"
#include "shell/Feedback.h"
#include "shell/Smtp.h"
#include "tests/app/BoxAnswerer.h"
#include "tests/shell/SmtpTestServer.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

class TstBXOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storedOptionReachesWidget_data();
    void storedOptionReachesWidget();
    void restoredDefaultsAreNotWrittenBack();
    void contactForm_data();
    void contactForm();

private:
    template <typename T> T* child(const char* name) const { return m_bx->findChild<T*>(QLatin1String(name)); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    std::unique_ptr<BX> m_bx;
};

void TstBXOptions::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // The window opens QSettings(organisation, application), a native-format store: its
    // path moves here, so what this test's windows write at close reaches no other test.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QVERIFY(QSettings(BX::OrganizationName, BX::ProductName).fileName().startsWith(m_settingsDir.path()));
}

void TstBXOptions::init()
{
    QSettings(BX::OrganizationName, BX::ProductName).clear();
}

void TstBXOptions::cleanup()
{
    m_bx.reset();
}

void TstBXOptions::storedOptionReachesWidget_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("expected");

    const QVariant none;
    // An empty store: the figures a first start shows.
    QTest::newRow("default depth") << "ostrak/parameters/slider/depthanalysisslider" << none << "depthAnalysisSlider"
                                   << "value" << QVariant(2);
    QTest::newRow("default padding") << "ostrak/parameters/lineedit/paddingidentifier" << none << "paddingIdentifier"
                                     << "text" << QVariant("9080");
    QTest::newRow("default auto padding") << "ostrak/parameters/radiobutton/paddingautodetectyes" << none
                                          << "paddingAutoDetectNo" << "checked" << QVariant(false);
    QTest::newRow("default sampling") << "ostrak/parameters/lineedit/macrosamplingperiodvalue" << none
                                      << "macroSamplingPeriodValue" << "text" << QVariant("2000");
    QTest::newRow("default slices") << "ostrak/parameters/lineedit/macromaxslicesvalue" << none
                                    << "macroMaxSlicesValue" << "text" << QVariant("50");
    QTest::newRow("default local card") << "ostrak/parameters/radiobutton/locallocation" << none << "osRemoteWidget"
                                        << "enabled" << QVariant(false);
    QTest::newRow("default time limit") << "ostrak/parameters/combobox/backuptimelimitmvalue" << none
                                        << "backupTimeLimitMValue" << "currentIndex" << QVariant(10);
    // Stored values, each with the widget that shows it or depends on it.
    QTest::newRow("remote card") << "ostrak/parameters/radiobutton/locallocation" << QVariant(false)
                                 << "serverLocation" << "checked" << QVariant(true);
    QTest::newRow("remote card enables its fields") << "ostrak/parameters/radiobutton/locallocation"
                                                    << QVariant(false) << "osRemoteWidget" << "enabled"
                                                    << QVariant(true);
    QTest::newRow("size limit leaves backup on") << "ostrak/parameters/radiobutton/backupsizelimit" << QVariant(true)
                                                 << "backupYes" << "checked" << QVariant(true);
    QTest::newRow("size limit disables time fields") << "ostrak/parameters/radiobutton/backupsizelimit"
                                                     << QVariant(true) << "backupTimeLimitHValue" << "enabled"
                                                     << QVariant(false);
    QTest::newRow("no backup disables its folder") << "ostrak/parameters/radiobutton/backupyes" << QVariant(false)
                                                   << "backupRepository" << "enabled" << QVariant(false);
    QTest::newRow("presence padding") << "ostrak/parameters/radiobutton/fixedidpadding" << QVariant(false)
                                      << "paddingIdentifier" << "enabled" << QVariant(false);
    QTest::newRow("depth 4") << "ostrak/parameters/slider/depthanalysisslider" << QVariant(4) << "depthAnalysisSlider"
                             << "value" << QVariant(4);
    QTest::newRow("item box shown") << "plandor/itemboxpanelwidget/hidden" << QVariant(false) << "itemBoxPanelWidget"
                                    << "visibleTo" << QVariant(true);
    QTest::newRow("backup folder") << "ostrak/parameters/lineedit/backuprepository" << QVariant("/tmp/caps, 1")
                                   << "backupRepository" << "text" << QVariant("/tmp/caps, 1");
    QTest::newRow("wrong type empties the text") << "ostrak/parameters/lineedit/paddingidentifier"
                                                 << QVariant(QStringList{ "a", "b" }) << "paddingIdentifier" << "text"
                                                 << QVariant(QString());
    QTest::newRow("combo index out of range") << "ostrak/parameters/combobox/backuptimelimitmvalue" << QVariant(99)
                                              << "backupTimeLimitMValue" << "currentIndex" << QVariant(10);
}

void TstBXOptions::storedOptionReachesWidget()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QString, widget);
    QFETCH(QString, property);
    QFETCH(QVariant, expected);

    if (stored.isValid())
        QSettings(BX::OrganizationName, BX::ProductName).setValue(BXSettings::Group + "/" + key, stored);
    m_bx = std::make_unique<BX>();
    QWidget* target = child<QWidget>(widget.toLatin1().constData());
    QVERIFY(target);
    const QVariant shown = property == "visibleTo" ? QVariant(target->isVisibleTo(m_bx.get()))
                                                    : target->property(property.toLatin1().constData());
    QCOMPARE(shown, expected);

    // Closing writes every key, this one as the widgets now show it.
    QVERIFY(m_bx->close());
    QSettings store(BX::OrganizationName, BX::ProductName);
    BXSettings written;
    written.read(store);
    store.beginGroup(BXSettings::Group);
    for (const BXSettings::Key& k : BXSettings::keys())
        QVERIFY2(store.contains(k.name), qPrintable(k.name));
    const BXSettings::Key* known = BXSettings::findKey(key);
    QVERIFY(known);
    if (stored.isValid() && key != "ostrak/parameters/combobox/backuptimelimitmvalue")
        QCOMPARE(written.value(key), BXSettings::convert(stored, known->type));
}

void TstBXOptions::restoredDefaultsAreNotWrittenBack()
{
    const quint8 acke = FipControls::RP_MSG_ACKe;
    const quint8 acko = FipControls::RP_MSG_ACKo;
    {
        QSettings store(BX::OrganizationName, BX::ProductName);
        store.setValue("BX/" + BXSettings::colorKey(acke), QColor(200, 10, 10, 100));
        store.setValue("BX/ostrak/parameters/lineedit/paddingidentifier", "1234");
    }
    m_bx = std::make_unique<BX>();
    // One colour key per control: the acknowledgement's two codes part here.
    QCOMPARE(m_bx->controlTable()->getControlColor(acke), QColor(200, 10, 10, 100));
    QCOMPARE(m_bx->controlTable()->getControlColor(acko), ControlTable::defaultColor(acko));

    BoxAnswerer boxes({ QMessageBox::Ok });
    child<QPushButton>("restoreButton")->click();
    QCOMPARE(boxes.titles, QStringList{ "Brantix" });
    QCOMPARE(boxes.texts.value(0), QStringLiteral("The HMI default settings have been restored.\nYou need to restart "
                                                  "application for the changes to take effect."));
    QCOMPARE(child<QLineEdit>("paddingIdentifier")->text(), QStringLiteral("9080"));
    QCOMPARE(m_bx->controlTable()->getControlColor(acke), ControlTable::defaultColor(acke));
    QVERIFY(m_bx->close());
    QVERIFY(QSettings(BX::OrganizationName, BX::ProductName).childKeys().isEmpty());
    QVERIFY(QSettings(BX::OrganizationName, BX::ProductName).childGroups().isEmpty());

    // The next normal close writes them all again.
    m_bx = std::make_unique<BX>();
    QVERIFY(m_bx->close());
    QSettings store(BX::OrganizationName, BX::ProductName);
    store.beginGroup(BXSettings::Group);
    QCOMPARE(store.value("ostrak/parameters/lineedit/paddingidentifier").toString(), QStringLiteral("9080"));
}

void TstBXOptions::contactForm_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("box"); // title and text of the box the window shows, empty for none
    QTest::addColumn<bool>("delivered");

    QTest::newRow("sent") << int(SmtpTestServer::Normal) << 50 << "Feedback|Feedback sent !" << true;
    QTest::newRow("message too short") << int(SmtpTestServer::Normal) << 49
                                       << "Feedback|Impossible to send the feedback. The message body must contain at "
                                          "least 50 characters."
                                       << false;
    QTest::newRow("server refusing TLS") << int(SmtpTestServer::PlainText) << 60 << QString() << false;
}

void TstBXOptions::contactForm()
{
    QFETCH(int, mode);
    QFETCH(int, length);
    QFETCH(QString, box);
    QFETCH(bool, delivered);

    QSslCertificate certificate;
    QSslKey key;
    if (!SmtpTestServer::makeCertificate(m_dir.path(), &certificate, &key))
        QSKIP("openssl could not make a certificate");
    SmtpTestServer server(SmtpTestServer::Mode(mode), certificate, key);
    QVERIFY(server.isListening());
    {
        QSettings store(BX::OrganizationName, BX::ProductName);
        FeedbackAccount account;
        account.host = QStringLiteral("127.0.0.1");
        account.port = server.serverPort();
        account.user = QStringLiteral("sender@mail.test");
        account.password = QStringLiteral("abcde1234");
        account.recipient = QStringLiteral("maker@kivotec.test");
        account.caCertificateFile = m_dir.filePath(QStringLiteral("cert.pem"));
        account.write(store);
    }
    m_bx = std::make_unique<BX>();
    m_bx->onActionContactUs();
    child<QLineEdit>("feedbackName")->setText("Ann Lee");
    child<QLineEdit>("feedbackPhone")->setText("0123456789");
    child<QComboBox>("feedbackType")->setCurrentIndex(1);
    const QString message(length, QLatin1Char('m'));
    child<QPlainTextEdit>("feedbackComments")->setPlainText(message);

    BoxAnswerer boxes({ QMessageBox::Ok });
    child<QPushButton>("feedbackSubmitButton")->click();
    if (!box.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(boxes.titles.size(), 1, 10000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(server.connections == 1 && !m_bx->findChild<Smtp*>(), 10000);
    QTest::qWait(50);
    QCOMPARE(boxes.titles.isEmpty() ? QString() : boxes.titles.first() + "|" + boxes.texts.first(), box);
    QCOMPARE(!server.data.isEmpty(), delivered);
    if (delivered) {
        QCOMPARE(server.rcptTo, QByteArray("maker@kivotec.test"));
        const QByteArray text = server.data;
        QVERIFY(text.contains("\r\nSubject: " + child<QComboBox>("feedbackType")->currentText().toUtf8() + "\r\n"));
        QVERIFY(text.contains("\r\n\r\nSender : Brantix v1.8.0\r\nName : Ann Lee\r\nOrganization : none\r\nEmail : "
                              "none\r\nPhone : 0123456789\r\nBody : \r\n"
                              + message.toUtf8() + "\r\n\r\n--frontier--\r\n"));
    }
    // Whatever the outcome, the form stays as filled in.
    QCOMPARE(child<QLineEdit>("feedbackName")->text(), QStringLiteral("Ann Lee"));
    QCOMPARE(child<QPlainTextEdit>("feedbackComments")->toPlainText(), message);
    QCOMPARE(child<QLineEdit>("feedbackPhone")->text(), QStringLiteral("0123456789"));
}

QTEST_MAIN(TstBXOptions)
#include "tst_bxoptions.moc"
