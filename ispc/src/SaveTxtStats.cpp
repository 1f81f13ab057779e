/* Text report of a shot's statistics and configuration, and the hardware description as text. */
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <string>

#include "ispc/Save.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {

const char *const kTag = "ISPC_Save";

/** Appends printf-formatted text. */
void Add(std::string &s, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Add(std::string &s, const char *format, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (n > 0) {
        s.append(buf, size_t(n) < sizeof buf ? size_t(n) : sizeof buf - 1);
    }
}

void LineD(std::string &s, const char *name, int v) { Add(s, "      %s = %d\n", name, v); }
void LineU(std::string &s, const char *name, unsigned v) { Add(s, "      %s = %u\n", name, v); }
void LineF(std::string &s, const char *name, double v) { Add(s, "      %s = %lf\n", name, v); }

template <typename T> void ListU(std::string &s, const char *name, const T *v, int n) {
    Add(s, "      %s = (%u", name, unsigned(v[0]));
    for (int i = 1; i < n; i++) {
        Add(s, " %u", unsigned(v[i]));
    }
    s += ")\n";
}

void ListLU(std::string &s, const char *name, const QOR_UINT64 *v, int n) {
    Add(s, "      %s = (%llu", name, static_cast<unsigned long long>(v[0]));
    for (int i = 1; i < n; i++) {
        Add(s, " %llu", static_cast<unsigned long long>(v[i]));
    }
    s += ")\n";
}

void ListF(std::string &s, const char *name, const double *v, int n) {
    Add(s, "      %s = (%lf", name, v[0]);
    for (int i = 1; i < n; i++) {
        Add(s, " %lf", v[i]);
    }
    s += ")\n";
}

QOR_UINT32 Word(const QOR_UINT8 *p) {
    return QOR_UINT32(p[0]) | QOR_UINT32(p[1]) << 8 | QOR_UINT32(p[2]) << 16 | QOR_UINT32(p[3]) << 24;
}

std::string Name(const char *format, int a, int b = 0) {
    char buf[96];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

/** Elements of a raw block that can be read whole, never more than the count the statistics claim. */
QOR_UINT32 Readable(const Statistics &block, QOR_UINT64 claimed, QOR_UINT32 elementBytes) {
    if (!block.data || block.elementSize < elementBytes) {
        return 0;
    }
    const QOR_UINT64 whole = block.size / block.elementSize;
    return QOR_UINT32(claimed < whole ? claimed : whole);
}

} // namespace

void Save::writeText(const std::string &text, const char *piece, QOR_RESULT &failure) {
    if (SaveFile_write(file, text.data(), text.size()) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "failed to write \"%s\" to file\n", piece);
        failure = QOR_RES_FAILED;
    }
}

QOR_RESULT Save::saveTxtStats(const Shot &shot) {
    if (!file) {
        QOR_LOG_ERROR(kTag, "File is not open, cannot save text statistics\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (type != Bytes) {
        return QOR_RES_NOT_SUPPORTED;
    }
    const Metadata &md = shot.metadata;
    QOR_RESULT failure = QOR_RES_OK;
    std::string s;
    auto flush = [&](const char *piece) {
        writeText(s, piece, failure);
        s.clear();
    };

    s = "Frame:\n";
    flush("Frame header");

    // exposure
    s = "  Exposure Statistics:\n    config:\n";
    flush("EXS header");
    const MC_EXS &exs = md.clippingConfig;
    LineD(s, "bGlobalEnable", exs.bGlobalEnable);
    LineD(s, "bRegionEnable", exs.bRegionEnable);
    LineU(s, "ui16Left", exs.ui16Left);
    LineU(s, "ui16Top", exs.ui16Top);
    LineU(s, "ui16Width", exs.ui16Width);
    LineU(s, "ui16Height", exs.ui16Height);
    LineF(s, "fPixelMax", exs.fPixelMax);
    flush("clippingConfig");
    s = "    content:\n";
    ListU(s, "globalClipped", md.clippingStats.globalClipped, 4);
    flush("clippingStats");
    s = "      # regionClipped[vertical][horizontal]\n";
    for (int v = 0; v < 7; v++) {
        for (int h = 0; h < 7; h++) {
            ListU(s, Name("regionClipped[%d][%d]", v, h).c_str(), md.clippingStats.regionClipped[v][h], 4);
        }
    }
    flush("EXS comment");

    // histograms
    s = "\n  Histogram Statistics:\n    config:\n";
    flush("HIS header");
    const MC_HIS &his = md.histogramConfig;
    LineD(s, "bGlobalEnable", his.bGlobalEnable);
    LineD(s, "bRegionEnable", his.bRegionEnable);
    LineF(s, "fInputOffset", his.fInputOffset);
    LineF(s, "fInputScale", his.fInputScale);
    LineU(s, "ui16Left", his.ui16Left);
    LineU(s, "ui16Top", his.ui16Top);
    LineU(s, "ui16Width", his.ui16Width);
    LineU(s, "ui16Height", his.ui16Height);
    flush("histogramConfig");
    s = "    content:\n";
    ListU(s, "globalHistogram", md.histogramStats.globalHistogram, 64);
    flush("histogramStats");
    s = "      # regionHistograms[vertical][horizontal]\n";
    for (int v = 0; v < 7; v++) {
        for (int h = 0; h < 7; h++) {
            ListU(s, Name("regionHistograms[%d][%d]", v, h).c_str(), md.histogramStats.regionHistograms[v][h], 16);
        }
    }
    flush("HIS comment");

    // focus
    s = "\n  Focus Statistics:\n    config:\n";
    flush("FOS header");
    const MC_FOS &fos = md.focusConfig;
    LineD(s, "bGlobalEnable", fos.bGlobalEnable);
    LineD(s, "bRegionEnable", fos.bRegionEnable);
    LineD(s, "ui16Left", fos.ui16Left);
    LineD(s, "ui16Top", fos.ui16Top);
    LineD(s, "ui16Width", fos.ui16Width);
    LineD(s, "ui16Height", fos.ui16Height);
    LineD(s, "ui16ROILeft", fos.ui16ROILeft);
    LineD(s, "ui16ROITop", fos.ui16ROITop);
    LineD(s, "ui16ROIWidth", fos.ui16ROIWidth);
    LineD(s, "ui16ROIHeight", fos.ui16ROIHeight);
    flush("focusConfig");
    s = "    content:\n";
    LineU(s, "ROISharpness", md.focusStats.ROISharpness);
    flush("focusStats");
    s = "      # gridSharpness[vertical][horizontal]\n";
    for (int v = 0; v < 7; v++) {
        for (int h = 0; h < 7; h++) {
            LineU(s, Name("gridSharpness[%d][%d]", v, h).c_str(), md.focusStats.gridSharpness[v][h]);
        }
    }
    flush("FOS comment");

    // white balance
    s = "\n  White Balance Statistics:\n    config:\n";
    flush("WBS header");
    const MC_WBS &wbs = md.whiteBalanceConfig;
    LineU(s, "ui8ActiveROI", wbs.ui8ActiveROI);
    LineF(s, "fRGBOffset", wbs.fRGBOffset);
    LineF(s, "fYOffset", wbs.fYOffset);
    for (int r = 0; r < 2; r++) {
        LineU(s, Name("aRoiLeft[%d]", r).c_str(), wbs.aRoiLeft[r]);
        LineU(s, Name("aRoiTop[%d]", r).c_str(), wbs.aRoiTop[r]);
        LineU(s, Name("aRoiWidth[%d]", r).c_str(), wbs.aRoiWidth[r]);
        LineU(s, Name("aRoiHeight[%d]", r).c_str(), wbs.aRoiHeight[r]);
        LineU(s, Name("aRMax[%d]", r).c_str(), wbs.aRMax[r]);
        LineU(s, Name("aGMax[%d]", r).c_str(), wbs.aGMax[r]);
        LineU(s, Name("aBMax[%d]", r).c_str(), wbs.aBMax[r]);
        LineU(s, Name("aYMax[%d]", r).c_str(), wbs.aYMax[r]);
    }
    flush("whiteBalanceConfig");
    s = "    content:\n";
    const MC_STATS_WBS &ws = md.whiteBalanceStats;
    for (int r = 0; r < 2; r++) {
        ListLU(s, Name("whitePatch[%d].channelAccumulated", r).c_str(), ws.whitePatch[r].channelAccumulated, 3);
        ListU(s, Name("whitePatch[%d].channelCount", r).c_str(), ws.whitePatch[r].channelCount, 3);
        ListLU(s, Name("averageColor[%d].channelCount", r).c_str(), ws.averageColor[r].channelAccumulated, 3);
        ListLU(s, Name("highLuminance[%d].channelAccumulated", r).c_str(), ws.highLuminance[r].channelAccumulated, 3);
        LineU(s, Name("highLuminance[%d].lumaCount", r).c_str(), ws.highLuminance[r].lumaCount);
    }
    flush("whiteBalanceStats");

    // auto white balance
    s = "\n  Auto White Balance Statistics:\n    config:\n";
    flush("AWS header");
    const MC_AWS &aws = md.autoWhiteBalanceConfig;
    LineD(s, "bEnable", aws.bEnable);
    LineD(s, "bDebugBitmap", aws.bDebugBitmap);
    LineF(s, "fLog2_R_Qeff", aws.fLog2_R_Qeff);
    LineF(s, "fLog2_B_Qeff", aws.fLog2_B_Qeff);
    LineF(s, "fRedDarkThresh", aws.fRedDarkThresh);
    LineF(s, "fBlueDarkThresh", aws.fBlueDarkThresh);
    LineF(s, "fGreenDarkThresh", aws.fGreenDarkThresh);
    LineF(s, "fRedClipThresh", aws.fRedClipThresh);
    LineF(s, "fBlueClipThresh", aws.fBlueClipThresh);
    LineF(s, "fGreenClipThresh", aws.fGreenClipThresh);
    LineF(s, "fBbDist", aws.fBbDist);
    LineU(s, "ui16GridStartRow", aws.ui16GridStartRow);
    LineU(s, "ui16GridStartColumn", aws.ui16GridStartColumn);
    LineU(s, "ui16GridTileWidth", aws.ui16GridTileWidth);
    LineU(s, "ui16GridTileHeight", aws.ui16GridTileHeight);
    ListF(s, "aCurveCoeffX", aws.aCurveCoeffX, 5);
    ListF(s, "aCurveCoeffY", aws.aCurveCoeffY, 5);
    ListF(s, "aCurveOffset", aws.aCurveOffset, 5);
    ListF(s, "aCurveBoundary", aws.aCurveBoundary, 5);
    flush("autoWhiteBalanceConfig");
    s = "    content:\n      # tileStats[vertical][horizontal]\n";
    flush("AWS comment");
    for (int v = 0; v < 7; v++) {
        for (int h = 0; h < 7; h++) {
            const MC_TILE_STATS_AWS &t = md.autoWhiteBalanceStats.tileStats[v][h];
            LineF(s, Name("autoWhiteBalanceStats.tileStats[%d][%d].fCollectedRed", v, h).c_str(), t.fCollectedRed);
            LineF(s, Name("autoWhiteBalanceStats.tileStats[%d][%d].fCollectedBlue", v, h).c_str(), t.fCollectedBlue);
            LineF(s, Name("autoWhiteBalanceStats.tileStats[%d][%d].fCollectedGreen", v, h).c_str(), t.fCollectedGreen);
            LineU(s, Name("autoWhiteBalanceStats.tileStats[%d][%d].numCFAs", v, h).c_str(), t.numCFAs);
        }
    }
    flush("autoWhiteBalanceStats");

    // flicker
    s = "\n  Flicker Detection:\n    config:\n";
    flush("FLD header");
    const MC_FLD &fld = md.flickerConfig;
    LineD(s, "bEnable", fld.bEnable);
    LineU(s, "ui16VTot", fld.ui16VTot);
    LineF(s, "fFrameRate", fld.fFrameRate);
    LineU(s, "ui16CoefDiff", fld.ui16CoefDiff);
    LineU(s, "ui16NFThreshold", fld.ui16NFThreshold);
    LineU(s, "ui32SceneChange", fld.ui32SceneChange);
    LineU(s, "ui8RShift", fld.ui8RShift);
    LineU(s, "ui8MinPN", fld.ui8MinPN);
    LineU(s, "ui8PN", fld.ui8PN);
    LineD(s, "bReset", fld.bReset);
    flush("flickerConfig");
    s = "    content:\n";
    Add(s, "      # status: %d=WAITING, %d=50Hz, %d=60Hz, %d=NO_FLICKER, %d=UNDERTERMINED\n", FLD_WAITING, FLD_50HZ,
        FLD_60HZ, FLD_NO_FLICKER, FLD_UNDETERMINED);
    flush("FLD comment");
    LineD(s, "flickerStatus", int(md.flickerStats.flickerStatus));
    flush("flickerStats");

    // timestamps
    s = "\n  Timestamps:\n    content:\n";
    flush("TS header");
    const MC_STATS_TIMESTAMP &ts = md.timestamps;
    LineU(s, "ui32LinkedListUpdated", ts.ui32LinkedListUpdated);
    LineU(s, "ui32StartFrameIn", ts.ui32StartFrameIn);
    LineU(s, "ui32EndFrameIn", ts.ui32EndFrameIn);
    LineU(s, "ui32StartFrameOut", ts.ui32StartFrameOut);
    LineU(s, "ui32EndFrameEncOut", ts.ui32EndFrameEncOut);
    LineU(s, "ui32EndFrameDispOut", ts.ui32EndFrameDispOut);
    LineU(s, "ui32InterruptServiced", ts.ui32InterruptServiced);
    flush("timestamps");

    // defective pixels
    s = "\n  Defective Pixels:\n    config:\n";
    flush("DPF header");
    const MC_DPF &dpf = md.defectiveConfig;
    Add(s, "      # bitmask of %d=DETECT, %d=WRITE, %d=READ\n", 1, 2, 4);
    LineU(s, "eDPFEnable", dpf.eDPFEnable);
    LineU(s, "ui32NDefect", dpf.ui32NDefect);
    flush("defectiveConfig");
    s = "      # pair of coordinate (x, y)\n";
    flush("DPF comment");
    if (dpf.ui32NDefect != 0 && dpf.apDefectInput) {
        s = "      apDefectInput =";
        for (QOR_UINT32 i = 0; i < dpf.ui32NDefect; i++) {
            Add(s, " (%d %d)", dpf.apDefectInput[2 * i], dpf.apDefectInput[2 * i + 1]);
        }
        s += "\n";
    } else {
        s = "      apDefectInput = null\n";
    }
    flush("defectiveConfig.apDefectInput");
    LineU(s, "ui16NbLines", dpf.ui16NbLines);
    ListU(s, "aSkip", dpf.aSkip, 2);
    ListU(s, "aOffset", dpf.aOffset, 2);
    LineU(s, "ui8Threshold", dpf.ui8Threshold);
    LineF(s, "fWeight", dpf.fWeight);
    s += "    content:\n";
    const MC_STATS_DPF &dps = md.defectiveStats;
    LineU(s, "ui32FixedPixels", dps.ui32FixedPixels);
    LineU(s, "ui32MapModifications", dps.ui32MapModifications);
    LineU(s, "ui32DroppedMapModifications", dps.ui32DroppedMapModifications);
    LineU(s, "ui32NOutCorrection", dps.ui32NOutCorrection);
    s += "      # tuple of (x, y, data, confidence, status)\n";
    flush("defectiveStats");
    // the count comes from the hardware's counters: never read more entries than the map holds
    const QOR_UINT32 corrections = Readable(shot.DPF, dps.ui32NOutCorrection, 8);
    if (corrections != 0) {
        s = "      apDefectOutput =";
        for (QOR_UINT32 i = 0; i < corrections; i++) {
            const QOR_UINT8 *e = shot.DPF.data + size_t(i) * shot.DPF.elementSize;
            const QOR_UINT32 w0 = Word(e), w1 = Word(e + 4);
            Add(s, " (%d %d %d %d %d)", int(w0 & 0x1FFF), int((w0 >> 16) & 0x1FFF), int(w1 & 0xFFFF),
                int((w1 >> 16) & 0xFF), int(w1 >> 31));
        }
        s += "\n";
    } else {
        s = "      apDefectOutput = null\n";
    }
    flush("DPF.data");

    // encoder statistics
    s = "\n  Encoder Statistics\n    config:\n";
    flush("ENS header");
    const MC_ENS &ens = md.encodeStatsConfig;
    LineD(s, "bEnable", ens.bEnable);
    LineU(s, "ui32NLines", ens.ui32NLines);
    LineU(s, "ui32KernelSubsampling", ens.ui32KernelSubsampling);
    s += "    content:\n";
    flush("encodeStatsConfig");
    const QOR_UINT32 pairs = Readable(shot.ENS, QOR_UINT64(-1), 8);
    LineD(s, "ui32NOutElements", shot.ENS.elementSize ? int(shot.ENS.size / shot.ENS.elementSize) : 0);
    flush("ENS.ui32NOutElements");
    s = "      # pair of (counter, entropy)\n";
    flush("ENS comment");
    if (pairs != 0) {
        s = "      apStatsOutput =";
        for (QOR_UINT32 i = 0; i < pairs; i++) {
            const QOR_UINT8 *e = shot.ENS.data + size_t(i) * shot.ENS.elementSize;
            Add(s, " (%d %d)", int(Word(e)), int(Word(e + 4)));
        }
        s += "\n";
    } else {
        s = "      ui32NOutElements = 0\n      apStatsOutput = null\n";
    }
    flush("ENS.data");
    return failure;
}

std::ostream &operator<<(std::ostream &os, const CI_HWINFO &info) {
    os << "HW Information:" << std::endl;
    os << "  version = " << unsigned(info.rev_ui8Major) << "." << unsigned(info.rev_ui8Minor) << "."
       << unsigned(info.rev_ui8Maint) << std::endl;
    const char fill = os.fill('0');
    os << "  config = " << std::setw(3) << info.ui16ConfigId << std::endl;
    os << "  uid = " << std::setw(8) << info.rev_uid << std::endl;
    os.fill(fill);
    os << "  parallelism = " << unsigned(info.config_ui8Parallelism) << std::endl;
    os << "  pixels per clock = " << unsigned(info.config_ui8PixPerClock) << std::endl;
    os << "  bit depth = " << unsigned(info.config_ui8BitDepth) << std::endl;
    os << "  contexts = " << unsigned(info.config_ui8NContexts) << std::endl;
    os << "  gaskets = " << unsigned(info.config_ui8NImagers) << std::endl;
    os << "  dor idazida = " << unsigned(info.config_ui8NIIFDataGenerator) << std::endl;
    os << "  max linestore = " << info.ui32MaxLineStore << std::endl;
    os << "  DPF internal = " << info.config_ui32DPFInternalSize << std::endl;
    os << "  LSH RAM size = " << info.ui32LSHRamSizeBits << " bits" << std::endl;
    os << "  features =";
    static const char *const kFeatures[] = {" TILING",    " HDR_EXT", " HDR_INS",
                                            " RAW2D_EXT", " IIF_DG",  " IIF_DG_PATTERN"};
    if ((info.eFunctionalities & 0x3Fu) == 0) {
        os << " none";
    }
    for (unsigned b = 0; b < 6; b++) {
        if (info.eFunctionalities & (1u << b)) {
            os << kFeatures[b];
        }
    }
    os << std::endl;
    os << "  ref clock = " << info.ui32RefClockMhz << " Mhz" << std::endl;
    const unsigned contexts = info.config_ui8NContexts < CI_N_CONTEXT ? info.config_ui8NContexts : CI_N_CONTEXT;
    for (unsigned c = 0; c < contexts; c++) {
        os << std::endl << "  Context " << c << ":" << std::endl;
        os << "    bit depth = " << unsigned(info.context_aBitDepth[c]) << std::endl;
        os << "    max size (single) = " << info.context_aMaxWidthSingle[c] << "x" << info.context_aMaxHeight[c]
           << std::endl;
        os << "    max size (multi) = " << info.context_aMaxWidthMult[c] << "x" << info.context_aMaxHeight[c]
           << std::endl;
    }
    const unsigned gaskets = info.config_ui8NImagers < CI_N_IMAGERS ? info.config_ui8NImagers : CI_N_IMAGERS;
    for (unsigned g = 0; g < gaskets; g++) {
        os << std::endl << "  Gasket " << g << ":" << std::endl;
        os << "    bit depth = " << unsigned(info.gasket_aBitDepth[g]) << std::endl;
        os << "    format =";
        if (info.gasket_aType[g] == 0) {
            os << " none";
        }
        if (info.gasket_aType[g] & 1u) {
            os << " MIPI";
        }
        if (info.gasket_aType[g] & 2u) {
            os << " PARALLEL";
        }
        os << std::endl;
        if (info.gasket_aType[g] & 1u) {
            os << "    MIPI lanes = " << unsigned(info.gasket_aImagerPortWidth[g]) << std::endl;
        }
    }
    os << std::endl
       << "MMU version " << unsigned(info.mmu_ui8RevMajor) << "." << unsigned(info.mmu_ui8RevMinor) << "."
       << unsigned(info.mmu_ui8RevMaint) << std::endl;
    os << std::endl << "SW Information:" << std::endl;
    os << "  changelist = " << info.uiChangelist << std::endl;
    os << "  mmucontrol = " << unsigned(info.mmu_ui8Enabled) << std::endl;
    os << "  tiling scheme = " << info.uiTiledScheme << "x" << (info.uiTiledScheme ? 4096 / info.uiTiledScheme : 0)
       << std::endl;
    os << "  mmu page size = " << info.mmu_ui32PageSize << std::endl;
    os << std::endl;
    return os;
}

} // namespace ISPC
