// The feedback mail end to end against a TLS mail server on a loopback port:
// the message that arrives, header by header and attachment byte by byte, and
// the servers that refuse, reject, stay silent or hang up; the form's checks.

#include "shell/Feedback.h"
#include "shell/Smtp.h"
#include "tests/app/BoxAnswerer.h"
#include "tests/shell/SmtpTestServer.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TstSmtp : public QObject
{
    Q_OBJECT

    /// The message as written by the client: dots undoubled, LF line ends.
    static QByteArray unstuffed(QByteArray data)
    {
        data.replace("\r\n", "\n").replace("\n.", "\n");
        return data.startsWith('.') ? data.mid(1) : data;
    }

    QTemporaryDir m_dir;
    QSslCertificate m_certificate;
    QSslKey m_key;

private slots:
    void initTestCase()
    {
        if (!SmtpTestServer::makeCertificate(m_dir.path(), &m_certificate, &m_key))
            QSKIP("openssl could not make a certificate");
    }

    void messageArrivesWhole_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QList<QByteArray>>("files"); // contents; "-" stands for a missing file

        QByteArray everyByte;
        for (int i = 0; i < 256 * 3; ++i)
            everyByte.append(char(i & 0xff));
        QTest::newRow("lone dots and dotted lines")
            << QStringLiteral(".\nfirst\n.\n.\n..\n.hidden\nend.\n.") << QList<QByteArray>{};
        QTest::newRow("binary, empty and text files")
            << QStringLiteral("three files") << QList<QByteArray>{ everyByte, QByteArray(), QByteArray("line\r\n.\r\n") };
        QTest::newRow("one file missing") << QStringLiteral("two of three")
                                          << QList<QByteArray>{ QByteArray("a"), QByteArray("-"), QByteArray("c") };
    }

    void messageArrivesWhole()
    {
        QFETCH(QString, body);
        QFETCH(QList<QByteArray>, files);

        QStringList paths;
        QList<QByteArray> expected;
        for (int i = 0; i < files.size(); ++i) {
            const QString path = m_dir.filePath(QStringLiteral("attachment %1.bin").arg(i));
            paths << path;
            QFile::remove(path);
            if (files.at(i) == "-")
                continue;
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(files.at(i));
            expected << files.at(i);
        }

        SmtpTestServer server(SmtpTestServer::Normal, m_certificate, m_key);
        QVERIFY(server.isListening());
        BoxAnswerer boxes({ QMessageBox::Ok }); // the missing file's notice
        QPointer<Smtp> smtp = new Smtp("sender@mail.test", "abcde1234", "127.0.0.1", server.serverPort(), 10000);
        smtp->addCaCertificates({ m_certificate });
        QSignalSpy status(smtp.data(), &Smtp::status);
        smtp->sendMail("sender@mail.test", "maker@kivotec.test", "Bug report", body, paths);
        QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, 10000);
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Message sent"));
        QTRY_VERIFY_WITH_TIMEOUT(smtp.isNull(), 10000);
        QCOMPARE(status.size(), 1);
        const bool missing = expected.size() < files.size();
        QCOMPARE(boxes.titles, missing ? QStringList { "Qt Simple SMTP client" } : QStringList());

        QCOMPARE((QList<QByteArray> { server.user, server.password, server.mailFrom, server.rcptTo }),
                 (QList<QByteArray> { "sender@mail.test", "abcde1234", "sender@mail.test", "maker@kivotec.test" }));
        QVERIFY(server.commands.contains("QUIT"));

        const QByteArray message = unstuffed(server.data);
        const int headerEnd = message.indexOf("\n\n");
        QCOMPARE(message.left(headerEnd).split('\n'),
                 (QList<QByteArray>{ "To: maker@kivotec.test", "From: sender@mail.test", "Subject: Bug report",
                                     "MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=frontier" }));
        // Parts between "--frontier" lines: the text, then one per readable file. Latin-1 keeps the bytes.
        const QString rest = QString::fromLatin1(message.mid(headerEnd + 2));
        QVERIFY(rest.startsWith("--frontier\n") && rest.endsWith("\n--frontier--\n"));
        const QStringList parts = rest.mid(11, rest.size() - 11 - 14).split("\n--frontier\n");
        QCOMPARE(parts.size(), 1 + expected.size());
        QCOMPARE(parts.at(0).toLatin1(), "Content-Type: text/plain\n\n" + body.toUtf8() + "\n");
        int part = 1;
        for (int i = 0; i < files.size(); ++i) {
            if (files.at(i) == "-")
                continue;
            const QString head = "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="
                + QStringLiteral("attachment %1.bin").arg(i) + ";\nContent-Transfer-Encoding: base64\n\n";
            QVERIFY2(parts.at(part).startsWith(head), qPrintable(parts.at(part).left(200)));
            const QString encoded = parts.at(part).mid(head.size());
            for (const QString& line : encoded.split('\n'))
                QVERIFY(line.size() <= 76);
            QCOMPARE(QByteArray::fromBase64(encoded.toLatin1()), expected.at(part - 1));
            ++part;
        }
    }

    void failureEndsTheDialogue_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("box"); // start of the box's text, empty for no box

        QTest::newRow("server refusing TLS") << int(SmtpTestServer::PlainText) << true << QString();
        QTest::newRow("certificate not trusted") << int(SmtpTestServer::Normal) << false << QString();
        QTest::newRow("login rejected") << int(SmtpTestServer::RejectLogin) << true
                                        << QStringLiteral("Unexpected reply from SMTP server:\n\n535 5.7.8");
        QTest::newRow("server silent") << int(SmtpTestServer::Silent) << true << QString();
        QTest::newRow("connection dropped") << int(SmtpTestServer::DropAfterMail) << true << QString();
    }

    void failureEndsTheDialogue()
    {
        QFETCH(int, mode);
        QFETCH(bool, trusted);
        QFETCH(QString, box);

        const int timeout = 1500;
        SmtpTestServer server(SmtpTestServer::Mode(mode), m_certificate, m_key);
        QVERIFY(server.isListening());
        BoxAnswerer boxes({ QMessageBox::Ok });
        QPointer<Smtp> smtp = new Smtp("sender@mail.test", "abcde1234", "127.0.0.1", server.serverPort(), timeout);
        if (trusted)
            smtp->addCaCertificates({ m_certificate });
        QSignalSpy status(smtp.data(), &Smtp::status);
        QElapsedTimer clock;
        clock.start();
        smtp->sendMail("sender@mail.test", "maker@kivotec.test", "Question", "body", {});
        // Every wait of the client is bounded by its time-out.
        QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, 2 * timeout + 1000);
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Failed to send message"));
        QTRY_VERIFY_WITH_TIMEOUT(smtp.isNull(), 2 * timeout);
        QTest::qWait(100);
        QCOMPARE(status.size(), 1);
        QCOMPARE(server.connections, 1);
        QCOMPARE(boxes.titles, box.isEmpty() ? QStringList() : QStringList{ "SMTP client" });
        QVERIFY2(boxes.texts.value(0).startsWith(box), qPrintable(boxes.texts.value(0)));
        // Nothing of the mail went out after the failure.
        QVERIFY(server.data.isEmpty());
        QVERIFY(!server.commands.contains("DATA"));
    }

    void formChecks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("refusal");

        const QString noName = "Impossible to send the feedback. The 'Name' field can't be empty.";
        const QString short_ = "Impossible to send the feedback. The message body must contain at least 50 characters.";
        const QString badEmail = "Impossible to send the feedback. The 'Email' field is not correct.";
        const QString badPhone = "Impossible to send the feedback. The 'Phone' field is not correct.";
        QTest::newRow("49 characters") << "Ann" << 49 << "" << "" << short_;
        QTest::newRow("50 characters") << "Ann" << 50 << "" << "" << QString();
        QTest::newRow("no name before short message") << "" << 10 << "bad" << "bad" << noName;
        QTest::newRow("short message before bad email") << "Ann" << 10 << "bad" << "" << short_;
        QTest::newRow("email any case") << "Ann" << 60 << "Ann.Lee+fip@Example.CO.uk" << "" << QString();
        QTest::newRow("email five-letter domain") << "Ann" << 60 << "ann@example.abcde" << "" << badEmail;
        QTest::newRow("email with text around") << "Ann" << 60 << "me: ann@example.com" << "" << badEmail;
        QTest::newRow("email before bad phone") << "Ann" << 60 << "ann@" << "12" << badEmail;
        QTest::newRow("phone national") << "Ann" << 60 << "" << "01 23 45 67 89" << QString();
        QTest::newRow("phone +33") << "Ann" << 60 << "" << "+33 6 12 34 56 78" << QString();
        QTest::newRow("phone 0033 packed") << "Ann" << 60 << "" << "0033612345678" << QString();
        QTest::newRow("phone starting 00 national") << "Ann" << 60 << "" << "0012345678" << badPhone;
        QTest::newRow("phone one digit short") << "Ann" << 60 << "" << "012345678" << badPhone;
        QTest::newRow("phone with letters") << "Ann" << 60 << "" << "01 23 45 67 8a" << badPhone;
    }

    void formChecks()
    {
        QFETCH(QString, name);
        QFETCH(int, length);
        QFETCH(QString, email);
        QFETCH(QString, phone);
        QTEST(FeedbackForm::check(name, QString(length, QChar(0x00e9)), email, phone), "refusal");
    }
};

QTEST_MAIN(TstSmtp)
#include "tst_smtp.moc"
