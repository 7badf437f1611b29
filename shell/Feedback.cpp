#include "shell/Feedback.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>

const QString FeedbackAccount::Group = QStringLiteral("Feedback");

FeedbackAccount FeedbackAccount::read(QSettings& store)
{
    FeedbackAccount account;
    store.beginGroup(Group);
    account.host = store.value(QStringLiteral("smtpHost")).toString();
    bool ok = false;
    const int port = store.value(QStringLiteral("smtpPort"), account.port).toInt(&ok);
    if (ok && port > 0 && port <= 65535)
        account.port = port;
    account.user = store.value(QStringLiteral("smtpUser")).toString();
    account.password = store.value(QStringLiteral("smtpPassword")).toString();
    account.recipient = store.value(QStringLiteral("recipient")).toString();
    account.caCertificateFile = store.value(QStringLiteral("caCertificateFile")).toString();
    store.endGroup();
    return account;
}

void FeedbackAccount::write(QSettings& store) const
{
    store.beginGroup(Group);
    store.setValue(QStringLiteral("smtpHost"), host);
    store.setValue(QStringLiteral("smtpPort"), port);
    store.setValue(QStringLiteral("smtpUser"), user);
    store.setValue(QStringLiteral("smtpPassword"), password);
    store.setValue(QStringLiteral("recipient"), recipient);
    store.setValue(QStringLiteral("caCertificateFile"), caCertificateFile);
    store.endGroup();
    store.sync();
}

QList<QSslCertificate> FeedbackAccount::caCertificates() const
{
    if (caCertificateFile.isEmpty())
        return {};
    QFile file(caCertificateFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(file.readAll(), QSsl::Pem);
}

namespace FeedbackForm {

QString check(const QString& name, const QString& message, const QString& email, const QString& phone)
{
    static const QRegularExpression emailPattern(
        QRegularExpression::anchoredPattern(QStringLiteral("\\b[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,4}\\b")),
        QRegularExpression::CaseInsensitiveOption);
    // French numbers: national (0 and nine digits) or with the 33 country code.
    static const QRegularExpression phonePattern(
        QRegularExpression::anchoredPattern(QStringLiteral("((\\+|00)33\\s?|0)[1-9](\\s?\\d{2}){4}")));
    const QString prefix = QStringLiteral("Impossible to send the feedback. ");
    if (name.isEmpty())
        return prefix + QStringLiteral("The 'Name' field can't be empty.");
    if (message.size() < MinimumMessageLength)
        return prefix + QStringLiteral("The message body must contain at least 50 characters.");
    if (!email.isEmpty() && !emailPattern.match(email).hasMatch())
        return prefix + QStringLiteral("The 'Email' field is not correct.");
    if (!phone.isEmpty() && !phonePattern.match(phone).hasMatch())
        return prefix + QStringLiteral("The 'Phone' field is not correct.");
    return QString();
}

QString body(const QString& name, const QString& organization, const QString& email, const QString& phone,
             const QString& message)
{
    const auto orNone = [](const QString& text) { return text.isEmpty() ? QStringLiteral("none") : text; };
    return QStringLiteral("Sender : Brantix v1.8.0\n") + "Name : " + orNone(name) + "\n" + "Organization : "
        + orNone(organization) + "\n" + "Email : " + orNone(email) + "\n" + "Phone : " + orNone(phone) + "\n"
        + "Body : " + "\n" + message;
}

} // namespace FeedbackForm
