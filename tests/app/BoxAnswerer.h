#ifndef BX_TESTS_APP_BOXANSWERER_H
#define BX_TESTS_APP_BOXANSWERER_H

#include <QtTest>
#include <QtWidgets>

/// Answers the message boxes the window opens, in order, and remembers their texts.
/// (No Q_OBJECT: it declares no signals or slots, and its header is shared by tests.)
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers)
        : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start(10);
    }
    QStringList texts;
    QStringList titles;
    QList<bool> ownIcons; ///< whether each box was given a window icon of its own

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == m_last || m_answers.isEmpty())
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
    QPointer<QMessageBox> m_last;
};

/// Cancels the file dialogs the window opens, as a user pressing Cancel, and counts them.
class FileDialogCanceller : public QObject
{
public:
    FileDialogCanceller()
    {
        connect(&m_timer, &QTimer::timeout, this, &FileDialogCanceller::poll);
        m_timer.start(10);
    }
    int count = 0;

private:
    void poll()
    {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == m_last)
            return;
        m_last = dialog;
        ++count;
        dialog->reject();
    }
    QTimer m_timer;
    QPointer<QFileDialog> m_last;
};

#endif
