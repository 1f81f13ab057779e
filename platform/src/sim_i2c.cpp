// The simulated I2C buses "/dev/i2c-N": the slave-address ioctl, register reads and writes with an address
// pointer that auto-increments, a transaction log and injected faults.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/sim_board.h"
#include "platform/sim_node.h"
#include "sim_board_internal.h"
#include "sim_record_ring.h"

namespace norva_sim {
namespace {

constexpr unsigned kBuses = 8;
constexpr unsigned long kI2cSlave = 0x0703ul;
constexpr size_t kMaxLog = 65536;
constexpr size_t kLogBytes = 4u << 20;
/** Events of writes of up to this many bytes are written without allocating (register writes). */
constexpr size_t kShortWrite = 64;

struct Fault {
    I2cFault kind;
    unsigned skip;
};

struct OpenBus {
    unsigned bus = 0;
    int address = -1;
};

struct Buses {
    std::map<int, OpenBus> open;
    std::map<std::pair<unsigned, uint8_t>, std::shared_ptr<I2cDevice>> devices;
    std::map<std::pair<unsigned, uint8_t>, uint16_t> pointers;
    std::set<unsigned> absent;
    std::vector<Fault> faults[kBuses];
    /* Bounded, the oldest go first: each transaction is its head (bus, address, kind, ok) and its bytes. */
    RecordRing log{kMaxLog, kLogBytes};
};

Buses &buses() {
    static Buses *b = new Buses(); // used by descriptors closed at the very end of the process
    return *b;
}

/** Consumes a pending fault of that kind on the bus: true when this operation must fail. */
bool takeFault(Buses &b, unsigned bus, I2cFault kind) {
    auto &list = b.faults[bus];
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->kind != kind)
            continue;
        if (it->skip > 0) {
            it->skip--;
            return false;
        }
        list.erase(it);
        return true;
    }
    return false;
}

/** The event of a write: "write" and its bytes in hexadecimal, then `tail` (" NACK", " short" or nothing). */
void addWriteEvent(const uint8_t *data, size_t n, const char *tail) {
    static const char kHex[] = "0123456789abcdef";
    char shortText[8 + 3 * kShortWrite + 8];
    std::string longText;
    const size_t tailLength = std::strlen(tail);
    const size_t length = 5 + 3 * n + tailLength;
    char *text = shortText;
    if (length > sizeof shortText) {
        longText.resize(length);
        text = &longText[0];
    }
    std::memcpy(text, "write", 5);
    size_t at = 5;
    for (size_t i = 0; i < n; i++) {
        text[at++] = ' ';
        text[at++] = kHex[data[i] >> 4];
        text[at++] = kHex[data[i] & 15];
    }
    std::memcpy(text + at, tail, tailLength);
    AddBoardEventText(text, length);
}

/** The head of a logged transaction, before its bytes. */
struct TransactionHead {
    uint8_t bus, address, ok;
    char kind;
};

void logTransaction(Buses &b, unsigned bus, int address, char kind, const uint8_t *data, size_t n, bool ok) {
    const TransactionHead head{static_cast<uint8_t>(bus), static_cast<uint8_t>(address < 0 ? 0 : address),
                               static_cast<uint8_t>(ok ? 1 : 0), kind};
    b.log.add(&head, sizeof head, data, n);
}

unsigned busOfPath(const char *path) {
    unsigned bus = kBuses;
    char tail = 0;
    if (path == nullptr || std::sscanf(path, "/dev/i2c-%u%c", &bus, &tail) != 1)
        return kBuses;
    return bus;
}

int i2cOpen(const char *path, int /*flags*/) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    const unsigned bus = busOfPath(path);
    if (bus >= kBuses || b.absent.count(bus) != 0 || DefaultBoardRefusesDevices()) {
        AddBoardEvent(std::string("open ") + path + " failed");
        return -ENOENT;
    }
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return -errno;
    b.open[fd] = OpenBus{bus, -1};
    AddBoardEvent(std::string("open ") + path);
    return fd;
}

int i2cClose(int fd) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    auto it = b.open.find(fd);
    if (it != b.open.end()) {
        AddBoardEvent("close /dev/i2c-" + std::to_string(it->second.bus));
        b.open.erase(it);
    }
    return ::close(fd) == 0 ? 0 : -errno;
}

long i2cIoctl(int fd, unsigned long request, void *arg) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    auto it = b.open.find(fd);
    if (it == b.open.end())
        return -EBADF;
    if (request != kI2cSlave)
        return -ENOTTY;
    const uintptr_t address = reinterpret_cast<uintptr_t>(arg);
    const bool fail = takeFault(b, it->second.bus, I2cFault::FailIoctl) || address > 0x7F;
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "I2C_SLAVE 0x%02x%s", static_cast<unsigned>(address), fail ? " failed" : "");
    AddBoardEventText(text, static_cast<size_t>(length));
    const uint8_t byte = static_cast<uint8_t>(address);
    logTransaction(b, it->second.bus, static_cast<int>(address & 0x7F), 'a', &byte, 1, !fail);
    if (fail)
        return -EIO;
    it->second.address = static_cast<int>(address);
    return 0;
}

I2cDevice *deviceOf(Buses &b, const OpenBus &ob) {
    if (ob.address < 0)
        return nullptr;
    auto it = b.devices.find(std::make_pair(ob.bus, static_cast<uint8_t>(ob.address)));
    if (it == b.devices.end() || !it->second->answers())
        return nullptr;
    return it->second.get();
}

ssize_t i2cWrite(int fd, const void *buf, size_t count) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    auto it = b.open.find(fd);
    if (it == b.open.end())
        return -EBADF;
    const OpenBus &ob = it->second;
    const uint8_t *data = static_cast<const uint8_t *>(buf);
    I2cDevice *device = deviceOf(b, ob);
    if (device == nullptr) {
        if (ob.address >= 0)
            DefaultBoardNoAnswer(ob.bus, static_cast<uint8_t>(ob.address));
        addWriteEvent(data, count, " NACK");
        logTransaction(b, ob.bus, ob.address, 'w', data, count, false);
        return -ENXIO;
    }
    if (count > 0 && takeFault(b, ob.bus, I2cFault::ShortWrite)) {
        addWriteEvent(data, count, " short");
        logTransaction(b, ob.bus, ob.address, 'w', data, count, false);
        return static_cast<ssize_t>(count - 1);
    }
    addWriteEvent(data, count, "");
    logTransaction(b, ob.bus, ob.address, 'w', data, count, true);
    const unsigned width = device->addressWidth();
    if (count < width)
        return static_cast<ssize_t>(count);
    uint16_t reg = width == 1 ? data[0] : static_cast<uint16_t>((data[0] << 8) | data[1]);
    for (size_t i = width; i < count; i++)
        device->writeRegister(reg++, data[i]);
    b.pointers[std::make_pair(ob.bus, static_cast<uint8_t>(ob.address))] = reg;
    return static_cast<ssize_t>(count);
}

ssize_t i2cRead(int fd, void *buf, size_t count) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    auto it = b.open.find(fd);
    if (it == b.open.end())
        return -EBADF;
    const OpenBus &ob = it->second;
    uint8_t *data = static_cast<uint8_t *>(buf);
    I2cDevice *device = deviceOf(b, ob);
    if (device == nullptr) {
        if (ob.address >= 0)
            DefaultBoardNoAnswer(ob.bus, static_cast<uint8_t>(ob.address));
        char text[48];
        AddBoardEventText(text, static_cast<size_t>(std::snprintf(text, sizeof text, "read %zu NACK", count)));
        logTransaction(b, ob.bus, ob.address, 'r', nullptr, 0, false);
        return -ENXIO;
    }
    size_t n = count;
    if (count > 0 && takeFault(b, ob.bus, I2cFault::ShortRead))
        n = count - 1;
    uint16_t &reg = b.pointers[std::make_pair(ob.bus, static_cast<uint8_t>(ob.address))];
    for (size_t i = 0; i < n; i++)
        data[i] = device->readRegister(reg++);
    char text[48];
    AddBoardEventText(
        text, static_cast<size_t>(std::snprintf(text, sizeof text, "read %zu%s", count, n != count ? " short" : "")));
    logTransaction(b, ob.bus, ob.address, 'r', data, n, n == count);
    return static_cast<ssize_t>(n);
}

const NodeOps kI2cNode = {i2cOpen, i2cClose, i2cIoctl, nullptr, i2cRead, i2cWrite};

bool registerBuses() {
    static const char *const kPaths[kBuses] = {"/dev/i2c-0", "/dev/i2c-1", "/dev/i2c-2", "/dev/i2c-3",
                                               "/dev/i2c-4", "/dev/i2c-5", "/dev/i2c-6", "/dev/i2c-7"};
    for (const char *p : kPaths)
        RegisterNode(p, &kI2cNode);
    return true;
}
const bool g_registered = registerBuses();

} // namespace

void AttachI2cDevice(unsigned bus, uint8_t address, std::shared_ptr<I2cDevice> device) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    const auto key = std::make_pair(bus, address);
    if (device)
        b.devices[key] = std::move(device);
    else
        b.devices.erase(key);
    b.pointers.erase(key);
}

void DetachI2cDevices() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    buses().devices.clear();
    buses().pointers.clear();
}

void SetI2cBusAbsent(unsigned bus, bool absent) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (absent)
        buses().absent.insert(bus);
    else
        buses().absent.erase(bus);
}

void InjectI2cFault(unsigned bus, I2cFault fault, unsigned skip) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (bus < kBuses)
        buses().faults[bus].push_back(Fault{fault, skip});
}

std::vector<I2cTransaction> I2cLog() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    std::vector<I2cTransaction> log;
    log.reserve(buses().log.size());
    buses().log.forEach([&](const uint8_t *record, size_t n) {
        TransactionHead head;
        std::memcpy(&head, record, sizeof head);
        log.push_back(I2cTransaction{head.bus, head.address, head.kind,
                                     std::vector<uint8_t>(record + sizeof head, record + n), head.ok != 0});
    });
    return log;
}

void ClearI2cLog() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    buses().log.clear();
}

int I2cOpenDescriptors() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return static_cast<int>(buses().open.size());
}

void ResetBoardI2c() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Buses &b = buses();
    b.devices.clear();
    b.pointers.clear();
    b.absent.clear();
    for (auto &f : b.faults)
        f.clear();
    b.log.clear();
}

} // namespace norva_sim
