// The contact form of the options area: its checks, the mail it becomes and the
// answer of the mail server.

#include "app/BX.h"
#include "ui_BX.h"

#include "shell/Feedback.h"
#include "shell/Smtp.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

void BX::clearFeedbackForm()
{
    ui->feedbackName->clear();
    ui->feedbackOrganization->clear();
    ui->feedbackEmail->clear();
    ui->feedbackPhone->clear();
    ui->feedbackType->setCurrentIndex(0);
    ui->feedbackComments->clear();
    ui->feedbackAttachment->clear();
    m_feedbackAttachments.clear();
}

void BX::onFeedbackBrowseClicked()
{
    const QStringList files = QFileDialog::getOpenFileNames(this, tr("Attachments"), getFileConfigurationSavePath());
    if (files.isEmpty())
        return;
    m_feedbackAttachments = files;
    QStringList names;
    for (const QString& file : files)
        names << QFileInfo(file).fileName();
    ui->feedbackAttachment->setText(names.join(QStringLiteral("; ")));
}

void BX::onFeedbackSubmitClicked()
{
    const QString name = ui->feedbackName->text();
    const QString message = ui->feedbackComments->toPlainText();
    const QString email = ui->feedbackEmail->text();
    const QString phone = ui->feedbackPhone->text();
    const QString refusal = FeedbackForm::check(name, message, email, phone);
    if (!refusal.isEmpty()) {
        QMessageBox::warning(this, tr("Feedback"), refusal);
        return;
    }

    FeedbackAccount account;
    {
        QSettings store(OrganizationName, ProductName);
        account = FeedbackAccount::read(store);
    }
    auto* smtp = new Smtp(account.user, account.password, account.host, account.port, 30000, this);
    smtp->addCaCertificates(account.caCertificates());
    connect(smtp, &Smtp::status, this, &BX::onFeedbackSent);
    smtp->sendMail(account.user, account.recipient, ui->feedbackType->currentText(),
                   FeedbackForm::body(name, ui->feedbackOrganization->text(), email, phone, message),
                   m_feedbackAttachments);
}

void BX::onFeedbackSent(const QString& status)
{
    if (status == Smtp::SentStatus)
        QMessageBox::information(this, tr("Feedback"), tr("Feedback sent !"));
}
