// The options area of the main window: stored options reaching their widgets
// and written back at close, the defaults of an empty store, restoring the
// defaults, and the contact form sent to a loopback TLS mail server.

#include "analysis/ControlTable.h"
#include "app/BX.h"
#include "capture/decoder/FipControls.h"
#include "shell/BXSettings.h"
#include "shell/Feedback.h"
#include "tests/app/AppTestUtil.h"
#include "tests/shell/SmtpTestServer.h"

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
    void damagedStoreIsSetAsideAndTold();
    void contactFormSent();

private:
    template <typename T> T* child(const char* name) const { return m_bx->findChild<T*>(QLatin1String(name)); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    std::unique_ptr<BX> m_bx;
};

void TstBXOptions::initTestCase()
{
    AppTest::isolateSettings(m_settingsDir.path());
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
    const auto row = [](const char* tag, const QString& key, const QVariant& stored, const char* widget,
                        const char* property, const QVariant& expected) {
        const QString full = key.startsWith("plandor/") ? key : "ostrak/parameters/" + key;
        QTest::newRow(tag) << full << stored << QString(widget) << QString(property) << expected;
    };
    // An empty store: the local card's default disables the server's fields. (The default
    // values themselves are the settings layer's.)
    row("default local card", "radiobutton/locallocation", QVariant(), "osRemoteWidget", "enabled", false);
    // Stored values, each with the widget that shows it or depends on it.
    row("remote card", "radiobutton/locallocation", false, "serverLocation", "checked", true);
    row("remote card enables its fields", "radiobutton/locallocation", false, "osRemoteWidget", "enabled", true);
    row("size limit leaves backup on", "radiobutton/backupsizelimit", true, "backupYes", "checked", true);
    row("size limit disables time fields", "radiobutton/backupsizelimit", true, "backupTimeLimitHValue", "enabled", false);
    row("no backup disables its folder", "radiobutton/backupyes", false, "backupRepository", "enabled", false);
    row("presence padding", "radiobutton/fixedidpadding", false, "paddingIdentifier", "enabled", false);
    row("depth 4", "slider/depthanalysisslider", 4, "depthAnalysisSlider", "value", 4);
    row("item box shown", "plandor/itemboxpanelwidget/hidden", false, "itemBoxPanelWidget", "visibleTo", true);
    row("backup folder", "lineedit/backuprepository", "/tmp/caps, 1", "backupRepository", "text", "/tmp/caps, 1");
    row("combo index out of range", "combobox/backuptimelimitmvalue", 99, "backupTimeLimitMValue", "currentIndex", 10);
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
    if (stored.isValid() && key != "ostrak/parameters/combobox/backuptimelimitmvalue")
        QCOMPARE(written.value(key), BXSettings::convert(stored, BXSettings::findKey(key)->type));
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
    QCOMPARE(child<QLineEdit>("paddingIdentifier")->text(), QStringLiteral("9080"));
    QCOMPARE(m_bx->controlTable()->getControlColor(acke), ControlTable::defaultColor(acke));
    QVERIFY(m_bx->close());
    QCOMPARE(QSettings(BX::OrganizationName, BX::ProductName).allKeys(), QStringList());

    // The next normal close writes them all again.
    m_bx = std::make_unique<BX>();
    QVERIFY(m_bx->close());
    QSettings store(BX::OrganizationName, BX::ProductName);
    store.beginGroup(BXSettings::Group);
    QCOMPARE(store.value("ostrak/parameters/lineedit/paddingidentifier").toString(), QStringLiteral("9080"));
}

// The check itself is the settings layer's (its tests take each damage); here the
// window runs it before its first read, and says so.
void TstBXOptions::damagedStoreIsSetAsideAndTold()
{
    const QString path = QSettings(BX::OrganizationName, BX::ProductName).fileName();
    QVERIFY(AppTest::writeFile(path, "[BX]\nostrak\\parameters\\lineedit\\paddingidentifier=1234\n"
               "ostrak\\parameters\\colors\\rp_fin=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)\n"));
    m_bx = std::make_unique<BX>();
    AppTest::shotWindow(*m_bx, "damaged-settings");
    QCOMPARE(child<QLabel>("statusMessageLabel")->text(),
             "Unreadable settings were set aside (BX/ostrak/parameters/colors/rp_fin); the file as it was is kept as "
                 + QDir::toNativeSeparators(path + ".unreadable"));
    QCOMPARE(child<QLineEdit>("paddingIdentifier")->text(), QStringLiteral("1234"));
    QVERIFY(m_bx->close());
}

// The form's checks and the mail's failures are the mail client's (its tests take
// each); here the form's fields reach the mail and the window tells it was sent.
void TstBXOptions::contactFormSent()
{
    QSslCertificate certificate;
    QSslKey key;
    if (!SmtpTestServer::makeCertificate(m_dir.path(), &certificate, &key))
        QSKIP("openssl could not make a certificate");
    SmtpTestServer server(SmtpTestServer::Normal, certificate, key);
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
    const QString message(50, QLatin1Char('m'));
    child<QPlainTextEdit>("feedbackComments")->setPlainText(message);

    BoxAnswerer boxes({ QMessageBox::Ok });
    child<QPushButton>("feedbackSubmitButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.titles, QStringList { "Feedback" }, 10000);
    QCOMPARE(boxes.texts, QStringList { "Feedback sent !" });
    QCOMPARE(server.rcptTo, QByteArray("maker@kivotec.test"));
    QVERIFY(server.data.contains("\r\nSubject: " + child<QComboBox>("feedbackType")->currentText().toUtf8() + "\r\n"));
    QVERIFY(server.data.contains("\r\n\r\nSender : Brantix v1.8.0\r\nName : Ann Lee\r\nOrganization : none\r\nEmail : "
                                 "none\r\nPhone : 0123456789\r\nBody : \r\n"
                                 + message.toUtf8() + "\r\n\r\n--frontier--\r\n"));
    // The form stays as filled in.
    QCOMPARE(child<QLineEdit>("feedbackName")->text(), QStringLiteral("Ann Lee"));
    QCOMPARE(child<QPlainTextEdit>("feedbackComments")->toPlainText(), message);
}

QTEST_MAIN(TstBXOptions)
#include "tst_bxoptions.moc"
