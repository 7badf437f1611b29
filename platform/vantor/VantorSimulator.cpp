#include "VantorSimulator.h"

#include "VantorFileTransfer.h"
#include "VantorRegistry.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

struct Slot {
    VantorSimulator::Board board;
    bool present = true;
    quint32 led = 0;
    std::weak_ptr<vantor_device> open;
};

struct State {
    std::mutex mutex;
    bool loaded = false;
    QVector<Slot> boardSlots;
    QMap<QString, std::shared_ptr<VantorBus>> buses;
    QMap<QString, VantorSimulator::Network> networks;
    std::map<const vantor_device*, std::shared_ptr<vantor_device>> handles;

    ~State();
};

State& state()
{
    // The published network outlives the boards that withdraw from it at exit.
    static const bool publishedFirst = (FipSimulatedNetwork::current(), true);
    Q_UNUSED(publishedFirst);
    static State s;
    return s;
}

std::atomic<int> packetUs { 1000 };

QVector<VantorSimulator::Board> defaultBoards()
{
    VantorSimulator::Board pci;
    pci.interfaceType = VANTOR_INTERFACE_PCI;
    VantorSimulator::Board usb;
    return { pci, usb };
}

// Fills in the choices left open by a description: indexes counted per
// interface type, board numbers, form factors.
QVector<Slot> makeBoardSlots(const QVector<VantorSimulator::Board>& boards)
{
    QVector<Slot> out;
    QMap<quint32, QSet<int>> taken; // explicit indexes first, so counted ones go around them
    for (const VantorSimulator::Board& b : boards) {
        if (b.index >= 0)
            taken[b.interfaceType].insert(b.index);
    }
    for (int i = 0; i < boards.size(); ++i) {
        Slot s;
        s.board = boards[i];
        VantorSimulator::Board& b = s.board;
        if (b.index < 0) {
            QSet<int>& used = taken[b.interfaceType];
            b.index = 0;
            while (used.contains(b.index))
                ++b.index;
            used.insert(b.index);
        }
        if (b.number == 0)
            b.number = 0x00A10000u + quint32(i) * 0x11u + 1;
        if (b.subsystemId == 0 && b.interfaceType == VANTOR_INTERFACE_PCI)
            b.subsystemId = 0x5301;
        if (b.temperature == 0)
            b.temperature = 38.5f + float(i % 7) * 0.75f;
        out.append(s);
    }
    return out;
}

// Detaches a handle from its board and bus, as when the board is unplugged.
void pullHandle(const std::shared_ptr<vantor_device>& h)
{
    if (!h)
        return;
    std::shared_ptr<VantorFileTransfer> emission;
    {
        std::lock_guard<std::mutex> lock(h->bus->mutex);
        h->pulled = true;
        h->bus->leave(h.get());
        emission = h->emission;
    }
    if (emission)
        emission->abort();
    h->bus->updateScanThread();
}

void ensureLoaded(State& s)
{
    if (s.loaded)
        return;
    s.loaded = true;
    QVector<VantorSimulator::Board> boards = defaultBoards();
    const QString path = qEnvironmentVariable("BRANTIX_VANTOR_BOARDS");
    if (!path.isEmpty()) {
        QFile f(path);
        QString error;
        QVector<VantorSimulator::Board> fromFile;
        QVector<VantorSimulator::Network> networks;
        if (f.open(QIODevice::ReadOnly | QIODevice::Text)
            && VantorSimulator::parseBoards(QString::fromUtf8(f.readAll()), &fromFile, &error, &networks)) {
            boards = fromFile;
            for (const VantorSimulator::Network& n : networks)
                s.networks.insert(n.name, n);
        } else
            qWarning("Simulated arbitrator boards: %s: %s", qPrintable(path),
                     qPrintable(error.isEmpty() ? f.errorString() : error));
    }
    s.boardSlots = makeBoardSlots(boards);
}

std::shared_ptr<VantorBus> busFor(State& s, const VantorSimulator::Board& b)
{
    std::shared_ptr<VantorBus>& bus = s.buses[b.network];
    if (!bus) {
        bus = std::make_shared<VantorBus>(b.speedCode);
        bus->setNetwork(s.networks.contains(b.network) ? s.networks.value(b.network) : VantorSimulator::Network());
    }
    return bus;
}

void replaceBoardSlots(QVector<Slot> boardSlots)
{
    std::vector<std::shared_ptr<vantor_device>> open;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        for (const Slot& old : s.boardSlots)
            open.push_back(old.open.lock());
        s.boardSlots = std::move(boardSlots);
        s.loaded = true;
        s.buses.clear();
    }
    for (const auto& h : open)
        pullHandle(h);
}

template <typename F>
bool withOpenBoard(int position, F f)
{
    const std::shared_ptr<vantor_device> h = VantorRegistry::openAt(position);
    if (!h)
        return false;
    std::lock_guard<std::mutex> lock(h->bus->mutex);
    f(*h);
    return true;
}


bool parseRate(const QString& value, double* out)
{
    bool ok = false;
    const double v = value.toDouble(&ok);
    if (!ok || !(v >= 0 && v <= 1))
        return false;
    *out = v;
    return true;
}

bool parsePatterns(const QString& value, QMap<quint16, VantorSimulator::ValuePattern>* out)
{
    // In the order of ValuePattern::Kind.
    static const QStringList kinds = { QStringLiteral("counter"), QStringLiteral("sawtooth"),
                                       QStringLiteral("square"),  QStringLiteral("sine"),
                                       QStringLiteral("walk"),    QStringLiteral("static") };
    for (const QString& entry : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        if (parts.size() < 2 || parts.size() > 3)
            return false;
        bool ok = false;
        const uint id = parts[0].toUInt(&ok, 0);
        const int kind = kinds.indexOf(parts[1].toLower());
        if (!ok || id > 0xFFFF || kind < 0)
            return false;
        VantorSimulator::ValuePattern p;
        p.kind = VantorSimulator::ValuePattern::Kind(kind);
        if (parts.size() == 3) {
            p.periodMs = parts[2].toUInt(&ok);
            if (!ok || p.periodMs < 20 || p.periodMs > 3600000)
                return false;
        }
        out->insert(quint16(id), p);
    }
    return true;
}

bool parseNetwork(const QStringList& words, VantorSimulator::Network* net, QString* why)
{
    if (words.size() < 2 || words[1].contains(QLatin1Char('='))) {
        *why = QStringLiteral("network name missing");
        return false;
    }
    net->name = words[1];
    for (int w = 2; w < words.size(); ++w) {
        const QString key = words[w].section(QLatin1Char('='), 0, 0).toLower();
        const QString value = words[w].section(QLatin1Char('='), 1);
        FipTrafficGenerator::Faults& f = net->faults;
        bool ok = false;
        if (key == QLatin1String("padding")) {
            const uint id = value.toUInt(&ok, 0);
            ok = ok && id <= 0xFFFF;
            net->paddingId = quint16(id);
        } else if (key == QLatin1String("pattern")) {
            ok = parsePatterns(value, &net->patterns);
        } else if (key == QLatin1String("missing-reply")) {
            ok = parseRate(value, &f.missingReply);
        } else if (key == QLatin1String("fcs")) {
            ok = parseRate(value, &f.fcs);
        } else if (key == QLatin1String("glitch")) {
            ok = parseRate(value, &f.glitch);
        } else if (key == QLatin1String("late-reply")) {
            ok = parseRate(value, &f.lateReply);
        } else if (key == QLatin1String("dropout")) {
            ok = parseRate(value, &f.dropout);
        } else if (key == QLatin1String("dropout-ms")) {
            f.dropoutMs = value.toUInt(&ok);
            ok = ok && f.dropoutMs <= 3600000;
        }
        if (!ok) {
            *why = QStringLiteral("bad setting \"%1\"").arg(words[w]);
            return false;
        }
    }
    return true;
}

} // namespace

// Handles left open at exit leave their buses first, so no scan or file thread
// outlives the boards it works on.
State::~State()
{
    for (auto& entry : handles)
        pullHandle(entry.second);
    for (auto& entry : handles) {
        if (entry.second->emission)
            entry.second->emission->join();
    }
}

// ---- control API ----

void VantorSimulator::setBoards(const QVector<Board>& boards)
{
    replaceBoardSlots(makeBoardSlots(boards));
}

void VantorSimulator::setNetwork(const Network& network)
{
    std::shared_ptr<VantorBus> bus;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.networks.insert(network.name, network);
        bus = s.buses.value(network.name);
    }
    if (bus)
        bus->setNetwork(network);
}

VantorSimulator::Network VantorSimulator::network(const QString& name)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureLoaded(s);
    Network n = s.networks.value(name);
    n.name = name;
    return n;
}

void VantorSimulator::setFaults(const QString& name, const FipTrafficGenerator::Faults& faults)
{
    Network n = network(name);
    n.faults = faults;
    setNetwork(n);
}

QVector<VantorSimulator::Board> VantorSimulator::boards()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureLoaded(s);
    QVector<Board> out;
    for (const Slot& slot : s.boardSlots)
        out.append(slot.board);
    return out;
}

bool VantorSimulator::parseBoards(const QString& text, QVector<Board>* out, QString* error,
                                  QVector<Network>* networks)
{
    QVector<Board> boards;
    QSet<QPair<quint32, int>> indexes;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
        auto fail = [&](const QString& why) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(n + 1).arg(why);
            return false;
        };
        Board b;
        const QString kind = words[0].toLower();
        if (kind == QLatin1String("network")) {
            Network net;
            QString why;
            if (!parseNetwork(words, &net, &why))
                return fail(why);
            if (networks)
                networks->append(net);
            continue;
        }
        if (kind == QLatin1String("usb"))
            b.interfaceType = VANTOR_INTERFACE_USB;
        else if (kind == QLatin1String("pci"))
            b.interfaceType = VANTOR_INTERFACE_PCI;
        else if (kind == QLatin1String("other"))
            b.interfaceType = VANTOR_INTERFACE_OTHER;
        else
            return fail(QStringLiteral("unknown board kind \"%1\"").arg(words[0]));
        for (int w = 1; w < words.size(); ++w) {
            const QString key = words[w].section(QLatin1Char('='), 0, 0).toLower();
            const QString value = words[w].section(QLatin1Char('='), 1);
            bool ok = true;
            const uint number = value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                ? value.mid(2).toUInt(&ok, 16)
                : value.toUInt(&ok, 10);
            if (key == QLatin1String("network") && !value.isEmpty()) {
                b.network = value;
                continue;
            }
            if (key == QLatin1String("temperature")) {
                b.temperature = value.toFloat(&ok);
            } else if (!ok) {
                return fail(QStringLiteral("\"%1\" is not a number").arg(words[w]));
            } else if (key == QLatin1String("index") && number < 256) {
                b.index = int(number);
            } else if (key == QLatin1String("number")) {
                b.number = number;
            } else if (key == QLatin1String("speed") && number <= 3) {
                b.speedCode = quint8(number);
            } else if (key == QLatin1String("subsys") && number <= 0xFFFF) {
                b.subsystemId = quint16(number);
            } else if (key == QLatin1String("impedance") && number <= 1) {
                b.impedanceCode = quint8(number);
            } else {
                return fail(QStringLiteral("bad setting \"%1\"").arg(words[w]));
            }
            if (!ok)
                return fail(QStringLiteral("\"%1\" is not a number").arg(words[w]));
        }
        if (b.index >= 0) {
            const QPair<quint32, int> key(b.interfaceType, b.index);
            if (indexes.contains(key))
                return fail(QStringLiteral("board index %1 given twice").arg(b.index));
            indexes.insert(key);
        }
        boards.append(b);
    }
    if (boards.size() > VANTOR_MAX_RECORDS) {
        if (error)
            *error = QStringLiteral("more than %1 boards").arg(VANTOR_MAX_RECORDS);
        return false;
    }
    *out = boards;
    return true;
}

bool VantorSimulator::loadBoardsFile(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    QVector<Board> boards;
    QVector<Network> networks;
    if (!parseBoards(QString::fromUtf8(f.readAll()), &boards, error, &networks))
        return false;
    setBoards(boards);
    for (const Network& n : networks)
        setNetwork(n);
    return true;
}

void VantorSimulator::reset()
{
    std::vector<std::shared_ptr<vantor_device>> open;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        for (const Slot& old : s.boardSlots)
            open.push_back(old.open.lock());
        s.boardSlots.clear();
        s.buses.clear();
        s.networks.clear();
        s.loaded = false;
        ensureLoaded(s);
    }
    for (const auto& h : open)
        pullHandle(h);
    packetUs = 1000;
}

void VantorSimulator::pullBoard(int position)
{
    std::shared_ptr<vantor_device> h;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        ensureLoaded(s);
        if (position < 0 || position >= s.boardSlots.size())
            return;
        s.boardSlots[position].present = false;
        h = s.boardSlots[position].open.lock();
    }
    pullHandle(h);
}

void VantorSimulator::plugBoard(int position)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureLoaded(s);
    if (position < 0 || position >= s.boardSlots.size())
        return;
    s.boardSlots[position].present = true;
    s.boardSlots[position].open.reset();
}

bool VantorSimulator::postEvent(int position, quint16 code, quint16 param)
{
    return withOpenBoard(position, [&](vantor_device& d) { d.postEvent(code, param); });
}

bool VantorSimulator::setMediumCounter(int position, int counter, quint16 value)
{
    if (counter < 0 || counter >= 7)
        return false;
    return withOpenBoard(position, [&](vantor_device& d) { d.counters[counter] = value; });
}

bool VantorSimulator::setMediumFault(int position, quint16 statusBits, bool stuck)
{
    return withOpenBoard(position, [&](vantor_device& d) {
        d.faultBits = statusBits & 0x3C;
        d.faultStuck = stuck && d.faultBits != 0;
    });
}

bool VantorSimulator::setTemperature(int position, float celsius)
{
    return withOpenBoard(position, [&](vantor_device& d) { d.fixedTemperature = celsius; });
}

void VantorSimulator::setFilePacketUs(int us)
{
    packetUs = std::max(0, us);
}

QStringList VantorSimulator::calls(int position)
{
    QStringList out;
    withOpenBoard(position, [&](vantor_device& d) { out = d.calls; });
    return out;
}

bool VantorSimulator::isOpen(int position)
{
    return VantorRegistry::openAt(position) != nullptr;
}

quint32 VantorSimulator::ledColour(int position)
{
    return VantorRegistry::led(position);
}

quint64 VantorSimulator::macrocycles(const QString& network)
{
    std::shared_ptr<VantorBus> bus;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        bus = s.buses.value(network);
    }
    if (!bus)
        return 0;
    std::lock_guard<std::mutex> lock(bus->mutex);
    return bus->macrocycles();
}

// ---- registry ----

std::shared_ptr<vantor_device> VantorRegistry::open(u32 interfaceType, u8 boardIndex, u32* err)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureLoaded(s);
    for (int i = 0; i < s.boardSlots.size(); ++i) {
        Slot& slot = s.boardSlots[i];
        if (!slot.present || slot.board.interfaceType != interfaceType || slot.board.index != boardIndex)
            continue;
        if (!slot.open.expired()) {
            *err = VANTOR_ERR_DEVICE_BUSY;
            return nullptr;
        }
        auto h = std::make_shared<vantor_device>();
        h->bus = busFor(s, slot.board);
        h->position = i;
        h->interfaceType = interfaceType;
        h->boardIndex = boardIndex;
        h->speedCode = slot.board.speedCode;
        h->baseTemperature = slot.board.temperature;
        h->openedAt.start();
        slot.open = h;
        s.handles[h.get()] = h;
        *err = VANTOR_OK;
        return h;
    }
    *err = VANTOR_ERR_NO_DEVICE;
    return nullptr;
}

std::shared_ptr<vantor_device> VantorRegistry::find(const vantor_device* handle)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.handles.find(handle);
    return it == s.handles.end() ? nullptr : it->second;
}

std::shared_ptr<vantor_device> VantorRegistry::openAt(int position)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (position < 0 || position >= s.boardSlots.size())
        return nullptr;
    // A closed handle may live on a little in a file transfer; it is not open any more.
    std::shared_ptr<vantor_device> h = s.boardSlots[position].open.lock();
    return h && s.handles.count(h.get()) ? h : nullptr;
}

void VantorRegistry::close(const vantor_device* handle)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.handles.erase(handle);
}

int VantorRegistry::records(vantor_record* out, int max)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureLoaded(s);
    int n = 0;
    for (const Slot& slot : s.boardSlots) {
        if (!slot.present)
            continue;
        if (n >= max)
            break;
        if (out) {
            const VantorSimulator::Board& b = slot.board;
            u8* r = out[n].bytes;
            std::memset(r, 0, VANTOR_RECORD_SIZE);
            for (int k = 0; k < 4; ++k) {
                r[0 + k] = u8(b.interfaceType >> (8 * k));
                r[10 + k] = u8(b.number >> (8 * k));
            }
            r[4] = u8(b.index);
            r[5] = 2; // firmware version 2.7
            r[6] = 7;
            r[17] = b.speedCode;
            r[18] = b.impedanceCode;
            r[25] = u8(b.subsystemId);
            r[26] = u8(b.subsystemId >> 8);
        }
        ++n;
    }
    return n;
}

quint32 VantorRegistry::led(int position)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ensureLoaded(s);
    return position >= 0 && position < s.boardSlots.size() ? s.boardSlots[position].led : 0;
}

void VantorRegistry::setLed(int position, quint32 colour)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (position >= 0 && position < s.boardSlots.size())
        s.boardSlots[position].led = colour;
}

int VantorRegistry::filePacketUs()
{
    return packetUs;
}
