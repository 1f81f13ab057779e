// Gaskets of the simulated ISP device (commands 29 to 31): claims by open file, frame and MIPI error counters.
#include <cerrno>

#include "ci/ci_gasket.h"
#include "platform/sim_isp.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

struct Gasket {
    IspFile *owner = nullptr; /* the file that claimed it, or null */
    CI_GASKET settings{};
    uint32_t frames = 0;
    uint8_t crcErrors = 0;
    uint8_t headerErrors = 0;
    uint8_t eccErrors = 0;
    uint8_t eccCorrected = 0;
};

Gasket g_gaskets[CI_N_IMAGERS];

/** Releases the claims a file still holds when it is closed. */
struct GasketClaims : FileExtension {
    IspFile *file = nullptr;
    ~GasketClaims() override {
        for (Gasket &g : g_gaskets) {
            if (g.owner != nullptr && g.owner == file) {
                g.owner = nullptr;
                DriverObjectDestroyed();
            }
        }
    }
};

unsigned imagers() {
    const unsigned n = IspDevice().description.sHWInfo.config_ui8NImagers;
    return n < CI_N_IMAGERS ? n : CI_N_IMAGERS;
}

uint8_t addSaturated(uint8_t counter, uint32_t more) {
    const uint32_t sum = counter + more;
    return static_cast<uint8_t>(sum > 0xFF ? 0xFF : sum);
}

void clearCounters(Gasket &g) {
    g.frames = 0;
    g.crcErrors = g.headerErrors = g.eccErrors = g.eccCorrected = 0;
}

/** Claims a port: known index of a matching kind, a width and depth the port takes, not in use. */
long gasketAcquire(CommandContext &ctx) {
    const CI_GASKET req = *ctx.record<CI_GASKET>();
    const CI_HWINFO &hw = IspDevice().description.sHWInfo;
    if (req.uiGasket >= imagers())
        return -EINVAL;
    const uint8_t type = hw.gasket_aType[req.uiGasket];
    if (type == CI_GASKET_NONE || (req.bParallel != 0) != (type == CI_GASKET_PARALLEL))
        return -EINVAL;
    if (req.uiWidth > hw.gasket_aMaxWidth[req.uiGasket])
        return -EINVAL;
    if (req.bParallel && req.ui8ParallelBitdepth > hw.gasket_aBitDepth[req.uiGasket])
        return -EINVAL;
    Gasket &g = g_gaskets[req.uiGasket];
    if (g.owner != nullptr || DatagenDrivesGasket(req.uiGasket))
        return -EBUSY;
    ctx.file.extension<GasketClaims>().file = &ctx.file;
    g.owner = &ctx.file;
    g.settings = req;
    clearCounters(g);
    DriverObjectCreated();
    return 0;
}

long gasketRelease(CommandContext &ctx) {
    const long index = ctx.value();
    if (index < 0 || index >= static_cast<long>(imagers()))
        return -EINVAL;
    Gasket &g = g_gaskets[index];
    if (g.owner != &ctx.file)
        return -EINVAL;
    g.owner = nullptr;
    DriverObjectDestroyed();
    return 0;
}

long gasketGetInfo(CommandContext &ctx) {
    CI_GASKET_PARAM *param = ctx.record<CI_GASKET_PARAM>();
    if (param->uiGasket >= imagers())
        return -EINVAL;
    const CI_HWINFO &hw = IspDevice().description.sHWInfo;
    const Gasket &g = g_gaskets[param->uiGasket];
    CI_GASKET_INFO info{};
    info.eType = hw.gasket_aType[param->uiGasket];
    info.ui32FrameCount = g.frames;
    if (info.eType == CI_GASKET_MIPI) {
        const bool running = g.owner != nullptr || DatagenDrivesGasket(param->uiGasket);
        info.ui8MipiEnabledLanes = running ? hw.gasket_aImagerPortWidth[param->uiGasket] : 0;
        info.ui8MipiCrcError = g.crcErrors;
        info.ui8MipiHdrError = g.headerErrors;
        info.ui8MipiEccError = g.eccErrors;
        info.ui8MipiEccCorrected = g.eccCorrected;
    }
    param->sGasketInfo = info;
    return 0;
}

/** ResetPlatform: counters of unclaimed gaskets start again from 0. */
void resetGaskets() {
    std::lock_guard<std::mutex> guard(PlatformMutex());
    for (Gasket &g : g_gaskets) {
        if (g.owner == nullptr)
            clearCounters(g);
    }
}

NORVA_SIM_COMMAND(CI_GASKET_ACQUIRE, sizeof(CI_GASKET), gasketAcquire);
NORVA_SIM_COMMAND(CI_GASKET_RELEASE, 0, gasketRelease);
NORVA_SIM_COMMAND(CI_GASKET_GETINFO, sizeof(CI_GASKET_PARAM), gasketGetInfo);
const bool g_resetRegistered = RegisterResetHook(resetGaskets);

} // namespace

bool GasketClaimed(unsigned gasket) { return gasket < CI_N_IMAGERS && g_gaskets[gasket].owner != nullptr; }

void ResetGasketCounters(unsigned gasket) {
    if (gasket < CI_N_IMAGERS)
        clearCounters(g_gaskets[gasket]);
}

void GasketFrameReceived(unsigned gasket, const LineErrors &errors) {
    if (gasket >= CI_N_IMAGERS)
        return;
    Gasket &g = g_gaskets[gasket];
    g.frames++;
    g.crcErrors = addSaturated(g.crcErrors, errors.crc);
    g.headerErrors = addSaturated(g.headerErrors, errors.header);
    g.eccErrors = addSaturated(g.eccErrors, errors.ecc);
    g.eccCorrected = addSaturated(g.eccCorrected, errors.eccCorrected);
}

} // namespace norva_sim
