#include "analysis/MainATModel.h"

#include "capture/decoder/TraceRow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// A line longer than this is shown cut; no trace writer comes near it.
constexpr qint64 kMaxLine = 1 << 20;
// Bytes scanned between two looks at the clock while indexing.
constexpr qint64 kWindow = 4 << 20;
constexpr qint64 kProgressNs = 100000000;

bool parseTick(const char* p, int n, quint64* out)
{
    if (n <= 0 || n > 20)
        return false;
    quint64 v = 0;
    for (int i = 0; i < n; ++i) {
        const unsigned d = static_cast<unsigned char>(p[i]) - '0';
        if (d > 9)
            return false;
        if (v > (~quint64(0) - d) / 10)
            return false;
        v = v * 10 + d;
    }
    *out = v;
    return true;
}

} // namespace

MainATModel::MainATModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    m_headers = { tr("Anchor"), tr("No."), tr("Relative Date"), tr("Relative Date Tick"),
                  tr("Absolute Date"), tr("Absolute Date Tick"), tr("Inter-Frame Delay"),
                  tr("Frame Delay"), tr("Control"), tr("Identifier"), tr("PDU"), tr("Data Length"),
                  tr("Mnemonic"), tr("Data"), tr("Description"), tr("Type"), tr("Bit Range"),
                  tr("Pixmap"), tr("Production Status"), tr("Meaning Status"), tr("Refresh Status"),
                  tr("FCS") };
    for (CachedLine& l : m_cache)
        l.bytes.reserve(256);
}

MainATModel::~MainATModel() = default;

void MainATModel::beginLayout()
{
    emit layoutAboutToBeChanged();
}

void MainATModel::endLayout()
{
    // Indexes of rows that went away become invalid.
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& i : before)
            after.append(i.row() < m_rowCount ? index(i.row(), i.column()) : QModelIndex());
        changePersistentIndexList(before, after);
    }
    emit layoutChanged();
}

void MainATModel::invalidateCache() const
{
    for (CachedLine& l : m_cache)
        l.row = -1;
}

void MainATModel::setFilePath(const QString& path)
{
    beginLayout();
    if (m_file.isOpen())
        m_file.close();
    m_offsets = QVector<qint64>();
    m_rowCount = 0;
    m_rowsNotShown = 0;
    m_firstLineFields = 0;
    m_anchor = 0;
    m_speed = 4;
    ++m_generation;
    invalidateCache();
    endLayout();

    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qDebug().noquote() << "MainATModel -" << QStringLiteral("Couldn't open %1: %2").arg(path, m_file.errorString());
        return;
    }
    update();
}

void MainATModel::readFirstLine(qint64 size)
{
    QByteArray first;
    if (size <= 0 || !readLine(0, -1, &first))
        return;
    const TraceRow row = TraceRow::fromLine(first);
    m_firstLineFields = int(first.count('\t')) + 1;
    const std::string& tick = row.field(TraceRow::AbsoluteDateTick);
    quint64 anchor = 0;
    if (!parseTick(tick.data(), int(tick.size()), &anchor))
        anchor = 0;
    m_anchor = anchor;
    // A first guess of the row count from the first line, so the offsets
    // rarely have to grow.
    const qint64 estimate = size / std::max<qint64>(first.size() + 1, 1);
    m_offsets.reserve(int(std::min<qint64>(estimate + estimate / 16 + 16, m_maxRows)));
}

void MainATModel::refineReserve(qint64 scanned, qint64 size)
{
    // The first line alone can be far from the mean; the first window tells
    // better, and the offsets are still few enough to move cheaply.
    const qint64 lines = m_offsets.size();
    if (lines < 2 || scanned <= 0)
        return;
    const qint64 estimate = std::min<qint64>(qint64(double(lines) * double(size) / double(scanned) * 1.03) + 1024,
                                             m_maxRows);
    if (estimate <= lines)
        return;
    QVector<qint64> fresh;
    fresh.reserve(int(estimate));
    // Element by element: appending a whole vector to an empty one would share it and drop the reserve.
    for (qint64 o : qAsConst(m_offsets))
        fresh.append(o);
    m_offsets.swap(fresh);
}

void MainATModel::update()
{
    if (!m_file.isOpen())
        return;
    const quint64 generation = ++m_generation;
    if (m_rowCount > 0 || !m_offsets.isEmpty()) {
        beginLayout();
        m_offsets = QVector<qint64>();
        m_rowCount = 0;
        m_rowsNotShown = 0;
        invalidateCache();
        endLayout();
    }
    m_file.seek(0);
    qint64 size = m_file.size();
    QElapsedTimer timer;
    timer.start();

    readFirstLine(size);
    if (size > 0)
        m_offsets.append(0);

    QByteArray buffer;
    bool mapped = true;
    for (qint64 pos = 0; pos < size;) {
        const qint64 length = std::min(kWindow, size - pos);
        const char* data = nullptr;
        uchar* map = mapped ? m_file.map(pos, length) : nullptr;
        qint64 got = length;
        if (map) {
            data = reinterpret_cast<const char*>(map);
        } else {
            // No mapping on this file system: plain reads.
            mapped = false;
            buffer.resize(int(length));
            got = m_file.seek(pos) ? m_file.read(buffer.data(), length) : -1;
            if (got <= 0)
                break;
            data = buffer.constData();
        }
        const char* p = data;
        const char* end = data + got;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl)
                break;
            const qint64 next = pos + (nl - data) + 1;
            if (next < size && m_offsets.size() >= m_maxRows) {
                ++m_rowsNotShown;
            } else if (next < size) {
                if (m_offsets.size() == m_offsets.capacity()) {
                    // Grow by what the rest of the file needs at the mean line length so far.
                    const qint64 mean = std::max<qint64>(next / m_offsets.size(), 1);
                    const qint64 more = (size - next) / mean;
                    m_offsets.reserve(int(std::min<qint64>(m_offsets.size() + more + more / 16 + 1024, m_maxRows)));
                }
                m_offsets.append(next);
            }
            p = nl + 1;
        }
        if (map)
            m_file.unmap(map);
        pos += got;
        if (got < length)
            size = pos;
        if (pos == got && pos < size)
            refineReserve(pos, size);

        if (timer.nsecsElapsed() > kProgressNs) {
            emit generateProgress(int(qRound64(double(pos) * 100.0 / double(size))));
            timer.restart();
            QCoreApplication::processEvents();
            // Another file or another pass took over while events ran.
            if (m_generation != generation || !m_file.isOpen())
                return;
        }
    }

    emit generateProgress(100);
    if (m_generation != generation)
        return;
    beginLayout();
    m_rowCount = m_offsets.size();
    endLayout();
}

void MainATModel::addRows(int count, const QVector<qint64>& offsets)
{
    if (count <= 0 && offsets.isEmpty())
        return;
    // Rows past the limit stay in the file; the table stops growing.
    const int room = std::max(m_maxRows - std::max(m_rowCount, m_offsets.size()), 0);
    const int taken = std::min(offsets.size(), room);
    const int rows = std::min(std::max(count, 0), std::max(m_maxRows - m_rowCount, 0));
    m_rowsNotShown += quint64(std::max(count, 0) - rows);
    if (taken == 0 && rows == 0)
        return;
    beginLayout();
    m_offsets += taken == offsets.size() ? offsets : offsets.mid(0, taken);
    m_rowCount += rows;
    endLayout();
}

void MainATModel::setAbsoluteCounterAnchor(quint64 tick)
{
    m_anchor = tick;
}

void MainATModel::skipToRow(int row)
{
    if (m_file.isOpen() && row >= 0 && row < m_rowCount && row < m_offsets.size())
        m_file.seek(m_offsets.at(row));
}

QVariant MainATModel::getColumnPropertyData(int column) const
{
    return column >= 0 && column < m_headers.size() ? m_headers.at(column) : QVariant();
}

int MainATModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int MainATModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_headers.size();
}

bool MainATModel::readLine(qint64 offset, qint64 length, QByteArray* out) const
{
    if (!m_file.isOpen() || offset < 0 || !m_file.seek(offset))
        return false;
    if (length > 0) {
        const qint64 n = std::min(length, kMaxLine);
        out->resize(int(n));
        const qint64 got = m_file.read(out->data(), n);
        if (got <= 0)
            return false;
        out->resize(int(got));
    } else {
        // The last row: its length is not known yet, read until the line end.
        out->resize(0);
        char chunk[4096];
        while (out->size() < kMaxLine) {
            const qint64 got = m_file.read(chunk, sizeof chunk);
            if (got <= 0)
                break;
            const void* nl = std::memchr(chunk, '\n', size_t(got));
            out->append(chunk, nl ? int(static_cast<const char*>(nl) - chunk) : int(got));
            if (nl)
                break;
        }
        if (out->isEmpty() && m_file.atEnd() && offset >= m_file.size())
            return false;
    }
    const int nl = out->indexOf('\n');
    if (nl >= 0)
        out->truncate(nl);
    if (out->endsWith('\r'))
        out->chop(1);
    return true;
}

const MainATModel::CachedLine* MainATModel::line(int row) const
{
    if (row < 0 || row >= m_rowCount || row >= m_offsets.size())
        return nullptr;
    CachedLine& l = m_cache[size_t(row & (CacheSize - 1))];
    if (l.row == row)
        return &l;
    const qint64 offset = m_offsets.at(row);
    qint64 length = -1;
    if (row + 1 < m_offsets.size() && m_offsets.at(row + 1) > offset)
        length = m_offsets.at(row + 1) - offset;
    l.row = -1;
    if (!readLine(offset, length, &l.bytes))
        return nullptr;

    // Where each of the first 22 fields starts; starts[n] is one past the end of field n-1.
    const char* data = l.bytes.constData();
    const int size = l.bytes.size();
    int count = 1;
    l.starts[0] = 0;
    int end = size + 1;
    for (int i = 0; i < size;) {
        const void* tab = std::memchr(data + i, '\t', size_t(size - i));
        if (!tab)
            break;
        const int at = int(static_cast<const char*>(tab) - data);
        if (count == ColumnCount) {
            end = at + 1;
            break;
        }
        l.starts[size_t(count++)] = at + 1;
        i = at + 1;
    }
    l.starts[size_t(count)] = end;
    l.fieldCount = count;
    l.row = row;
    return &l;
}

QString MainATModel::fieldText(const CachedLine& l, int column) const
{
    if (column < 0 || column >= l.fieldCount)
        return QString();
    const int start = l.starts[size_t(column)];
    const int n = l.starts[size_t(column) + 1] - 1 - start;
    return QString::fromUtf8(l.bytes.constData() + start, n);
}

bool MainATModel::rowTick(const CachedLine& l, quint64* tick) const
{
    const int column = TraceRow::AbsoluteDateTick;
    if (column >= l.fieldCount)
        return false;
    const int start = l.starts[size_t(column)];
    return parseTick(l.bytes.constData() + start, l.starts[size_t(column) + 1] - 1 - start, tick);
}

QString MainATModel::relativeDate(qint64 micros) const
{
    const quint64 v = micros < 0 ? quint64(0) - quint64(micros) : quint64(micros);
    quint64 hours = v / 3600000000ULL;
    const unsigned minutes = unsigned((v % 3600000000ULL) / 60000000ULL);
    const unsigned seconds = unsigned((v % 60000000ULL) / 1000000ULL);
    const unsigned millis = unsigned((v % 1000000ULL) / 1000ULL);
    const unsigned us = unsigned(v % 1000ULL);
    const char* sign = micros < 0 ? "- " : micros > 0 ? "+ " : "  ";
    char days[40] = "";
    if (hours >= 24) {
        std::snprintf(days, sizeof days, "[%llu days] ", static_cast<unsigned long long>(hours / 24));
        hours %= 24;
    }
    char text[96];
    const int n = std::snprintf(text, sizeof text, "%s%s%02u:%02u:%02u.%03u %03u s", sign, days,
                                unsigned(hours), minutes, seconds, millis, us);
    return QString::fromLatin1(text, std::min<int>(n, int(sizeof text) - 1));
}

QIcon MainATModel::icon(const QString& path) const
{
    auto it = m_icons.constFind(path);
    if (it != m_icons.constEnd())
        return it.value();
    // Few distinct icons exist in a trace; keep the cache from growing on odd files.
    if (m_icons.size() > 256)
        m_icons.clear();
    const QIcon icon(path);
    m_icons.insert(path, icon);
    return icon;
}

QVariant MainATModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.column() < 0 || index.row() >= m_rowCount
        || index.column() >= ColumnCount)
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::DecorationRole)
        return QVariant();
    if (role == Qt::DecorationRole && index.column() != TraceRow::Mnemonic)
        return QVariant();
    const CachedLine* l = line(index.row());
    if (!l)
        return QVariant();

    if (role == Qt::DecorationRole) {
        const QString path = fieldText(*l, TraceRow::Pixmap);
        return path.isEmpty() ? QVariant() : QVariant(icon(path));
    }

    quint64 tick = 0;
    switch (index.column()) {
    case TraceRow::Anchor:
        return rowTick(*l, &tick) && tick == m_anchor ? QStringLiteral("true") : QStringLiteral("false");
    case TraceRow::RelativeDateTick:
        return rowTick(*l, &tick) ? QString::number(qint64(tick - m_anchor)) : QString();
    case TraceRow::RelativeDate:
        if (m_speed < 4)
            return rowTick(*l, &tick) ? relativeDate(qint64(tick - m_anchor)) : QString();
        return fieldText(*l, index.column());
    default:
        return fieldText(*l, index.column());
    }
}

QVariant MainATModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return getColumnPropertyData(section);
    return QVariant();
}

Qt::ItemFlags MainATModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return f;
    if (index.column() == TraceRow::Anchor)
        return f | Qt::ItemIsUserCheckable;
    return f & ~Qt::ItemIsEditable;
}

bool MainATModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    bool anchored = false;
    if (index.isValid() && index.column() == TraceRow::Anchor && value.toBool()) {
        quint64 tick = 0;
        const CachedLine* l = line(index.row());
        if (l && rowTick(*l, &tick)) {
            beginLayout();
            m_anchor = tick;
            endLayout();
            anchored = true;
        }
    }
    const bool base = QAbstractTableModel::setData(index, value, role);
    return anchored || base;
}
