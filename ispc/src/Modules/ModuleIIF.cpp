#include "ispc/ModuleIIF.h"

#include <algorithm>

#include "ispc/Pipeline.h"
#include "ispc/SensorFacts.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_MOD_IIF";
constexpr const char *kNoSensor = "Pipeline does not have a sensor to get information from!\n";

const int IIF_DECIMATION_DEF[2] = {1, 1};
const int IIF_CAPRECT_TL_DEF[2] = {0, 0};
const int IIF_CAPRECT_BR_DEF[2] = {0, 0};

/** The sensor of the module's pipeline, or null. */

/** Element i of an array parameter when it is present and reads as a whole integer, clamped; else `fallback`. */
int readElement(const ParameterList &list, const ParamDefArray<int> &def, unsigned i, int fallback) {
    return list.getParameter<int>(def.name, static_cast<int>(i), def.min, def.max, fallback);
}

typedef ModuleIIF::Binding Binding;

/** Saves an array member; `offset` is added to each value (the decimation is held minus one). */
void saveCorner(const ParamDefArray<int> &def, const QOR_UINT32 (&values)[2], QOR_UINT32 offset, ParameterList &list,
                ModuleBase::SaveType t) {
    saveParameter(list, t, def, std::vector<std::string>{toString(values[0] + offset), toString(values[1] + offset)});
}

} // namespace

const ParamDefSingle<std::string> ModuleIIF::IIF_BAYERFMT("IIF_BAYER_FORMAT", "RGGB");
const ParamDefArray<int> ModuleIIF::IIF_DECIMATION("IIF_DECIMATION", 1, 16, IIF_DECIMATION_DEF, 2);
const ParamDefArray<int> ModuleIIF::IIF_CAPRECT_TL("IIF_CAP_RECT_TL", 0, 8192, IIF_CAPRECT_TL_DEF, 2);
const ParamDefArray<int> ModuleIIF::IIF_CAPRECT_BR("IIF_CAP_RECT_BR", 0, 8192, IIF_CAPRECT_BR_DEF, 2);

const char *const ModuleIIF::GROUP_NAME = "ModuleIIF";
const char *const ModuleIIF::GROUP_HEADER = "// Imager Interface parameters";

const std::vector<ModuleIIF::Binding> &ModuleIIF::bindings() {
    // The loads run after beforeLoad has found the sensor.
    static const std::vector<Binding> table = {
        custom(
            IIF_CAPRECT_TL.name,
            [](ModuleIIF &m, const ParameterList &list) {
                const SensorFacts s = readSensorFacts(*m.getSensor());
                const int limit[2] = {static_cast<int>(s.uiWidth), static_cast<int>(s.uiHeight)};
                for (unsigned i = 0; i < 2; i++) {
                    const int v = readElement(list, IIF_CAPRECT_TL, i, IIF_CAPRECT_TL.defaultAt(i));
                    m.aCropTL[i] = static_cast<QOR_UINT32>(std::min(v, limit[i]));
                }
            },
            [](const ModuleIIF &m, ParameterList &list, ModuleBase::SaveType t) {
                saveCorner(IIF_CAPRECT_TL, m.aCropTL, 0, list, t);
            }),
        custom(
            IIF_CAPRECT_BR.name,
            [](ModuleIIF &m, const ParameterList &list) {
                // The default corner is the sensor's last pixel, not the definition's default.
                const SensorFacts s = readSensorFacts(*m.getSensor());
                const int size[2] = {static_cast<int>(s.uiWidth), static_cast<int>(s.uiHeight)};
                for (unsigned i = 0; i < 2; i++) {
                    const int def = std::max(IIF_CAPRECT_BR.min, std::min(size[i], IIF_CAPRECT_BR.max)) - 1;
                    const int v = readElement(list, IIF_CAPRECT_BR, i, def);
                    m.aCropBR[i] = static_cast<QOR_UINT32>(std::min(v, size[i] - 1));
                }
            },
            [](const ModuleIIF &m, ParameterList &list, ModuleBase::SaveType t) {
                saveCorner(IIF_CAPRECT_BR, m.aCropBR, 0, list, t);
            }),
        custom(
            IIF_DECIMATION.name,
            [](ModuleIIF &m, const ParameterList &list) {
                for (unsigned i = 0; i < 2; i++) {
                    m.aDecimation[i] = static_cast<QOR_UINT32>(list.getParameter(IIF_DECIMATION, i) - 1);
                }
            },
            [](const ModuleIIF &m, ParameterList &list, ModuleBase::SaveType t) {
                saveCorner(IIF_DECIMATION, m.aDecimation, 1, list, t);
            }),
        // Never read: the Bayer order always comes from the sensor, and is saved from it.
        custom(
            IIF_BAYERFMT.name, [](ModuleIIF &, const ParameterList &) {},
            [](const ModuleIIF &m, ParameterList &list, ModuleBase::SaveType t) {
                switch (t) {
                case ModuleBase::SAVE_VAL: {
                    const Sensor *sensor = m.getSensor();
                    if (sensor == nullptr) {
                        LOG_Warning("save", __LINE__, m.getLoggingName(),
                                    "Cannot save sensor's Bayer format as attached pipeline does not have a "
                                    "sensor!\n");
                        break;
                    }
                    list.addParameter(IIF_BAYERFMT, getMosaicString(readSensorFacts(*sensor).eBayerFormat), true);
                    break;
                }
                case ModuleBase::SAVE_MIN:
                case ModuleBase::SAVE_MAX:
                    list.addParameterDef(IIF_BAYERFMT, true);
                    break;
                case ModuleBase::SAVE_DEF:
                    list.addParameterDef(IIF_BAYERFMT, true);
                    list.getParameter(IIF_BAYERFMT.name)->setInfo("{RGGB, GRBG, GBRG, BGGR}");
                    break;
                default:
                    break;
                }
            }),
    };
    return table;
}

ModuleIIF::ModuleIIF() : SetupModuleImpl<ModuleIIF, STP_IIF>(kTag) {
    for (unsigned i = 0; i < 2; i++) {
        aDecimation[i] = static_cast<QOR_UINT32>(IIF_DECIMATION.defaultAt(i) - 1);
        aCropTL[i] = static_cast<QOR_UINT32>(IIF_CAPRECT_TL.defaultAt(i));
        aCropBR[i] = static_cast<QOR_UINT32>(IIF_CAPRECT_BR.defaultAt(i));
    }
}

QOR_RESULT ModuleIIF::beforeLoad(const ParameterList &) {
    if (getPipeline() == nullptr) {
        LOG_Error("load", __LINE__, kTag, "Pipeline pointer not setup!\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (getPipeline()->getSensor() == nullptr) {
        LOG_Error("load", __LINE__, kTag, "%s", kNoSensor);
        return QOR_RES_UNAVAILABLE;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleIIF::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleIIF::writeSetup(MC_PIPELINE &mc) {
    const Sensor *sensor = getPipeline()->getSensor();
    if (sensor == nullptr) {
        LOG_Error("setup", __LINE__, kTag, "%s", kNoSensor);
        return QOR_RES_UNAVAILABLE;
    }
    for (unsigned k = 0; k < 2; k++) {
        // A bottom-right corner more than a cell before the top-left one would wrap the size into nonsense.
        if (aCropBR[k] + 2u < aCropTL[k]) {
            LOG_Error("setup", __LINE__, kTag, "Capture window (%u,%u)-(%u,%u) ends before it starts\n", aCropTL[0],
                      aCropTL[1], aCropBR[0], aCropBR[1]);
            return QOR_RES_INVALID_PARAM;
        }
    }
    const SensorFacts s = readSensorFacts(*sensor);
    MC_IIF &iif = mc.sIIF;
    iif.ui8Imager = static_cast<QOR_UINT8>(s.uiImager);
    iif.eBayerFormat = s.eBayerFormat;
    iif.ui8BlackBorderOffset = 0;
    for (unsigned k = 0; k < 2; k++) {
        iif.ui16ImagerDecimation[k] = static_cast<QOR_UINT16>(aDecimation[k]);
        // The block counts the window in 2x2 cells, offset included; the corner is held in pixels.
        iif.ui16ImagerOffset[k] = static_cast<QOR_UINT16>(aCropTL[k] / 2u);
        // Counted in 2x2 cells after decimation: an odd pixel count makes a whole last cell first.
        iif.ui16ImagerSize[k] = static_cast<QOR_UINT16>((aCropBR[k] + 2u - aCropTL[k]) / (2u * (aDecimation[k] + 1u)));
    }
    markUpdated(iif);
    return QOR_RES_OK;
}

std::string ModuleIIF::getMosaicString(MOSAICType mosaic) {
    switch (mosaic) {
    case MOSAIC_GRBG:
        return "GRBG";
    case MOSAIC_GBRG:
        return "GBRG";
    case MOSAIC_BGGR:
        return "BGGR";
    default:
        return "RGGB";
    }
}

} // namespace ISPC
