#include "analysis/MnemoExport.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>


namespace {

/// The text of a value in CSV and TSV lines.
QString valueText(const MnemoHistory& history, int date)
{
    const quint64 raw = history.raw(date);
    const MnemoField& field = history.field;
    if (field.type == MnemoField::Bool)
        return raw ? QStringLiteral("1") : QStringLiteral("0");
    if (field.isFloating())
        return QString::number(MnemoCodec::rawToDouble(field, raw), 'g', 6);
    if (field.isSigned())
        return QString::number(qint64(raw));
    if (field.isInteger())
        return QString::number(raw);
    return QStringLiteral("0");
}

/// One entry of the indented array, laid out as QJsonDocument::Indented would.
QByteArray jsonEntry(const QString& time, const QByteArray& value)
{
    QByteArray timeText = time.toUtf8();
    timeText.replace('\\', "\\\\").replace('"', "\\\"");
    return "    {\n        \"time\": \"" + timeText + "\",\n        \"value\": " + value + "\n    }";
}

} // namespace

MnemoExport::MnemoExport(QWidget* dialogParent)
    : m_parent(dialogParent)
{
}

QString MnemoExport::fileBaseName(const QString& mnemonic)
{
    QString name;
    for (const QChar c : mnemonic.trimmed()) {
        const bool refused = c.unicode() < 0x20 || QStringLiteral("<>:\"/\\|?*").contains(c);
        name.append(refused ? QLatin1Char('_') : c);
    }
    // Names ending in dots or blanks, or only dots, do not survive on every file system.
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("mnemonic") : name;
}

QString MnemoExport::extension(Format format)
{
    switch (format) {
    case Csv: return QStringLiteral(".csv");
    case Json: return QStringLiteral(".json");
    case Tsv: return QStringLiteral(".tvs");
    }
    return QString();
}

QMessageBox::StandardButton MnemoExport::ask(const QString& path) const
{
    if (m_question)
        return m_question(path);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Brantix - Overwrite ?"),
                    QDir::toNativeSeparators(path) + QObject::tr(" already exists. Replace ?"),
                    QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll
                        | QMessageBox::Abort,
                    m_parent);
    box.setWindowIcon(QIcon(QStringLiteral(":/images/images/icon_brantix.png")));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool MnemoExport::generateMnemosFiles(const QString& directory, int format, const QList<MnemoSeries>& series,
                                      const std::vector<qint64>& dates)
{
    m_error.clear();
    const QString ext = extension(Format(format));
    if (ext.isEmpty()) {
        m_error = QObject::tr("Unknown export format %1.").arg(format);
        return false;
    }
    const QDir dir(directory);
    if (!dir.exists()) {
        m_error = QObject::tr("The folder %1 does not exist.").arg(QDir::toNativeSeparators(directory));
        return false;
    }
    bool replaceAll = false, keepAll = false;
    QSet<QString> used;
    for (const MnemoSeries& s : series) {
        // Two mnemonics of one name in different renderings get files of their own.
        QString base = fileBaseName(s.name);
        for (int n = 2; used.contains(base.toLower()); ++n)
            base = fileBaseName(s.name) + QStringLiteral("_%1").arg(n);
        used.insert(base.toLower());
        const QString path = dir.filePath(base + ext);
        if (QFileInfo::exists(path) && !replaceAll) {
            if (keepAll)
                continue;
            const QMessageBox::StandardButton answer = ask(path);
            if (answer == QMessageBox::Abort || answer == QMessageBox::Escape || answer == QMessageBox::NoButton) {
                m_error = QObject::tr("Export aborted.");
                return false;
            }
            replaceAll = answer == QMessageBox::YesToAll;
            keepAll = answer == QMessageBox::NoToAll;
            if (answer == QMessageBox::No || keepAll)
                continue;
        }
        if (!writeFile(path, format, s, dates))
            return false;
    }
    return true;
}

bool MnemoExport::writeFile(const QString& path, int format, const MnemoSeries& series, const std::vector<qint64>& dates)
{
    QSaveFile file(path);
    if (!file.open(format == Json ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Text)) {
        m_error = QObject::tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    const MnemoHistory* h = series.history;
    const int count = int(dates.size());
    QByteArray json("[\n");
    bool firstEntry = true;
    QTextStream out(&file);
    const QChar separator = format == Csv ? QLatin1Char(',') : QLatin1Char('\t');
    bool previous = false;
    quint64 last = 0;
    for (int date = 0; h && date < count; ++date) {
        if (!h->hasValue(date))
            continue;
        const quint64 raw = h->raw(date);
        if (previous && raw == last)
            continue;
        previous = true;
        last = raw;
        const QString time = MnemoAnalysis::dateText(dates[size_t(date)]);
        if (format == Json) {
            if (!firstEntry)
                json += ",\n";
            firstEntry = false;
            json += jsonEntry(time, h->jsonText(date));
        } else
            out << time << separator << valueText(*h, date) << '\n';
    }
    if (format == Json)
        file.write(json + (firstEntry ? "]\n" : "\n]\n"));
    else
        out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        m_error = QObject::tr("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}
