// The simulated board: its event log, the platform root of its files and its GPIO chips.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/sim_board.h"
#include "platform/sim_isp.h"
#include "platform/sim_sensor.h"
#include "sim_board_internal.h"
#include "sim_record_ring.h"

namespace norva_sim {
namespace {

constexpr size_t kMaxEvents = 65536;
/** The event log's block: the newest events within it, however long they are. */
constexpr size_t kEventBytes = 4u << 20;
constexpr unsigned kMaxChips = 16;
constexpr unsigned kLinesPerChip = 64;

struct Line;

struct Chip {
    unsigned number = 0;
    std::vector<Line *> requested;
};

/** A line handle of a chip handle; the handles are the addresses of these records. */
struct Line {
    Chip *chip = nullptr;
    unsigned offset = 0;
    bool requested = false;
};

struct Board {
    RecordRing events{kMaxEvents, kEventBytes};
    std::string root;
    unsigned chipCount = 8;
    std::set<unsigned> absentChips;
    std::set<std::tuple<unsigned, unsigned, int>> gpioFaults;
    std::array<std::array<int, kLinesPerChip>, kMaxChips> levels{};
    std::map<Chip *, std::vector<std::unique_ptr<Line>>> chips; /* open handles and the lines handed out */
    std::vector<GpioListener> listeners;
    Board() { clearLevels(); }
    void clearLevels() {
        for (auto &chip : levels)
            chip.fill(-1);
    }
};

Board &board() {
    static Board *b = new Board(); // used until the end of the process
    return *b;
}

bool faulty(const Board &b, const Line *line, GpioFault fault) {
    return b.gpioFaults.count(std::make_tuple(line->chip->number, line->offset, static_cast<int>(fault))) != 0;
}

void drive(Board &b, Line *line, int value) {
    const int level = value != 0 ? 1 : 0;
    b.levels[line->chip->number][line->offset] = level;
    for (GpioListener l : b.listeners)
        l(line->chip->number, line->offset, level);
}

bool lineKnown(Board &b, SEAM_GPIO_LINE *handle) {
    Line *line = reinterpret_cast<Line *>(handle);
    for (auto &c : b.chips)
        for (auto &l : c.second)
            if (l.get() == line)
                return true;
    return false;
}

void resetBoardHook() { ResetBoard(); }
const bool g_resetRegistered = RegisterResetHook(resetBoardHook);

} // namespace

std::recursive_mutex &BoardMutex() {
    static std::recursive_mutex *m = new std::recursive_mutex();
    return *m;
}

std::vector<std::string> BoardEvents() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    std::vector<std::string> events;
    events.reserve(board().events.size());
    board().events.forEach(
        [&](const uint8_t *text, size_t n) { events.emplace_back(reinterpret_cast<const char *>(text), n); });
    return events;
}

void ClearBoardEvents() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    board().events.clear();
}

void AddBoardEvent(const std::string &event) { AddBoardEventText(event.data(), event.size()); }

void AddBoardEventText(const char *text, size_t length) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    board().events.add(text, length, nullptr, 0);
}

void SetPlatformRoot(const std::string &root) {
    // A board of a fixture's own: the default board makes way.
    if (!root.empty())
        DefaultBoardOff(true);
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    board().root = root;
}

std::string PlatformRoot() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return board().root;
}

std::string PlatformPath(const char *path) {
    const std::string root = PlatformRoot();
    if (path == nullptr)
        return std::string();
    const std::string p(path);
    if (!root.empty() && (p.rfind("/etc/", 0) == 0 || p.rfind("/proc/", 0) == 0))
        return root + p;
    return p;
}

void SetGpioChipCount(unsigned count) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    board().chipCount = std::min(count, kMaxChips);
}

void SetGpioChipAbsent(unsigned chip, bool absent) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (absent)
        board().absentChips.insert(chip);
    else
        board().absentChips.erase(chip);
}

void InjectGpioFault(unsigned chip, unsigned line, GpioFault fault) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    board().gpioFaults.insert(std::make_tuple(chip, line, static_cast<int>(fault)));
}

int GpioLevel(unsigned chip, unsigned line) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (chip >= kMaxChips || line >= kLinesPerChip)
        return -1;
    return board().levels[chip][line];
}

bool WiringPowered(const SensorWiring &wiring) {
    if (wiring.pwdnLine >= 0 &&
        GpioLevel(wiring.pwdnChip, static_cast<unsigned>(wiring.pwdnLine)) != (wiring.pwdnActive ? 1 : 0))
        return false;
    if (wiring.resetLine >= 0 && GpioLevel(wiring.resetChip, static_cast<unsigned>(wiring.resetLine)) != 1)
        return false;
    return true;
}

int GpioOpenChips() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return static_cast<int>(board().chips.size());
}

void AddGpioListener(GpioListener listener) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    if (std::find(b.listeners.begin(), b.listeners.end(), listener) == b.listeners.end())
        b.listeners.push_back(listener);
}

SEAM_GPIO_CHIP *SimGpioChipOpenByName(const char *name) {
    EnsureDefaultBoard();
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    unsigned number = 0;
    char tail = 0;
    const bool parsed = name != nullptr && std::sscanf(name, "gpiochip%u%c", &number, &tail) == 1;
    if (!parsed || number >= b.chipCount || b.absentChips.count(number) != 0) {
        AddBoardEvent(std::string("open ") + (name != nullptr ? name : "(null)") + " failed");
        return nullptr;
    }
    auto chip = new Chip();
    chip->number = number;
    b.chips[chip];
    AddBoardEvent("open gpiochip" + std::to_string(number));
    return reinterpret_cast<SEAM_GPIO_CHIP *>(chip);
}

SEAM_GPIO_LINE *SimGpioChipGetLine(SEAM_GPIO_CHIP *handle, unsigned int offset) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    Chip *chip = reinterpret_cast<Chip *>(handle);
    auto it = b.chips.find(chip);
    if (it == b.chips.end() || offset >= kLinesPerChip ||
        b.gpioFaults.count(std::make_tuple(chip->number, offset, static_cast<int>(GpioFault::GetLine))) != 0) {
        AddBoardEvent("line " + std::to_string(offset) + " failed");
        return nullptr;
    }
    for (auto &l : it->second)
        if (l->offset == offset)
            return reinterpret_cast<SEAM_GPIO_LINE *>(l.get());
    it->second.push_back(std::make_unique<Line>());
    Line *line = it->second.back().get();
    line->chip = chip;
    line->offset = offset;
    return reinterpret_cast<SEAM_GPIO_LINE *>(line);
}

int SimGpioLineRequestOutput(SEAM_GPIO_LINE *handle, const char *consumer, int value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    if (!lineKnown(b, handle))
        return -1;
    Line *line = reinterpret_cast<Line *>(handle);
    const std::string what = "request " + std::to_string(line->offset) + " out \"" +
                             (consumer != nullptr ? consumer : "") + "\" =" + std::to_string(value != 0 ? 1 : 0);
    if (line->requested || faulty(b, line, GpioFault::Request)) {
        AddBoardEvent(what + " failed");
        return -1;
    }
    line->requested = true;
    AddBoardEvent(what);
    drive(b, line, value);
    return 0;
}

int SimGpioLineSetValue(SEAM_GPIO_LINE *handle, int value) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    if (!lineKnown(b, handle))
        return -1;
    Line *line = reinterpret_cast<Line *>(handle);
    const std::string what = "set " + std::to_string(line->offset) + "=" + std::to_string(value != 0 ? 1 : 0);
    if (!line->requested || faulty(b, line, GpioFault::Set)) {
        AddBoardEvent(what + " failed");
        return -1;
    }
    AddBoardEvent(what);
    drive(b, line, value);
    return 0;
}

void SimGpioChipClose(SEAM_GPIO_CHIP *handle) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    Chip *chip = reinterpret_cast<Chip *>(handle);
    auto it = b.chips.find(chip);
    if (it == b.chips.end())
        return;
    AddBoardEvent("close gpiochip" + std::to_string(chip->number));
    b.chips.erase(it);
    delete chip;
}

void ResetBoardGpio() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Board &b = board();
    b.events.clear();
    b.root.clear();
    b.chipCount = 8;
    b.absentChips.clear();
    b.gpioFaults.clear();
    b.clearLevels();
}

} // namespace norva_sim
