// The simulated sensor PHY devices "/dev/sensor_phyN": three ioctls on a 32-byte record, a record log. PHY N
// feeds imager port N.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

#include "platform/sim_board.h"
#include "platform/sim_node.h"
#include "sim_board_internal.h"

namespace norva_sim {
namespace {

constexpr size_t kMaxLog = 65536;

struct Phys {
    std::map<int, unsigned> open; /* descriptor -> PHY */
    PhyState state[kPhyCount];
    bool absent[kPhyCount] = {};
    bool failNext[kPhyCount] = {};
    std::deque<PhyRecord> log; /* bounded: the oldest go first */
};

Phys &phys() {
    static Phys *p = new Phys(); // used by descriptors closed at the very end of the process
    return *p;
}

int phyOpen(const char *path, int /*flags*/) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Phys &p = phys();
    unsigned n = kPhyCount;
    char tail = 0;
    if (path == nullptr || std::sscanf(path, "/dev/sensor_phy%u%c", &n, &tail) != 1 || n >= kPhyCount || p.absent[n] ||
        DefaultBoardRefusesDevices()) {
        AddBoardEvent(std::string("open ") + (path != nullptr ? path : "(null)") + " failed");
        return -ENOENT;
    }
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return -errno;
    p.open[fd] = n;
    AddBoardEvent(std::string("open ") + path);
    return fd;
}

int phyClose(int fd) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Phys &p = phys();
    auto it = p.open.find(fd);
    if (it != p.open.end()) {
        AddBoardEvent("close /dev/sensor_phy" + std::to_string(it->second));
        p.open.erase(it);
    }
    return ::close(fd) == 0 ? 0 : -errno;
}

long phyIoctl(int fd, unsigned long request, void *arg) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Phys &p = phys();
    auto it = p.open.find(fd);
    if (it == p.open.end())
        return -EBADF;
    const unsigned n = it->second;
    if (request != kPhyConfigure && request != kPhyReset && request != kPhyMux)
        return -ENOTTY;
    if (arg == nullptr)
        return -EFAULT;
    PhyRecord rec{};
    rec.phy = n;
    rec.request = request;
    std::memcpy(rec.record, arg, sizeof rec.record);
    if (p.log.size() >= kMaxLog)
        p.log.pop_front();
    p.log.push_back(rec);
    char text[96];
    if (p.failNext[n]) {
        p.failNext[n] = false;
        std::snprintf(text, sizeof text, "phy%u ioctl 0x%lx failed", n, request);
        AddBoardEvent(text);
        return -EIO;
    }
    if (request == kPhyConfigure) {
        PhyState &s = p.state[n];
        s.enabled = rec.record[4] != 0;
        s.lanes = rec.record[7];
        s.hsFreqRange = rec.record[8];
        s.oscFreq = static_cast<uint16_t>(rec.record[10] | (rec.record[11] << 8));
        std::memcpy(&s.frameWidth, rec.record + 16, 4);
        std::memcpy(&s.frameHeight, rec.record + 20, 4);
        std::snprintf(text, sizeof text, "phy%u configure enable=%u lanes=%u hs=0x%02x", n, rec.record[4],
                      rec.record[7], rec.record[8]);
        if (s.enabled)
            DefaultBoardPhyEnabled(n);
    } else {
        std::snprintf(text, sizeof text, "phy%u %s %u", n, request == kPhyReset ? "reset" : "mux",
                      request == kPhyReset ? rec.record[28] : rec.record[29]);
    }
    AddBoardEvent(text);
    return 0;
}

const NodeOps kPhyNode = {phyOpen, phyClose, phyIoctl, nullptr};

bool registerPhys() {
    static const char *const kPaths[kPhyCount] = {"/dev/sensor_phy0", "/dev/sensor_phy1", "/dev/sensor_phy2",
                                                  "/dev/sensor_phy3"};
    for (const char *path : kPaths)
        RegisterNode(path, &kPhyNode);
    return true;
}
const bool g_registered = registerPhys();

} // namespace

std::vector<PhyRecord> PhyLog() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return std::vector<PhyRecord>(phys().log.begin(), phys().log.end());
}

void ClearPhyLog() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    phys().log.clear();
}

PhyState GetPhyState(unsigned phy) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return phy < kPhyCount ? phys().state[phy] : PhyState{};
}

void SetPhyAbsent(unsigned phy, bool absent) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (phy < kPhyCount)
        phys().absent[phy] = absent;
}

void FailNextPhyIoctl(unsigned phy) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    if (phy < kPhyCount)
        phys().failNext[phy] = true;
}

int PhyOpenDescriptors() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return static_cast<int>(phys().open.size());
}

void ResetBoardPhy() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Phys &p = phys();
    for (unsigned i = 0; i < kPhyCount; i++) {
        p.state[i] = PhyState{};
        p.absent[i] = false;
        p.failNext[i] = false;
    }
    p.log.clear();
}

void ResetBoard() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    DefaultBoardOff(false);
    ResetBoardGpio();
    ResetBoardI2c();
    ResetBoardPhy();
}

} // namespace norva_sim
