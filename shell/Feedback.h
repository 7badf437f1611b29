#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

class QSettings;

/// The mail account the feedback goes through, taken from the settings group
/// "Feedback" so that no address or password lives in the program.
struct FeedbackAccount {
    static const QString Group; ///< "Feedback"

    QString host;      ///< "smtpHost"
    int port = 465;    ///< "smtpPort"
    QString user;      ///< "smtpUser", also the sender address
    QString password;  ///< "smtpPassword"
    QString recipient; ///< "recipient"
    QString caCertificateFile; ///< "caCertificateFile": PEM certificates trusted besides the system's

    static FeedbackAccount read(QSettings& store);
    void write(QSettings& store) const;
    /// The certificates of `caCertificateFile`; none when unset or unreadable.
    QList<QSslCertificate> caCertificates() const;
};

/// The checks and the mail body of the contact form.
namespace FeedbackForm {

constexpr int MinimumMessageLength = 50;

/// Why the form cannot be sent, in the order the fields are checked; empty when it can.
QString check(const QString& name, const QString& message, const QString& email, const QString& phone);
/// The mail body: sender program, the fields ("none" for an empty one) and the message.
QString body(const QString& name, const QString& organization, const QString& email, const QString& phone,
             const QString& message);

} // namespace FeedbackForm
