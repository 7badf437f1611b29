#include "shell/Smtp.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

const QString Smtp::SentStatus = QStringLiteral("Message sent");
const QString Smtp::FailedStatus = QStringLiteral("Failed to send message");

namespace {

const QByteArray Crlf("\r\n");

/// Base64 in lines of 76 characters: SMTP servers may refuse lines longer than 998.
QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 + 1);
    for (int i = 0; i < encoded.size(); i += 76) {
        if (i > 0)
            out += '\n';
        out += encoded.mid(i, 76);
    }
    return out;
}

} // namespace

Smtp::Smtp(const QString& user, const QString& pass, const QString& host, int port, int timeout, QObject* parent)
    : QObject(parent)
    , m_socket(new QSslSocket(this))
    , m_timer(new QTimer(this))
    , m_user(user)
    , m_pass(pass)
    , m_host(host)
    , m_port(port)
    , m_timeout(timeout)
{
    connect(m_socket, &QIODevice::readyRead, this, &Smtp::readyRead);
    connect(m_socket, &QAbstractSocket::connected, this, &Smtp::connected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &Smtp::errorReceived);
    connect(m_socket, &QAbstractSocket::stateChanged, this, &Smtp::stateChanged);
    connect(m_socket, &QAbstractSocket::disconnected, this, &Smtp::disconnected);
    connect(m_socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), this, &Smtp::sslErrorsReceived);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Smtp::onTimeout);
}

Smtp::~Smtp() = default;

Smtp::Busy::Busy(Smtp* smtp)
    : m_smtp(smtp)
{
    ++m_smtp->m_busy;
}

Smtp::Busy::~Busy()
{
    if (--m_smtp->m_busy == 0 && m_smtp->m_finished)
        m_smtp->deleteLater();
}

void Smtp::addCaCertificates(const QList<QSslCertificate>& certificates)
{
    QSslConfiguration configuration = m_socket->sslConfiguration();
    configuration.setCaCertificates(configuration.caCertificates() + certificates);
    m_socket->setSslConfiguration(configuration);
}

QByteArray Smtp::composeMessage(const QString& from, const QString& to, const QString& subject, const QString& body,
                                const QStringList& files, QStringList* unreadable)
{
    QString text = "To: " + to + "\n" + "From: " + from + "\n" + "Subject: " + subject + "\n"
        + "MIME-Version: 1.0\n" + "Content-Type: multipart/mixed; boundary=frontier\n\n" + "--frontier\n"
        + "Content-Type: text/plain\n\n" + body + "\n\n";
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (unreadable)
                unreadable->append(path);
            continue;
        }
        text += "--frontier\n"
                "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="
            + QFileInfo(path).fileName() + ";\nContent-Transfer-Encoding: base64\n\n"
            + QString::fromLatin1(base64Lines(file.readAll())) + "\n";
    }
    text += "--frontier--\n";
    text.replace("\n", "\r\n");
    // A line starting with a dot gets a second one, which the server takes off
    // again; a lone dot would otherwise end the message early.
    QByteArray bytes = text.toUtf8();
    bytes.replace("\r\n.", "\r\n..");
    return bytes;
}

void Smtp::sendMail(const QString& from, const QString& to, const QString& subject, const QString& body,
                    const QStringList& files)
{
    const Busy busy(this);
    QStringList unreadable;
    m_message = composeMessage(from, to, subject, body, files, &unreadable);
    for (const QString& path : qAsConst(unreadable))
        QMessageBox::warning(nullptr, tr("Qt Simple SMTP client"), tr("Couldn't open the file\n\n") + path);
    if (files.isEmpty())
        qDebug() << "No attachments found";
    else
        qDebug() << "Files to be sent: " << files.size();

    m_from = from;
    m_rcpt = to;
    m_state = Init;
    m_timer->start(m_timeout);
    m_socket->connectToHostEncrypted(m_host, quint16(m_port));
    if (!m_socket->waitForConnected(m_timeout)) {
        qDebug() << m_socket->errorString();
        fail(m_socket->errorString());
    }
}

void Smtp::readyRead()
{
    const Busy busy(this);
    // A reply may span several lines; its last one has a space after the code.
    while (m_socket->canReadLine()) {
        const QByteArray line = m_socket->readLine();
        m_pending += line;
        const QByteArray bare = line.trimmed();
        if (bare.size() > 3 && bare.at(3) != ' ')
            continue;
        const QByteArray reply = m_pending;
        m_pending.clear();
        handleReply(reply);
    }
}

void Smtp::handleReply(const QByteArray& reply)
{
    m_response = reply;
    const QByteArray code = reply.left(3);
    if (m_state == Close) {
        finish();
        return;
    }
    m_timer->start(m_timeout);
    if (m_state == Init && code == "220") {
        send("EHLO localhost" + Crlf);
        m_state = HandShake;
    } else if (m_state == HandShake && code == "250") {
        // With TLS from the first byte this finds the connection encrypted already.
        if (!m_socket->isEncrypted()) {
            m_socket->startClientEncryption();
            if (!m_socket->waitForEncrypted(m_timeout)) {
                qDebug() << m_socket->errorString();
                fail(m_socket->errorString());
                return;
            }
        }
        send("EHLO localhost" + Crlf);
        m_state = Auth;
    } else if (m_state == Auth && code == "250") {
        send("AUTH LOGIN" + Crlf);
        m_state = User;
    } else if (m_state == User && code == "334") {
        send(m_user.toUtf8().toBase64() + Crlf);
        m_state = Pass;
    } else if (m_state == Pass && code == "334") {
        send(m_pass.toUtf8().toBase64() + Crlf);
        m_state = Mail;
    } else if (m_state == Mail && code == "235") {
        send("MAIL FROM:<" + m_from.toUtf8() + ">" + Crlf);
        m_state = Rcpt;
    } else if (m_state == Rcpt && code == "250") {
        send("RCPT TO:<" + m_rcpt.toUtf8() + ">" + Crlf);
        m_state = Data;
    } else if (m_state == Data && code == "250") {
        send("DATA\r\n");
        m_state = Body;
    } else if (m_state == Body && code == "354") {
        send(m_message + "\r\n.\r\n");
        m_state = Quit;
    } else if (m_state == Quit && code == "250") {
        send("QUIT\r\n");
        m_state = Close;
        m_done = true;
        emit status(SentStatus);
    } else {
        // The connection is closed before the box opens: nothing more reaches us meanwhile.
        finish();
        QMessageBox::warning(nullptr, tr("SMTP client"),
                             tr("Unexpected reply from SMTP server:\n\n") + QString::fromUtf8(reply));
        emit status(FailedStatus);
    }
}

void Smtp::send(const QByteArray& bytes)
{
    m_socket->write(bytes);
    m_socket->flush();
}

void Smtp::connected()
{
    qDebug() << "Connected";
}

void Smtp::errorReceived(QAbstractSocket::SocketError socketError)
{
    const Busy busy(this);
    qDebug() << "error" << socketError << m_socket->errorString();
    if (!m_done)
        fail(m_socket->errorString());
}

void Smtp::stateChanged(QAbstractSocket::SocketState socketState)
{
    qDebug() << "stateChanged" << socketState;
}

void Smtp::disconnected()
{
    const Busy busy(this);
    qDebug() << "disconneted";
    if (m_done)
        finish();
    else
        fail(QStringLiteral("connection closed"));
}

void Smtp::sslErrorsReceived(const QList<QSslError>& errors)
{
    for (const QSslError& error : errors)
        qDebug() << "ssl error" << error.errorString();
}

void Smtp::onTimeout()
{
    const Busy busy(this);
    if (m_done)
        finish();
    else
        fail(QStringLiteral("no reply within %1 ms").arg(m_timeout));
}

void Smtp::fail(const QString& reason)
{
    if (m_done)
        return;
    qDebug() << "SMTP dialogue failed:" << reason;
    m_done = true;
    m_state = Close;
    emit status(FailedStatus);
    finish();
}

void Smtp::finish()
{
    m_timer->stop();
    m_state = Close;
    m_done = true;
    m_finished = true;
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
}
