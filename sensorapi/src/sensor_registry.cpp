/* The fixed driver registry and the mode listing of every real driver. */

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/userlog.h"
#include "sensor_registry_internal.h"

namespace {

constexpr unsigned kSensorCount = 26;

// Parallel tables: the index of a name is its sensor number. The board sensor number of every
// entry but the first (which has none) is its index - 1.
const char *Sensors[kSensorCount + 1] = {
    "DOR Idazida", "AR330",    "OV4688", "OV4689_0", "OV4689_1", "OV2718_0", "OV2718_1", "OV10823_0", "OV10823_1",
    "OV5647_0",    "OV5647_1", "IMX415", "OV5695_0", "OV5695_1", "OV5695_2", "S5K3P9",   "IMX219_0",  "IMX219_1",
    "IMX335",      "IMX327",   "ZYNQ",   "GC8034",   "GC5035",   "IMX662",   "IMX477_0", "IMX477_1",  nullptr,
};

const SENSOR_CREATE_FUNC InitialiseSensors[kSensorCount] = {
    IIFDG_Create,    AR330_Create,     OV4688_Create,    OV4689_Create_0, OV4689_Create_1, OV2718_Create_0,
    OV2718_Create_1, OV10823_Create_0, OV10823_Create_1, OV5647_Create_0, OV5647_Create_1, IMX415_Create,
    OV5695_Create_0, OV5695_Create_1,  OV5695_Create_2,  S5K3P9_Create,   IMX219_Create_0, IMX219_Create_1,
    IMX335_Create,   IMX327_Create,    ZYNQ_Create,      GC8034_Create,   GC5035_Create,   IMX662_Create,
    IMX477_Create_0, IMX477_Create_1,
};

// The listing logs under the name of the API function it serves.
constexpr const char *kListingFunction = "Sensor_GetSupportedModes";

// Data generators have no modes worth listing.
const char *const kPseudoSensors[] = {"DOR Idazida", "ZYNQ"};

bool isPseudoSensor(const char *name) {
    for (const char *pseudo : kPseudoSensors) {
        if (std::strcmp(name, pseudo) == 0) {
            return true;
        }
    }
    return false;
}

// A listed mode number is 8 bits wide: configurations from 16 upwards cannot be listed.
constexpr unsigned kMaxListedConfigs = 256 >> SENSOR_MODE_CONFIG_SHIFT;
// Index 16 of a configuration would already be the number of the next configuration's first mode.
constexpr unsigned kMaxModesPerConfig = SENSOR_MODE_INDEX_MASK + 1;

// Fills the listing record of one created sensor with its modes.
void listModes(SENSOR_HANDLE hSensor, const SENSOR_INFO &info, QOR_BOOL8 bValidOnly, SENSOR_SUPPORTED *psListed) {
    static_assert(sizeof(psListed->pszSensorName) == sizeof(info.pszSensorName), "same name size");
    std::memcpy(psListed->pszSensorName, info.pszSensorName, sizeof(psListed->pszSensorName));
    psListed->pszSensorName[sizeof(psListed->pszSensorName) - 1] = '\0';

    const unsigned configs = info.pNumModes ? info.ui8NumConfig : 0;
    for (unsigned c = 0; c < configs && c < kMaxListedConfigs; ++c) {
        for (unsigned m = 0; m < info.pNumModes[c] && m < kMaxModesPerConfig; ++m) {
            const QOR_UINT16 modeNumber = SENSOR_MODE_NUMBER(c, m);
            SENSOR_MODE mode;
            std::memset(&mode, 0, sizeof(mode));
            LOG_SetLevel(LOG_LEVEL_SILENCE);
            const QOR_RESULT ret = Sensor_GetMode(hSensor, modeNumber, &mode);
            LOG_SetLevel(LOG_LEVEL_ERROR);
            if (ret != QOR_RES_OK || (bValidOnly && !mode.bValidFrequency)) {
                continue;
            }
            if (psListed->ui8NumSupportedModes >= SENSOR_MAX_LISTED_MODES) {
                LOG_Warning(kListingFunction, __LINE__, SENSOR_LOG_TAG,
                            "Sensor %s: only the first %d modes are listed\n", psListed->pszSensorName,
                            SENSOR_MAX_LISTED_MODES);
                return;
            }
            MODE_SUPPORTED &listed = psListed->supportedModes[psListed->ui8NumSupportedModes++];
            listed.ui8ModeNum = static_cast<QOR_UINT8>(modeNumber);
            listed.ui8BitDepth = mode.ui8BitDepth;
            listed.ui16Width = mode.ui16Width;
            listed.ui16Height = mode.ui16Height;
            listed.flFrameRate = mode.flFrameRate;
            listed.ui8MipiLanes = mode.ui8MipiLanes;
            listed.eHDRMode = mode.eHDRMode;
            listed.eConvGainMode = mode.eConvGainMode;
        }
    }
}

const char *convGainText(CG_MODES mode) {
    switch (mode) {
    case CG_LOW:
        return ", LCG";
    case CG_HIGH:
        return ", HCG";
    default:
        return "";
    }
}

} // namespace

namespace norva_sensor {

RegistryView BuiltinRegistry() { return RegistryView{Sensors, InitialiseSensors, kSensorCount}; }

SENSOR_SUPPORTED **ListSupportedModes(const RegistryView &registry, QOR_BOOL8 bValidOnly) {
    // Probing creates every driver, and drivers that are absent complain; only errors of the
    // listing itself are wanted.
    const int savedLevel = LOG_GetLevel();
    LOG_SetLevel(LOG_LEVEL_ERROR);

    SENSOR_SUPPORTED **listing =
        static_cast<SENSOR_SUPPORTED **>(std::calloc(registry.count + 1, sizeof(SENSOR_SUPPORTED *)));
    if (!listing) {
        LOG_Error(kListingFunction, __LINE__, SENSOR_LOG_TAG,
                  "Failed to allocate memory for array of SENSOR_SUPPORTED*!\n");
        LOG_SetLevel(savedLevel);
        return nullptr;
    }

    unsigned kept = 0;
    for (unsigned i = 0; i < registry.count && registry.names[i]; ++i) {
        const char *name = registry.names[i];
        if (isPseudoSensor(name)) {
            continue;
        }
        SENSOR_HANDLE hSensor = nullptr;
        LOG_SetLevel(LOG_LEVEL_SILENCE);
        const QOR_RESULT created = registry.create[i](&hSensor);
        LOG_SetLevel(LOG_LEVEL_ERROR);
        if (created != QOR_RES_OK || !hSensor) {
            continue; // absent or silent sensors are not failures
        }

        SENSOR_INFO info;
        std::memset(&info, 0, sizeof(info));
        bool failed = false;
        if (Sensor_GetInfo(hSensor, &info) != QOR_RES_OK) {
            LOG_Error(kListingFunction, __LINE__, SENSOR_LOG_TAG, "Failed to get info for sensor %s!\n", name);
            failed = true;
        } else {
            listing[kept] = static_cast<SENSOR_SUPPORTED *>(std::calloc(1, sizeof(SENSOR_SUPPORTED)));
            if (!listing[kept]) {
                LOG_Error(kListingFunction, __LINE__, SENSOR_LOG_TAG,
                          "Failed to allocate memory for SENSOR_SUPPORTED!\n");
                failed = true;
            }
        }
        if (failed) {
            Sensor_Destroy(hSensor);
            Sensor_FreeSupportedModes(listing);
            LOG_SetLevel(savedLevel);
            return nullptr;
        }

        listModes(hSensor, info, bValidOnly, listing[kept]);
        if (listing[kept]->ui8NumSupportedModes == 0) {
            std::free(listing[kept]); // the next sensor takes the slot
            listing[kept] = nullptr;
        } else {
            ++kept;
        }
        Sensor_Destroy(hSensor);
    }

    LOG_SetLevel(savedLevel);
    if (kept == 0) {
        std::free(listing);
        return nullptr;
    }
    return listing;
}

QOR_RESULT PrintModes(FILE *f, SENSOR_SUPPORTED *const *listing) {
    if (!listing) {
        return QOR_RES_DEVICE_FAILED;
    }
    for (int i = 0; listing[i]; ++i) {
        const SENSOR_SUPPORTED &sensor = *listing[i];
        std::fprintf(f, "Sensor %d: %s\n", i, sensor.pszSensorName);
        for (unsigned m = 0; m < sensor.ui8NumSupportedModes && m < SENSOR_MAX_LISTED_MODES; ++m) {
            const MODE_SUPPORTED &mode = sensor.supportedModes[m];
            std::fprintf(f, "Mode %d: BitDepth %d, Width %d, Height %d, FrameRate %.2f, NumLanes %d, HDR %s%s\n",
                         mode.ui8ModeNum, mode.ui8BitDepth, mode.ui16Width, mode.ui16Height, mode.flFrameRate,
                         mode.ui8MipiLanes, mode.eHDRMode != HDR_NONE ? "yes" : "no", convGainText(mode.eConvGainMode));
        }
    }
    return QOR_RES_OK;
}

} // namespace norva_sensor

const char **Sensor_ListAll(void) { return Sensors; }

unsigned Sensor_NumberSensors(void) { return kSensorCount; }

QOR_RESULT Sensor_Initialise(QOR_UINT16 nSensor, SENSOR_HANDLE *phHandle) {
    if (!phHandle) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "phHandle is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (nSensor >= kSensorCount) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "nSensor=%d supports %d sensors\n", nSensor, kSensorCount);
        return QOR_RES_INVALID_PARAM;
    }
    // A caller that tests the handle after a failure must not find an old value there.
    *phHandle = nullptr;
    return InitialiseSensors[nSensor](phHandle);
}

SENSOR_SUPPORTED **Sensor_GetSupportedModes(QOR_BOOL8 bValidOnly) {
    return norva_sensor::ListSupportedModes(norva_sensor::BuiltinRegistry(), bValidOnly);
}

void Sensor_FreeSupportedModes(SENSOR_SUPPORTED **sensors) {
    if (!sensors) {
        return;
    }
    for (unsigned i = 0; sensors[i]; ++i) {
        std::free(sensors[i]);
    }
    std::free(sensors);
}

QOR_RESULT Sensor_PrintAllModes(FILE *f, QOR_BOOL8 bValidOnly) {
    if (!f) {
        QOR_LOG_ERROR(SENSOR_LOG_TAG, "f is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    SENSOR_SUPPORTED **listing = Sensor_GetSupportedModes(bValidOnly);
    const QOR_RESULT ret = norva_sensor::PrintModes(f, listing);
    Sensor_FreeSupportedModes(listing);
    return ret;
}
