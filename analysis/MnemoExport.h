#ifndef BX_ANALYSIS_MNEMOEXPORT_H
#define BX_ANALYSIS_MNEMOEXPORT_H

#include "analysis/MnemoGraphOption.h"

#include <QMessageBox>
#include <QString>

#include <functional>
#include <vector>

class QWidget;

/// The graph page's exports: one file per mnemonic history, written atomically.
class MnemoExport
{
public:
    /// The format actions' data.
    enum Format { Csv = 1, Json = 2, Tsv = 3 };
    /// Answers Yes, YesToAll, No, NoToAll or Abort for a path that exists.
    using OverwriteQuestion = std::function<QMessageBox::StandardButton(const QString& path)>;

    explicit MnemoExport(QWidget* dialogParent = nullptr);

    /// Replaces the question box (the default asks the user).
    void setOverwriteQuestion(OverwriteQuestion question) { m_question = std::move(question); }
    /// Why the last export stopped; empty when it completed.
    QString errorString() const { return m_error; }

    /// A file name from a mnemonic name: characters a file system refuses become '_'.
    static QString fileBaseName(const QString& mnemonic);
    static QString extension(Format format);

    /// Writes every series into `directory`; false when a file could not be
    /// written or the question was answered Abort. Files kept by No are not failures.
    bool generateMnemosFiles(const QString& directory, int format, const QList<MnemoSeries>& series,
                             const std::vector<qint64>& dates);

private:
    QMessageBox::StandardButton ask(const QString& path) const;
    bool writeFile(const QString& path, int format, const MnemoSeries& series, const std::vector<qint64>& dates);

    QWidget* m_parent;
    OverwriteQuestion m_question;
    QString m_error;
};

#endif
