// Connection-level commands of the simulated ISP device (numbers 0 to 9 and 41) and its default hardware
// description.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "platform/sim_isp.h"

namespace norva_sim {
namespace {

/** The default gamma curve: the BT.709 transfer characteristic at 63 evenly spaced inputs, 12-bit output. */
void fillGamma(CI_MODULE_GMA_LUT &lut) {
    for (int i = 0; i < GMA_N_POINTS; ++i) {
        const double l = static_cast<double>(i) / (GMA_N_POINTS - 1);
        const double v = l < 0.018 ? 4.5 * l : 1.099 * std::pow(l, 0.45) - 0.099;
        const QOR_UINT16 point = static_cast<QOR_UINT16>(std::lround(v * 4095.0));
        lut.aRedPoints[i] = point;
        lut.aGreenPoints[i] = point;
        lut.aBluePoints[i] = point;
    }
}

uint64_t monotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

CI_CONNECTION &description() { return IspDevice().description; }

long infoGet(CommandContext &ctx) {
    *ctx.record<CI_CONNECTION>() = description();
    return 0;
}

long linestoreGet(CommandContext &ctx) {
    *ctx.record<CI_LINESTORE>() = description().sLinestoreStatus;
    return 0;
}

/** Stores a proposed layout: starts inside the line store, no change under a running context. */
long linestoreSet(CommandContext &ctx) {
    const CI_LINESTORE proposed = *ctx.record<CI_LINESTORE>();
    CI_LINESTORE &current = description().sLinestoreStatus;
    const CI_HWINFO &hw = description().sHWInfo;
    const unsigned n = hw.config_ui8NContexts < CI_N_CONTEXT ? hw.config_ui8NContexts : CI_N_CONTEXT;
    for (unsigned i = 0; i < n; ++i) {
        const QOR_INT32 start = proposed.aStart[i];
        if (start >= 0 && static_cast<uint64_t>(start) + proposed.aSize[i] > hw.ui32MaxLineStore)
            return -EINVAL;
        if (current.aActive[i] && (start != current.aStart[i] || proposed.aSize[i] != current.aSize[i])) {
            return -EBUSY;
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        for (unsigned j = 0; j < n; ++j) {
            if (i == j || !current.aActive[j] || proposed.aStart[i] < 0)
                continue;
            const uint64_t a0 = static_cast<uint64_t>(proposed.aStart[i]), a1 = a0 + proposed.aSize[i];
            const uint64_t b0 = static_cast<uint64_t>(current.aStart[j]), b1 = b0 + current.aSize[j];
            if (a0 < b1 && b0 < a1)
                return -EBUSY;
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        current.aStart[i] = proposed.aStart[i];
        current.aSize[i] = proposed.aSize[i];
    }
    return 0;
}

long gammaGet(CommandContext &ctx) {
    *ctx.record<CI_MODULE_GMA_LUT>() = description().sGammaLUT;
    return 0;
}

long gammaSet(CommandContext &ctx) {
    description().sGammaLUT = *ctx.record<CI_MODULE_GMA_LUT>();
    return 0;
}

/** Ticks of the reference clock, wrapping at 32 bits. */
long timestampGet(CommandContext &ctx) {
    const uint64_t mhz = description().sHWInfo.ui32RefClockMhz;
    *ctx.record<QOR_UINT32>() = static_cast<QOR_UINT32>(monotonicNs() / 1000u * mhz);
    return 0;
}

/** Monotonic nanoseconds, the clock of the shots' interrupt times. */
long systemTimeGet(CommandContext &ctx) {
    *ctx.record<QOR_UINT64>() = monotonicNs();
    return 0;
}

long dpfInternalGet(CommandContext &ctx) {
    *ctx.record<QOR_UINT32>() = IspDevice().dpfInternalAvailable;
    return 0;
}

long rtmGet(CommandContext &ctx) {
    *ctx.record<CI_RTM_INFO>() = IspDevice().rtm;
    return 0;
}

long reset(CommandContext &ctx) {
    if (ctx.value() != 0)
        return -EINVAL;
    IspDevice().resets++;
    RunDeviceResetHooks();
    return 0;
}

/** Bytes of each register bank of the debug interface. */
constexpr uint32_t kDebugBankBytes = 0x10000;

/**
 * Register banks of the debug interface, in the order of the hardware description: the core (0), one per context,
 * one per imager gasket, one per internal data generator, then the MMU when the device has one.
 */
unsigned debugBanks() {
    const CI_HWINFO &hw = description().sHWInfo;
    const unsigned contexts = hw.config_ui8NContexts < CI_N_CONTEXT ? hw.config_ui8NContexts : CI_N_CONTEXT;
    const unsigned imagers = hw.config_ui8NImagers < CI_N_IMAGERS ? hw.config_ui8NImagers : CI_N_IMAGERS;
    return 1u + contexts + imagers + hw.config_ui8NIIFDataGenerator + (hw.mmu_ui8Enabled != 0 ? 1u : 0u);
}

/** Reads or writes a 32-bit register of a bank that exists; others are refused, so the store stays bounded. */
long debugReg(CommandContext &ctx) {
    CI_DEBUG_REG_PARAM *param = ctx.record<CI_DEBUG_REG_PARAM>();
    if (param->eBank >= debugBanks() || param->ui32Offset >= kDebugBankBytes || param->ui32Offset % 4 != 0)
        return -EINVAL;
    const auto key = std::make_pair(param->eBank, param->ui32Offset);
    if (param->bRead) {
        auto it = IspDevice().debugRegisters.find(key);
        param->ui32Value = it == IspDevice().debugRegisters.end() ? 0 : it->second;
    } else {
        IspDevice().debugRegisters[key] = param->ui32Value;
    }
    return 0;
}

NORVA_SIM_COMMAND(CI_INFO_GET, sizeof(CI_CONNECTION), infoGet);
NORVA_SIM_COMMAND(CI_LINESTORE_GET, sizeof(CI_LINESTORE), linestoreGet);
NORVA_SIM_COMMAND(CI_LINESTORE_SET, sizeof(CI_LINESTORE), linestoreSet);
NORVA_SIM_COMMAND(CI_GMALUT_GET, sizeof(CI_MODULE_GMA_LUT), gammaGet);
NORVA_SIM_COMMAND(CI_GMALUT_SET, sizeof(CI_MODULE_GMA_LUT), gammaSet);
NORVA_SIM_COMMAND(CI_TIMEST_GET, sizeof(QOR_UINT32), timestampGet);
NORVA_SIM_COMMAND(CI_SYSTIME_GET, sizeof(QOR_UINT64), systemTimeGet);
NORVA_SIM_COMMAND(CI_DPFINT_GET, sizeof(QOR_UINT32), dpfInternalGet);
NORVA_SIM_COMMAND(CI_RTM_GET, sizeof(CI_RTM_INFO), rtmGet);
NORVA_SIM_COMMAND(CI_RESET, 0, reset);
NORVA_SIM_COMMAND(CI_DEBUG_REG, sizeof(CI_DEBUG_REG_PARAM), debugReg);

} // namespace

CI_CONNECTION DefaultDescription() {
    CI_CONNECTION c;
    std::memset(&c, 0, sizeof(c));
    c.sLinestoreStatus.aStart[0] = -1;
    c.sLinestoreStatus.aStart[1] = -1;

    CI_HWINFO &hw = c.sHWInfo;
    hw.ui16ConfigId = 1;
    hw.rev_ui8Designer = 1;
    hw.rev_ui8Major = 2;
    hw.rev_ui8Minor = 7;
    hw.rev_ui8Maint = 0;
    hw.rev_uid = 20700;
    hw.config_ui8PixPerClock = 1;
    hw.config_ui8Parallelism = 1;
    hw.config_ui8BitDepth = 10;
    hw.config_ui8NContexts = 2;
    hw.config_ui8NImagers = 2;
    hw.config_ui8NIIFDataGenerator = 1;
    hw.config_ui16MemLatency = 512;
    hw.config_ui32DPFInternalSize = 8192;
    hw.config_ui8NRTMRegisters = CI_N_RTM_ENTRIES;
    hw.scaler_ui8EncHLumaTaps = 16;
    hw.scaler_ui8EncVLumaTaps = 8;
    hw.scaler_ui8EncVChromaTaps = 4;
    hw.scaler_ui8DispHLumaTaps = 8;
    hw.scaler_ui8DispVLumaTaps = 4;
    hw.gasket_aImagerPortWidth[0] = 4; /* MIPI lanes */
    hw.gasket_aImagerPortWidth[1] = 12;
    hw.gasket_aType[0] = 1; /* MIPI */
    hw.gasket_aType[1] = 2; /* parallel */
    for (int g = 0; g < 2; ++g) {
        hw.gasket_aMaxWidth[g] = 4096;
        hw.gasket_aBitDepth[g] = 12;
    }
    for (int ctx = 0; ctx < CI_N_CONTEXT; ++ctx) {
        hw.context_aMaxWidthMult[ctx] = 2048;
        hw.context_aMaxWidthSingle[ctx] = 2048;
        hw.context_aMaxHeight[ctx] = 4096;
        hw.context_aBitDepth[ctx] = 10;
        hw.context_aPendingQueue[ctx] = 4;
    }
    hw.ui32MaxLineStore = 4096;
    hw.ui32LSHRamSizeBits = 2097152;
    hw.eFunctionalities = CI_INFO_SUPPORTED_TILING | CI_INFO_SUPPORTED_HDR_EXT | CI_INFO_SUPPORTED_HDR_INS |
                          CI_INFO_SUPPORTED_RAW2D_EXT | CI_INFO_SUPPORTED_IIF_DATAGEN;
    hw.uiSizeOfPipeline = 16376;
    hw.uiSizeOfLoadStruct = 1268;
    hw.uiChangelist = 1;
    hw.uiTiledScheme = 256;
    hw.mmu_ui8Enabled = 1;
    hw.mmu_ui8RevMajor = 1;
    hw.mmu_ui8RevMinor = 0;
    hw.mmu_ui8RevMaint = 0;
    hw.mmu_ui32PageSize = 4096;
    hw.ui32RefClockMhz = 100;

    fillGamma(c.sGammaLUT);
    return c;
}

} // namespace norva_sim
