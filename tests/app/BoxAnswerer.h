#ifndef BX_TESTS_APP_BOXANSWERER_H
#define BX_TESTS_APP_BOXANSWERER_H

#include <QtTest>
#include <QtWidgets>

/// Answers the message boxes the window opens, in order, and remembers their texts;
/// cancels its file dialogs, as a user pressing Cancel, and counts them.
/// (No Q_OBJECT: it declares no signals or slots, and its header is shared by tests.)
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {})
        : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start(10);
    }
    QStringList texts;
    QStringList titles;
    QList<bool> ownIcons; ///< whether each box was given a window icon of its own
    int fileDialogs = 0;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last)
            return;
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            m_last = dialog;
            ++fileDialogs;
            dialog->reject();
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || m_answers.isEmpty())
            return;
        m_last = box;
        texts << box->text();
        titles << box->windowTitle();
        ownIcons << box->testAttribute(Qt::WA_SetWindowIcon);
        // BX_SCREENSHOT set: each box is saved as it is answered, <BX_SCREENSHOT>-box-<n>.png.
        if (qEnvironmentVariableIsSet("BX_SCREENSHOT"))
            box->grab().save(qEnvironmentVariable("BX_SCREENSHOT") + QString("-box-%1.png").arg(texts.size()));
        QAbstractButton* button = box->button(m_answers.takeFirst());
        QVERIFY(button);
        button->click();
    }
    QTimer m_timer;
    QList<QMessageBox::StandardButton> m_answers;
    QPointer<QWidget> m_last;
};

#endif
