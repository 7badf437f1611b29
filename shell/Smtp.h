#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

class QSslSocket;
class QTimer;

/// A small SMTP client that sends one mail over TLS from the first byte
/// (implicit TLS, port 465) with LOGIN authentication.
///
/// The result is one `status` signal: "Message sent", or "Failed to send
/// message" when the server answers out of turn, refuses TLS or the login,
/// stays silent beyond the time-out or drops the connection. The object
/// deletes itself once the dialogue is over.
class Smtp : public QObject
{
    Q_OBJECT
public:
    static const QString SentStatus;   ///< "Message sent"
    static const QString FailedStatus; ///< "Failed to send message"

    enum States { Init, HandShake, Auth, User, Pass, Mail, Rcpt, Data, Body, Quit, Close };

    Smtp(const QString& user, const QString& pass, const QString& host, int port = 465, int timeout = 30000,
         QObject* parent = nullptr);
    ~Smtp() override;

    /// Certificates trusted besides the system's, e.g. a private server's own.
    void addCaCertificates(const QList<QSslCertificate>& certificates);

    void sendMail(const QString& from, const QString& to, const QString& subject, const QString& body,
                  const QStringList& files = QStringList());

    /// The message as sent after DATA, CR LF line ends and dot-stuffed; files
    /// that cannot be read are left out and listed in `unreadable`.
    static QByteArray composeMessage(const QString& from, const QString& to, const QString& subject,
                                     const QString& body, const QStringList& files,
                                     QStringList* unreadable = nullptr);

    States state() const { return m_state; }

signals:
    void status(const QString& status);

private slots:
    void readyRead();
    void connected();
    void errorReceived(QAbstractSocket::SocketError socketError);
    void stateChanged(QAbstractSocket::SocketState socketState);
    void disconnected();
    void sslErrorsReceived(const QList<QSslError>& errors);
    void onTimeout();

private:
    void handleReply(const QByteArray& reply);
    void send(const QByteArray& bytes);
    /// Ends a dialogue that went wrong: one failure status, then the object goes.
    void fail(const QString& reason);
    void finish();

    /// Held by every entry point: boxes and the status receiver may run nested event
    /// loops in which more socket signals arrive, so the object goes only once the
    /// outermost call has returned.
    struct Busy {
        explicit Busy(Smtp* smtp);
        ~Busy();
        Smtp* m_smtp;
    };

    QSslSocket* m_socket = nullptr;
    QTimer* m_timer = nullptr;
    QString m_user;
    QString m_pass;
    QString m_host;
    int m_port = 465;
    int m_timeout = 30000;
    QString m_from;
    QString m_rcpt;
    QByteArray m_message;
    QByteArray m_response;
    QByteArray m_pending;
    States m_state = Init;
    bool m_done = false;
    bool m_finished = false;
    int m_busy = 0;
};
