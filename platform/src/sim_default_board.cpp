// The default board of the simulated platform: sensor slots, a device-tree model and a board file served from
// memory, the ISP's imager ports, and the sensor models named by NORVA_SIM_SENSORS plugged into their positions.
#include "platform/sim_default_board.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ci/ci_gasket.h"
#include "norvacommon/userlog.h"
#include "platform/sim_board.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_lens.h"
#include "platform/sim_sensor.h"
#include "platform/sim_sensor_models.h"
#include "platform/sim_standalone_sensors.h"
#include "platform/sim_world.h"
#include "sim_board_internal.h"
#include "sim_capture_internal.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

constexpr const char *kTag = "SIM_BOARD";
constexpr const char *kDefaultSensors = "OV4689_0";

/** The register model a position holds. */
enum class Model {
    Ar330,
    Ov4688,
    Ov4689,
    Ov2718,
    Ov10823,
    Ov5647,
    Imx415,
    Ov5695,
    S5k3p9,
    Imx219,
    Imx335,
    Imx327,
    Zynq,
    Gc8034,
    Gc5035,
    Imx662,
    Imx477
};

/** One position of the board table: where a registry name sits and what answers there. */
struct Position {
    BoardPosition where;
    Model model;
    double clockMHz; /* the clock its default mode is written for; the first sensor named sets the board's */
};

/** The wiring of a board slot: its bus and its reset and power-down lines on gpiochip0. */
struct Slot {
    unsigned bus;
    int resetLine;
    int pwdnLine;
};
constexpr Slot kSlots[] = {{1, 10, 11}, {2, 12, 13}, {3, 14, 15}};
/** The sensors that read no board file share bus 0. */
constexpr unsigned kFixedBus = 0;

/** The positions of the board table, in registry order. */
const std::vector<Position> &positions() {
    static const std::vector<Position> p = {
        {{"AR330", -1, kFixedBus, 2, 0}, Model::Ar330, 24.0}, {{"OV4688", -1, kFixedBus, 1, 1}, Model::Ov4688, 24.0},
        {{"OV4689_0", 0, 1, 0, 0}, Model::Ov4689, 27.0},      {{"OV4689_1", 1, 2, 1, 1}, Model::Ov4689, 27.0},
        {{"OV2718_0", 0, 1, 0, 0}, Model::Ov2718, 24.0},      {{"OV2718_1", 1, 2, 1, 1}, Model::Ov2718, 24.0},
        {{"OV10823_0", 0, 1, 0, 0}, Model::Ov10823, 27.0},    {{"OV10823_1", 1, 2, 1, 1}, Model::Ov10823, 27.0},
        {{"OV5647_0", 0, 1, 0, 0}, Model::Ov5647, 24.0},      {{"OV5647_1", 1, 2, 1, 1}, Model::Ov5647, 24.0},
        {{"IMX415", 0, 1, 0, 0}, Model::Imx415, 27.0},        {{"OV5695_0", 0, 1, 0, 0}, Model::Ov5695, 24.0},
        {{"OV5695_1", 1, 2, 1, 1}, Model::Ov5695, 24.0},      {{"OV5695_2", 2, 3, 1, 1}, Model::Ov5695, 24.0},
        {{"S5K3P9", 0, 1, 0, 0}, Model::S5k3p9, 24.0},        {{"IMX219_0", 0, 1, 0, 0}, Model::Imx219, 24.0},
        {{"IMX219_1", 1, 2, 1, 1}, Model::Imx219, 24.0},      {{"IMX335", 0, 1, 0, 0}, Model::Imx335, 27.0},
        {{"IMX327", 0, 1, 0, 0}, Model::Imx327, 37.125},      {{"ZYNQ", 0, 1, 0, 0}, Model::Zynq, 24.0},
        {{"GC8034", 1, 2, 1, 1}, Model::Gc8034, 24.0},        {{"GC5035", 0, 1, 0, 0}, Model::Gc5035, 24.0},
        {{"IMX662", 0, 1, 0, 0}, Model::Imx662, 24.0},        {{"IMX477_0", 0, 1, 0, 0}, Model::Imx477, 24.0},
        {{"IMX477_1", 1, 2, 1, 1}, Model::Imx477, 24.0},
    };
    return p;
}

const Position *positionOf(const std::string &name) {
    for (const Position &p : positions())
        if (name == p.where.name)
            return &p;
    return nullptr;
}

/** How the view of a plugged sensor is read from its model. */
using Viewer = std::function<BoardSensorView()>;

template <class State> BoardSensorView viewOf(const State &s) {
    BoardSensorView v;
    v.registers = true;
    v.powered = s.powered;
    v.streaming = s.streaming;
    v.width = s.width;
    v.height = s.height;
    v.rowTimeUs = s.rowTimeUs;
    v.exposureUs = s.exposureUs;
    v.gain = s.gain;
    v.hflip = s.hflip;
    v.vflip = s.vflip;
    return v;
}

/** The view of a model whose state() decodes its registers. */
template <class M> Viewer viewerOf(const std::shared_ptr<M> &model) {
    return [model] { return viewOf(model->state()); };
}

/** What the board carries while it is up. */
struct Plan {
    std::vector<const Position *> sensors;
    std::vector<Viewer> viewers; /* one per sensor */
    double clockMHz = 27.0;
    std::string error;                           /* the environment's fault, "" when none */
    std::vector<std::shared_ptr<void>> devices;  /* the models and actuators, alive while the board is up */
    std::set<std::pair<unsigned, uint8_t>> busy; /* (bus, address) of every device plugged */
    std::vector<unsigned> lensPorts;             /* imager ports with a focus lens in front */
    std::set<std::pair<unsigned, uint8_t>> reported;
    std::set<unsigned> reportedPhys;
    std::string modelText;
    std::string boardText;
};

enum State { kPending, kBuilt, kOff };

std::atomic<int> g_state{kPending};
std::mutex g_buildLock;

/** The plan, read by the device hooks under the board's lock. */
Plan &plan() {
    static Plan *p = new Plan(); // used by device hooks until the end of the process
    return *p;
}

std::string knownNames() {
    std::string s;
    for (const Position &p : positions())
        s += (s.empty() ? "" : ", ") + std::string(p.where.name);
    return s;
}

std::string trimmed(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string carried(const Plan &p) {
    if (p.sensors.empty())
        return "no sensor";
    std::string s;
    for (const Position *pos : p.sensors)
        s += (s.empty() ? "\"" : ", \"") + std::string(pos->where.name) + "\"";
    return s;
}

std::string boardFileText(double clockMHz) {
    char clock[32];
    std::snprintf(clock, sizeof clock, "%g", clockMHz);
    std::string t =
        "# The simulated board: three sensor slots on gpiochip0, the sensor clock of the first sensor plugged\n"
        "-Board_reset_need 1\n-Board_reset_min_delay 1000\n-Board_mux_need 0\n-Board_pwdn_value 1\n"
        "-Board_pwdn_pulse_need 1\n-Board_pwdn_min_delay 1000\n-Board_max_sensors 3\n"
        "-Board_clock_frequency " +
        std::string(clock) + "\n-Board_clock_frequency_divider 1\n";
    for (unsigned s = 0; s < sizeof kSlots / sizeof kSlots[0]; s++) {
        const std::string k = "-Sensor" + std::to_string(s);
        t += k + "_i2c " + std::to_string(kSlots[s].bus) + "\n" + k + "_gpiochip_reset 0\n" + k + "_gpio_reset " +
             std::to_string(kSlots[s].resetLine) + "\n" + k + "_gpiochip_pwdn 0\n" + k + "_gpio_pwdn " +
             std::to_string(kSlots[s].pwdnLine) + "\n";
    }
    return t;
}

/** The wiring of a position at the board's clock. */
SensorWiring wiringOf(const Position &p, double clockMHz) {
    SensorWiring w;
    w.clockMHz = clockMHz;
    w.port = p.where.port;
    w.bus = p.where.bus;
    if (p.where.slot >= 0) {
        const Slot &s = kSlots[p.where.slot];
        w.pwdnChip = 0;
        w.pwdnLine = s.pwdnLine;
        w.pwdnActive = 1;
        w.resetChip = 0;
        w.resetLine = s.resetLine;
    } else {
        w.pwdnLine = -1;
        w.resetLine = -1;
    }
    return w;
}

/** Keeps a model alive while the board is up, records its address and how to view it. */
template <class M> void keep(const std::shared_ptr<M> &model, unsigned bus, uint8_t address, Plan *out) {
    out->devices.push_back(model);
    out->busy.insert(std::make_pair(bus, address));
    out->viewers.push_back(viewerOf(model));
}

/** Keeps an actuator at 0x0C of the bus alive while the board is up. */
void keepActuator(const std::shared_ptr<void> &actuator, unsigned bus, Plan *out) {
    out->devices.push_back(actuator);
    out->busy.insert(std::make_pair(bus, static_cast<uint8_t>(0x0C)));
}

/**
 * The chart as the focus lens of a sensor with an actuator sees it: sharp where the stack holds the lens when nothing
 * asks for focus (the driver's nearest focus distance, at actuator code `nearCode`), blurred away from there, without
 * the lens's fine texture so that the picture is the chart's. Tests change it with SetLensScene.
 */
LensScene boardLensScene(double nearCode) {
    LensScene scene;
    scene.inFocus = nearCode;
    scene.texture = 0.0;
    return scene;
}

/** Keeps the actuator of a focus lens in front of the position's port alive while the board is up. */
void keepLens(const std::shared_ptr<void> &actuator, const SensorWiring &w, Plan *out) {
    keepActuator(actuator, w.bus, out);
    out->lensPorts.push_back(w.port);
}

/** Plugs the model of a position; what it puts on a bus is recorded. */
void plug(const Position &p, Plan *out) {
    SensorWiring w = wiringOf(p, out->clockMHz);
    switch (p.model) {
    case Model::Ar330:
        keep(AttachAr330(), kFixedBus, 0x10, out);
        return;
    case Model::Ov4688:
        keep(AttachOv4688(), kFixedBus, 0x36, out);
        return;
    case Model::Ov4689:
        w.address = 0x36;
        keep(AttachOv4689(w), w.bus, w.address, out);
        return;
    case Model::S5k3p9:
        w.address = 0x2D;
        keep(AttachS5k3p9(w), w.bus, w.address, out);
        // The driver's nearest focus distance (80) gives the actuator code 716.
        keepLens(AttachFocusLens(w.bus, w.port, boardLensScene(716)), w, out);
        return;
    case Model::Zynq:
        AttachZynqBoard(w);
        out->viewers.push_back([] {
            const ZynqState z = GetZynqState();
            BoardSensorView v;
            v.powered = z.powered;
            v.streaming = z.streaming;
            v.width = z.width;
            v.height = z.height;
            return v;
        });
        return;
    default:
        break;
    }
    std::shared_ptr<RegisterSensorModel> m;
    switch (p.model) {
    case Model::Imx335: {
        // Its model counts exposure in half rows; a row of the picture is two of them.
        m = AttachImx335(w);
        keep(m, w.bus, m->wiring().address, out);
        out->viewers.back() = [m] {
            BoardSensorView v = viewOf(m->state());
            v.rowTimeUs *= 2.0;
            return v;
        };
        return;
    }
    case Model::Ov2718:
        m = AttachOv2718(w);
        break;
    case Model::Ov10823:
        m = AttachOv10823(w);
        break;
    case Model::Ov5647:
        m = AttachOv5647(w);
        break;
    case Model::Ov5695:
        m = AttachOv5695(w);
        break;
    case Model::Imx415:
        m = AttachImx415(w);
        break;
    case Model::Imx219:
        m = AttachImx219(w);
        break;
    case Model::Imx327:
        m = AttachImx327(w);
        break;
    case Model::Imx662:
        m = AttachImx662(w);
        break;
    case Model::Imx477:
        m = AttachImx477(w);
        break;
    case Model::Gc5035:
        m = AttachGc5035(w);
        break;
    default:
        m = AttachGc8034(w);
        // The driver's nearest focus distance (20) gives the actuator code 1020.
        keepLens(AttachGc8034FocusLens(w.bus, w.port, boardLensScene(1020)), w, out);
        break;
    }
    keep(m, w.bus, m->wiring().address, out);
}

/** The widest default mode of the board's sensors (the S5K3P9's, 4640 pixels) fits a context and a port. */
constexpr uint16_t kBoardLineWidth = 4672;

/**
 * The ISP the board needs: imager ports 0 and 1 MIPI with 4 lanes, 2 and 3 parallel with 12 bits; each context
 * takes the widest default mode of the sensors, alone or beside the other, in a line store of both.
 */
void describeBoardIsp() {
    std::lock_guard<std::mutex> guard(PlatformMutex());
    CI_HWINFO &hw = IspDevice().description.sHWInfo;
    hw.config_ui8NImagers = 4;
    for (int i = 0; i < 4; i++) {
        hw.gasket_aType[i] = i < 2 ? CI_GASKET_MIPI : CI_GASKET_PARALLEL;
        hw.gasket_aImagerPortWidth[i] = i < 2 ? 4 : 12;
        hw.gasket_aMaxWidth[i] = kBoardLineWidth;
        hw.gasket_aBitDepth[i] = 12;
    }
    for (int c = 0; c < CI_N_CONTEXT; c++) {
        hw.context_aMaxWidthSingle[c] = kBoardLineWidth;
        hw.context_aMaxWidthMult[c] = kBoardLineWidth;
    }
    hw.ui32MaxLineStore = 2u * kBoardLineWidth;
}

/**
 * An imager port of the board: the frames of the sensor plugged behind it, none without a sensor, and those of the
 * internal data generator while it drives the port (no sensor can claim the port then). Every call is made with
 * the platform lock held; a sensor's source outlives its port's use of it (it is unplugged before it goes).
 */
class BoardPort : public SimFrameSource {
public:
    bool ready(unsigned gasket) override { return now(gasket) != nullptr && now(gasket)->ready(gasket); }
    bool begin(unsigned gasket) override { return now(gasket) != nullptr && now(gasket)->begin(gasket); }
    void render(const SimFrameContext &ctx) override {
        if (SimFrameSource *s = now(ctx.gasket))
            s->render(ctx);
    }
    bool bayer(unsigned gasket, IspInputFrame *frame) override {
        return now(gasket) != nullptr && now(gasket)->bayer(gasket, frame);
    }
    void end(unsigned gasket) override {
        if (SimFrameSource *s = now(gasket))
            s->end(gasket);
    }
    SimFrameSource *sensor = nullptr;

private:
    SimFrameSource *now(unsigned gasket) { return DatagenDrivesGasket(gasket) ? &DatagenFrameSource() : sensor; }
};

/** The board's ports, plugged while the board is up. */
BoardPort g_ports[CI_N_IMAGERS];

/** Puts every imager port of the board in front of what is plugged behind it (with g_buildLock held). */
void plugPorts() {
    for (unsigned port = 0; port < CI_N_IMAGERS; port++) {
        SimFrameSource *behind = PluggedFrameSource(port);
        {
            std::lock_guard<std::mutex> guard(PlatformMutex());
            g_ports[port].sensor = behind;
        }
        SetFrameSource(port, &g_ports[port]);
    }
}

/** Takes down what the default board plugged (with g_buildLock held). */
void takeDown() {
    Plan old;
    {
        std::lock_guard<std::recursive_mutex> guard(BoardMutex());
        std::swap(old, plan());
    }
    for (const auto &device : old.busy)
        AttachI2cDevice(device.first, device.second, nullptr);
    for (unsigned port : old.lensPorts)
        RemoveLens(port);
    if (!old.modelText.empty())
        for (unsigned port = 0; port < CI_N_IMAGERS; port++)
            SetFrameSource(port, nullptr);
}

/** Builds the board from the environment (with g_buildLock held); false when the environment is wrong. */
bool build() {
    takeDown();
    Plan next;
    std::vector<std::string> names;
    // The platform's environment, one reader per variable (each false with a message naming its variable); the
    // first refusal stands, is logged once and keeps the sensors off the board.
    std::string error;
    bool ok = SensorsFromEnvironment(&names, &error) && WorldFromEnvironment(&error);
    if (ok) {
        for (const std::string &n : names)
            next.sensors.push_back(positionOf(n));
        if (!next.sensors.empty())
            next.clockMHz = next.sensors.front()->clockMHz;
    } else {
        next.error = error;
        QOR_LOG_ERROR(kTag, "%s\n", error.c_str());
    }
    next.modelText = kDefaultBoardModel;
    next.boardText = boardFileText(next.clockMHz);
    describeBoardIsp();
    for (unsigned port = 0; port < CI_N_IMAGERS; port++)
        SetFrameSource(port, nullptr);
    for (const Position *p : next.sensors)
        plug(*p, &next);
    plugPorts();
    {
        std::lock_guard<std::recursive_mutex> guard(BoardMutex());
        std::swap(plan(), next);
    }
    g_state.store(kBuilt);
    return ok;
}

/** A read-only stream over a copy of a text, freed when the stream is closed. */
struct MemoryFile {
    std::string text;
    size_t at = 0;
};

ssize_t memoryRead(void *cookie, char *buffer, size_t size) {
    MemoryFile *m = static_cast<MemoryFile *>(cookie);
    const size_t n = std::min(size, m->text.size() - m->at);
    std::memcpy(buffer, m->text.data() + m->at, n);
    m->at += n;
    return static_cast<ssize_t>(n);
}

int memorySeek(void *cookie, off64_t *offset, int whence) {
    MemoryFile *m = static_cast<MemoryFile *>(cookie);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<off64_t>(m->at)
                                              : static_cast<off64_t>(m->text.size());
    const off64_t to = base + *offset;
    if (to < 0 || to > static_cast<off64_t>(m->text.size()))
        return -1;
    m->at = static_cast<size_t>(to);
    *offset = to;
    return 0;
}

int memoryClose(void *cookie) {
    delete static_cast<MemoryFile *>(cookie);
    return 0;
}

FILE *memoryFile(const std::string &text) {
    MemoryFile *m = new MemoryFile{text, 0};
    FILE *f = ::fopencookie(m, "r", cookie_io_functions_t{memoryRead, nullptr, memorySeek, memoryClose});
    if (f == nullptr)
        delete m;
    return f;
}

} // namespace

const std::vector<BoardPosition> &DefaultBoardPositions() {
    static const std::vector<BoardPosition> list = [] {
        std::vector<BoardPosition> l;
        for (const Position &p : positions())
            l.push_back(p.where);
        return l;
    }();
    return list;
}

bool SensorsFromEnvironment(std::vector<std::string> *names, std::string *error) {
    const char *value = std::getenv(kSensorsVariable);
    const std::string text = value != nullptr ? value : kDefaultSensors;
    names->clear();
    std::vector<const Position *> taken;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string name = trimmed(text.substr(start, comma - start));
        start = comma + 1;
        if (name.empty())
            continue;
        const Position *p = positionOf(name);
        if (p == nullptr) {
            *error = std::string(kSensorsVariable) + ": unknown sensor \"" + name +
                     "\" (the board's sensors: " + knownNames() + ")";
            return false;
        }
        for (const Position *other : taken) {
            if (other->where.port == p->where.port) {
                *error = std::string(kSensorsVariable) + ": \"" + other->where.name + "\" and \"" + name +
                         "\" sit at one slot (imager port " + std::to_string(p->where.port) + "); one sensor per slot";
                return false;
            }
        }
        taken.push_back(p);
        names->push_back(name);
    }
    return true;
}

bool UseDefaultBoard() {
    SetPlatformRoot("");
    std::lock_guard<std::mutex> guard(g_buildLock);
    return build();
}

bool DefaultBoardActive() { return g_state.load() == kBuilt; }

std::vector<std::string> DefaultBoardSensors() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    std::vector<std::string> names;
    if (g_state.load() == kBuilt)
        for (const Position *p : plan().sensors)
            names.push_back(p->where.name);
    return names;
}

bool DefaultBoardSensor(const std::string &name, BoardSensorView *view) {
    Viewer viewer;
    {
        std::lock_guard<std::recursive_mutex> guard(BoardMutex());
        if (g_state.load() != kBuilt)
            return false;
        const Plan &p = plan();
        for (size_t i = 0; i < p.sensors.size() && i < p.viewers.size(); i++)
            if (name == p.sensors[i]->where.name)
                viewer = p.viewers[i];
    }
    if (!viewer)
        return false;
    *view = viewer();
    return true;
}

std::string BoardEnvironmentError() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return g_state.load() == kBuilt ? plan().error : std::string();
}

/* ---- What the rest of the platform asks of the default board ---- */

void EnsureDefaultBoard() {
    if (g_state.load(std::memory_order_acquire) != kPending)
        return;
    std::lock_guard<std::mutex> guard(g_buildLock);
    if (g_state.load() == kPending && PlatformRoot().empty())
        build();
}

void DefaultBoardOff(bool takeDownDevices) {
    if (g_state.exchange(kOff) != kBuilt)
        return;
    if (takeDownDevices) {
        takeDown();
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    plan() = Plan();
}

bool DefaultBoardRefusesDevices() {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    return g_state.load() == kBuilt && !plan().error.empty();
}

void DefaultBoardNoAnswer(unsigned bus, uint8_t address) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Plan &p = plan();
    if (g_state.load() != kBuilt || !p.error.empty() || p.busy.count(std::make_pair(bus, address)) != 0 ||
        !p.reported.insert(std::make_pair(bus, address)).second)
        return;
    QOR_LOG_ERROR(kTag, "%s: no sensor answers at 0x%02x on /dev/i2c-%u; the board carries %s\n", kSensorsVariable,
                  address, bus, carried(p).c_str());
}

void DefaultBoardPhyEnabled(unsigned phy) {
    std::lock_guard<std::recursive_mutex> guard(BoardMutex());
    Plan &p = plan();
    if (g_state.load() != kBuilt || !p.error.empty())
        return;
    for (const Position *pos : p.sensors)
        if (pos->where.phy == phy)
            return;
    if (!p.reportedPhys.insert(phy).second)
        return;
    QOR_LOG_ERROR(kTag, "%s: no sensor is plugged behind /dev/sensor_phy%u; the board carries %s\n", kSensorsVariable,
                  phy, carried(p).c_str());
}

bool ServeDefaultBoardFile(const char *path, const char *mode, FILE **file) {
    if (g_state.load() != kBuilt || path == nullptr)
        return false;
    const std::string p(path);
    const bool model = p == "/proc/device-tree/model";
    if (!model && p.rfind("/etc/norva/", 0) != 0)
        return false;
    std::string text;
    {
        std::lock_guard<std::recursive_mutex> guard(BoardMutex());
        if (model)
            text = plan().modelText;
        else if (p == "/etc/norva/boardcfg/" + plan().modelText + ".cfg")
            text = plan().boardText;
    }
    *file = nullptr;
    if (mode == nullptr || mode[0] != 'r' || std::strchr(mode, '+') != nullptr) {
        errno = EACCES;
        return true;
    }
    if (text.empty()) {
        errno = ENOENT;
        return true;
    }
    // The device-tree model ends with its NUL, as the kernel writes it, and has no line end.
    *file = memoryFile(model ? text + std::string(1, '\0') : text);
    return true;
}

} // namespace norva_sim
