#include "ispc/ModuleOUT.h"

#include "ispc/ModuleDPF.h"
#include "ispc/ModuleFLD.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleWBS.h"
#include "ispc/Pipeline.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_MOD_GLOB";

struct FormatName {
    const char *name;
    ePxlFormat fmt;
};

/* The names a setup file may use for each kind of output. Built on first use, after the format-name
 * constants of the definitions' unit exist. */
const std::vector<FormatName> &encoderNames() {
    static const std::vector<FormatName> names = {
        {NV21_8, YVU_420_PL12_8},   {NV12_8, YUV_420_PL12_8},   {NV61_8, YVU_422_PL12_8},
        {NV16_8, YUV_422_PL12_8},   {NV21_10, YVU_420_PL12_10}, {NV12_10, YUV_420_PL12_10},
        {NV61_10, YVU_422_PL12_10}, {NV16_10, YUV_422_PL12_10}, {"NONE", PXL_NONE},
    };
    return names;
}

/* Older encoder names, still accepted with a warning naming the format they select. */
const FormatName kDeprecatedEncoderNames[] = {
    {"420PL12YUV8", YVU_420_PL12_8},
    {"422PL12YUV8", YVU_422_PL12_8},
    {"420PL12YUV10", YVU_420_PL12_10},
    {"422PL12YUV10", YVU_422_PL12_10},
};

const std::vector<FormatName> &displayNames() {
    static const std::vector<FormatName> names = {
        {"RGB888_24", RGB_888_24},
        {"RGB888_32", RGB_888_32},
        {"RGB101010_32", RGB_101010_32},
        {"BGR888_24", BGR_888_24},
        {"BGR888_32", BGR_888_32},
        {"BGR101010_32", BGR_101010_32},
        {"BGR161616_64", BGR_161616_64},
        {FMT_444IL3YCrCb8_STR, PXL_ISP_444IL3YCrCb8},
        {FMT_444IL3YCbCr8_STR, PXL_ISP_444IL3YCbCr8},
        {FMT_444IL3YCrCb10_STR, PXL_ISP_444IL3YCrCb10},
        {FMT_444IL3YCbCr10_STR, PXL_ISP_444IL3YCbCr10},
        {"NONE", PXL_NONE},
    };
    return names;
}

const FormatName kBayerNames[] = {
    {"BAYER8", BAYER_RGGB_8},  {"BAYER10", BAYER_RGGB_10}, {"BAYER12", BAYER_RGGB_12},
    {"TIFF10", BAYER_TIFF_10}, {"TIFF12", BAYER_TIFF_12},  {"NONE", PXL_NONE},
};

template <class Names> const FormatName *findName(const Names &names, const std::string &text) {
    for (const FormatName &n : names) {
        if (text == n.name) {
            return &n;
        }
    }
    return nullptr;
}

template <class Names> const FormatName *findFormat(const Names &names, ePxlFormat fmt) {
    for (const FormatName &n : names) {
        if (n.fmt == fmt) {
            return &n;
        }
    }
    return nullptr;
}

ePxlFormat outside(bool failIfInvalid) { return failIfInvalid ? PXL_INVALID : PXL_NONE; }

/* What SAVE_DEF offers for each format parameter, as its range comment. */
std::string offered(std::initializer_list<ePxlFormat> formats) {
    std::string text = "{";
    bool first = true;
    for (ePxlFormat f : formats) {
        if (!first) {
            text += ", ";
        }
        text += ModuleOUT::getPixelFormatString(f);
        first = false;
    }
    return text + "}";
}

typedef ModuleOUT::Binding Binding;

/* A format parameter: read with `read` into `member`, saved under its parameter name. */
Binding formatBinding(const ParamDefSingle<std::string> &def, ePxlFormat ModuleOUT::*member,
                      ePxlFormat (*read)(const std::string &), std::string defInfo) {
    Binding b;
    b.tag = def.name;
    b.load = [&def, member, read](ModuleOUT &m, const ParameterList &list) {
        m.*member = read(list.getParameter(def));
    };
    b.save = [&def, member, defInfo](const ModuleOUT &m, ParameterList &list, ModuleBase::SaveType t) {
        switch (t) {
        case ModuleBase::SAVE_VAL:
            list.addParameter(def, ModuleOUT::getPixelFormatString(m.*member), true);
            break;
        case ModuleBase::SAVE_MIN:
        case ModuleBase::SAVE_MAX:
            list.addParameterDef(def, true);
            break;
        case ModuleBase::SAVE_DEF:
            list.addParameterDef(def, true);
            list.getParameter(def.name)->setInfo(defInfo);
            break;
        default:
            break;
        }
    };
    return b;
}

ePxlFormat readEncoder(const std::string &s) { return ModuleOUT::getPixelFormatEncoder(s, true); }
ePxlFormat readDisplay(const std::string &s) { return ModuleOUT::getPixelFormatDisplay(s, true); }
ePxlFormat readAny(const std::string &s) { return ModuleOUT::getPixelFormat(s); }

} // namespace

const char *const ModuleOUT::GROUP_NAME = "ModuleOUT";
const char *const ModuleOUT::GROUP_HEADER = "// Output formats parameters";

const std::vector<ModuleOUT::Binding> &ModuleOUT::bindings() {
    static const std::vector<Binding> table = [] {
        std::vector<Binding> t;
        t.push_back(formatBinding(ENCODER_TYPE, &ModuleOUT::encoderType, readEncoder,
                                  offered({PXL_NONE, YVU_420_PL12_8, YUV_420_PL12_8, YVU_422_PL12_8, YUV_422_PL12_8,
                                           YVU_420_PL12_10, YUV_420_PL12_10, YVU_422_PL12_10, YUV_422_PL12_10})));
        t.push_back(formatBinding(
            DISPLAY_TYPE, &ModuleOUT::displayType, readDisplay,
            offered({PXL_NONE, RGB_888_24, RGB_888_32, RGB_101010_32, BGR_888_24, BGR_888_32, BGR_101010_32,
                     PXL_ISP_444IL3YCrCb8, PXL_ISP_444IL3YCbCr8, PXL_ISP_444IL3YCrCb10, PXL_ISP_444IL3YCbCr10})));
        t.push_back(formatBinding(DATAEXTRA_TYPE, &ModuleOUT::dataExtractionType, readAny,
                                  offered({PXL_NONE, BAYER_RGGB_8, BAYER_RGGB_10, BAYER_RGGB_12})));
        // The point counts from 1 in files and from 0 in the member; extraction needs both a point and a format.
        t.push_back(custom(
            DATAEXTRA_POINT.name,
            [](ModuleOUT &m, const ParameterList &list) {
                m.dataExtractionPoint = static_cast<CI_INOUT_POINTS>(list.getParameter(DATAEXTRA_POINT) - 1);
                if (m.dataExtractionType == PXL_NONE || m.dataExtractionPoint == CI_INOUT_NONE) {
                    // Without a format and without a point of its own the extraction is simply off: the
                    // default point alone is no contradiction worth a warning.
                    const bool chosen = m.dataExtractionType != PXL_NONE || list.exists(DATAEXTRA_POINT.name);
                    if (chosen && (m.dataExtractionType == PXL_NONE) != (m.dataExtractionPoint == CI_INOUT_NONE)) {
                        QOR_LOG_WARNING(
                            m.getLoggingName(),
                            "DE point %d forced to NONE and DE format %s forced to NONE because one of them "
                            "is NONE\n",
                            static_cast<int>(m.dataExtractionPoint), FormatString(m.dataExtractionType));
                    }
                    m.dataExtractionType = PXL_NONE;
                    m.dataExtractionPoint = CI_INOUT_NONE;
                }
            },
            [](const ModuleOUT &m, ParameterList &list, ModuleBase::SaveType t) {
                saveParameter(list, t, DATAEXTRA_POINT, static_cast<int>(m.dataExtractionPoint) + 1);
            }));
        t.push_back(
            formatBinding(HDREXTRA_TYPE, &ModuleOUT::hdrExtractionType, readAny, offered({PXL_NONE, BGR_101010_32})));
        t.push_back(
            formatBinding(HDRINS_TYPE, &ModuleOUT::hdrInsertionType, readAny, offered({PXL_NONE, BGR_161616_64})));
        t.push_back(formatBinding(RAW2DEXTRA_TYPE, &ModuleOUT::raw2DExtractionType, readAny,
                                  offered({PXL_NONE, BAYER_TIFF_10, BAYER_TIFF_12})));
        return t;
    }();
    return table;
}

ModuleOUT::ModuleOUT()
    : SetupModuleImpl<ModuleOUT, STP_OUT>(kTag), encoderType(PXL_NONE), displayType(PXL_NONE),
      dataExtractionType(PXL_NONE), hdrExtractionType(PXL_NONE), hdrInsertionType(PXL_NONE),
      raw2DExtractionType(PXL_NONE), dataExtractionPoint(CI_INOUT_NONE) {
    loadDefaults();
}

QOR_RESULT ModuleOUT::afterLoad(const ParameterList &) {
    const ePxlFormat formats[] = {encoderType,       displayType,      dataExtractionType,
                                  hdrExtractionType, hdrInsertionType, raw2DExtractionType};
    for (ePxlFormat f : formats) {
        if (f == PXL_INVALID) {
            QOR_LOG_ERROR(kTag, "INVALID PIXEL FORMAT \n");
            return QOR_RES_INVALID_PARAM;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleOUT::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleOUT::writeSetup(MC_PIPELINE &mc) {
    const CI_HWINFO &hw = getPipeline()->getConnection()->sHWInfo;

    mc.eEncOutput = encoderType;
    mc.eDispOutput = PXL_NONE;
    mc.eDEPoint = CI_INOUT_NONE;
    // Display and data extraction share one hardware output; a valid display format wins.
    PIXELTYPE layout;
    if (PixelTransformDisplay(&layout, displayType) == QOR_RES_OK) {
        mc.eDispOutput = displayType;
    } else if (dataExtractionPoint != CI_INOUT_NONE && dataExtractionType != PXL_NONE) {
        mc.eDEPoint = dataExtractionPoint;
        mc.eDispOutput = dataExtractionType;
    }

    // Outputs the hardware lacks are turned off here only; the members keep what was asked for.
    struct Optional {
        QOR_UINT32 feature;
        ePxlFormat wanted;
        pxlFormat *field;
        const char *message;
    };
    const Optional optional[] = {
        {CI_INFO_SUPPORTED_HDR_EXT, hdrExtractionType, &mc.eHDRExtOutput,
         "HDR Extraction format ignored because HW %d.%d does not support it\n"},
        {CI_INFO_SUPPORTED_HDR_INS, hdrInsertionType, &mc.eHDRInsertion,
         "HDR Insertion format ignored because HW %d.%d does not support it\n"},
        {CI_INFO_SUPPORTED_RAW2D_EXT, raw2DExtractionType, &mc.eRaw2DExtOutput,
         "RAW2D Extraction format ignored because HW %d.%d does not support it\n"},
    };
    for (const Optional &o : optional) {
        if (hw.eFunctionalities & o.feature) {
            *o.field = o.wanted;
        } else if (o.wanted != PXL_NONE) {
            QOR_LOG_WARNING(kTag, o.message, hw.rev_ui8Major, hw.rev_ui8Minor);
            *o.field = PXL_NONE;
        }
    }
    keepAStatisticsBlockRunning(mc);
    return QOR_RES_OK;
}

void ModuleOUT::keepAStatisticsBlockRunning(const MC_PIPELINE &mc) {
    if (dataExtractionPoint != CI_INOUT_FILTER_LINESTORE || dataExtractionType == PXL_NONE || encoderType != PXL_NONE ||
        hdrExtractionType != PXL_NONE || raw2DExtractionType != PXL_NONE) {
        return;
    }
    Pipeline *pipe = getPipeline();
    ModuleFOS *fos = static_cast<ModuleFOS *>(pipe->getModule(STP_FOS));
    const ModuleHIS *his = static_cast<const ModuleHIS *>(pipe->getModule(STP_HIS));
    const ModuleWBS *wbs = static_cast<const ModuleWBS *>(pipe->getModule(STP_WBS));
    const ModuleFLD *fld = static_cast<const ModuleFLD *>(pipe->getModule(STP_FLD));
    const ModuleDPF *dpf = static_cast<const ModuleDPF *>(pipe->getModule(STP_DPF));
    const bool statisticsOn = (fos != nullptr && (fos->bEnableROI || fos->bEnableGrid)) ||
                              (his != nullptr && (his->bEnableGlobal || his->bEnableROI)) ||
                              (wbs != nullptr && wbs->ui32NROIEnabled != 0) || (fld != nullptr && fld->bEnable) ||
                              (dpf != nullptr && dpf->bWrite);
    if (statisticsOn || fos == nullptr) {
        return; // without a focus module there is nothing to switch on
    }
    QOR_LOG_WARNING(kTag, "BRN58117: enabling FOS because only DE point 2 enabled.\n");
    fos->bEnableROI = true;
    for (int i = 0; i < 2; i++) {
        fos->aRoiStartCoord[i] = 0;
        // The last pixel of the image (inclusive end), not one beyond it.
        const QOR_UINT32 size = 2u * mc.sIIF.ui16ImagerSize[i];
        fos->aRoiEndCoord[i] = size > 0 ? size - 1 : 0;
    }
    fos->requestUpdate();
}

ePxlFormat ModuleOUT::getPixelFormatEncoder(const std::string &stringFormat, bool failIfInvalid) {
    if (const FormatName *n = findName(encoderNames(), stringFormat)) {
        return n->fmt;
    }
    if (const FormatName *n = findName(kDeprecatedEncoderNames, stringFormat)) {
        QOR_LOG_WARNING(kTag, "deprecated %s format used - use %s instead\n", stringFormat.c_str(),
                        getPixelFormatString(n->fmt).c_str());
        return n->fmt;
    }
    return outside(failIfInvalid);
}

ePxlFormat ModuleOUT::getPixelFormatDisplay(const std::string &stringFormat, bool failIfInvalid) {
    const FormatName *n = findName(displayNames(), stringFormat);
    return n != nullptr ? n->fmt : outside(failIfInvalid);
}

ePxlFormat ModuleOUT::getPixelFormatBayer(const std::string &stringFormat, bool failIfInvalid) {
    const FormatName *n = findName(kBayerNames, stringFormat);
    return n != nullptr ? n->fmt : outside(failIfInvalid);
}

ePxlFormat ModuleOUT::getPixelFormat(const std::string &stringFormat) {
    ePxlFormat f = getPixelFormatEncoder(stringFormat, false);
    if (f == PXL_NONE) {
        f = getPixelFormatDisplay(stringFormat, false);
    }
    if (f == PXL_NONE) {
        f = getPixelFormatBayer(stringFormat, false);
    }
    return f;
}

std::string ModuleOUT::getPixelFormatString(ePxlFormat fmt) {
    if (const FormatName *n = findFormat(encoderNames(), fmt)) {
        return n->name;
    }
    if (const FormatName *n = findFormat(displayNames(), fmt)) {
        return n->name;
    }
    if (const FormatName *n = findFormat(kBayerNames, fmt)) {
        return n->name;
    }
    return FormatString(fmt);
}

} // namespace ISPC
