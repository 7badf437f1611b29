#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

/// A mail submission server on a loopback port, TLS from the first byte, that
/// records what the client says. One connection at a time.
/// (No Q_OBJECT: it works through lambdas, and its header is shared by tests.)
class SmtpTestServer : public QTcpServer
{
public:
    enum Mode {
        Normal,
        RejectLogin,  ///< 535 after the password
        Silent,       ///< TLS, then never a word
        DropAfterMail, ///< closes the connection on MAIL FROM
        PlainText,    ///< no TLS at all: greets in clear text
    };

    SmtpTestServer(Mode mode, const QSslCertificate& certificate, const QSslKey& key)
        : m_mode(mode)
        , m_certificate(certificate)
        , m_key(key)
    {
        listen(QHostAddress::LocalHost, 0);
    }

    /// A self-signed certificate for 127.0.0.1 made by the openssl tool in `dir`;
    /// false when the tool is missing or failed.
    static bool makeCertificate(const QString& dir, QSslCertificate* certificate, QSslKey* key)
    {
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (openssl.isEmpty())
            return false;
        const QString certPath = QDir(dir).filePath(QStringLiteral("cert.pem"));
        const QString keyPath = QDir(dir).filePath(QStringLiteral("key.pem"));
        QProcess process;
        process.start(openssl, { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-days",
                                 "2", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", keyPath, "-out", certPath });
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            return false;
        QFile certFile(certPath);
        QFile keyFile(keyPath);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            return false;
        *certificate = QSslCertificate(certFile.readAll(), QSsl::Pem);
        *key = QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
        return !certificate->isNull() && !key->isNull();
    }

    QByteArray user;
    QByteArray password;
    QByteArray mailFrom;
    QByteArray rcptTo;
    QByteArray data; ///< what came before the final CR LF "." CR LF, dots still doubled
    QList<QByteArray> commands;
    int connections = 0;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++connections;
        if (m_mode == PlainText) {
            auto* socket = new QTcpSocket(this);
            socket->setSocketDescriptor(descriptor);
            socket->write("220 plain.test ESMTP\r\n");
            return;
        }
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        connect(socket, &QSslSocket::encrypted, this, [this, socket] {
            if (m_mode != Silent)
                socket->write("220 smtp.test ESMTP ready\r\n");
        });
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { onData(socket); });
        socket->startServerEncryption();
    }

private:
    void onData(QSslSocket* socket)
    {
        m_buffer += socket->readAll();
        for (;;) {
            if (m_inData) {
                const int end = m_buffer.indexOf("\r\n.\r\n");
                if (end < 0)
                    return;
                data = m_buffer.left(end);
                m_buffer.remove(0, end + 5);
                m_inData = false;
                socket->write("250 2.0.0 queued\r\n");
                continue;
            }
            const int end = m_buffer.indexOf("\r\n");
            if (end < 0)
                return;
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 2);
            commands << line;
            if (!answer(socket, line))
                return;
        }
    }

    /// false when the connection was closed.
    bool answer(QSslSocket* socket, const QByteArray& line)
    {
        if (m_expect == ExpectUser) {
            user = QByteArray::fromBase64(line);
            m_expect = ExpectPassword;
            socket->write("334 UGFzc3dvcmQ6\r\n");
        } else if (m_expect == ExpectPassword) {
            password = QByteArray::fromBase64(line);
            m_expect = ExpectCommand;
            socket->write(m_mode == RejectLogin ? "535 5.7.8 Authentication credentials invalid\r\n"
                                                : "235 2.7.0 Authentication successful\r\n");
        } else if (line.startsWith("EHLO")) {
            // A reply of several lines: the client must read up to the last one.
            socket->write("250-smtp.test greets you\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n");
        } else if (line == "AUTH LOGIN") {
            m_expect = ExpectUser;
            socket->write("334 VXNlcm5hbWU6\r\n");
        } else if (line.startsWith("MAIL FROM:<")) {
            mailFrom = line.mid(11, line.size() - 12);
            if (m_mode == DropAfterMail) {
                socket->abort();
                return false;
            }
            socket->write("250 2.1.0 OK\r\n");
        } else if (line.startsWith("RCPT TO:<")) {
            rcptTo = line.mid(9, line.size() - 10);
            socket->write("250 2.1.5 OK\r\n");
        } else if (line == "DATA") {
            m_inData = true;
            socket->write("354 End data with <CR><LF>.<CR><LF>\r\n");
        } else if (line == "QUIT") {
            socket->write("221 2.0.0 Bye\r\n");
            socket->disconnectFromHost();
            return false;
        } else {
            socket->write("500 5.5.1 Unrecognized command\r\n");
        }
        return true;
    }

    enum Expect { ExpectCommand, ExpectUser, ExpectPassword };
    Mode m_mode;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QByteArray m_buffer;
    bool m_inData = false;
    Expect m_expect = ExpectCommand;
};
