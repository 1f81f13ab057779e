// The main job: prints the hardware description of the ISP, then plays a generated test scene through the
// internal data generator with a data-generator camera, writes every captured frame (NV12 encoder output and
// RGB display output) with plain file writes, and turns a few of them into PNG images with ffmpeg.
//
//   norva_run [output-folder]    (default: out/run-<date>-<time>; NORVA_OUTPUT_DIR also names it)
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <sys/stat.h>
#include <sys/wait.h>
#include <spawn.h>
#include <vector>

#include "ci/ci_api.h"
#include "ispc/DGCamera.h"
#include "norvacommon/userlog.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ParameterFileParser.h"
#include "scenes/scene_nrv.h"
#include "sensors/iifdatagen.h"

extern char **environ;

namespace {

constexpr unsigned kWidth = 640;
constexpr unsigned kHeight = 480;
constexpr unsigned kBitDepth = 10;
constexpr unsigned kSceneFrames = 4;
constexpr unsigned kFrames = 12;
/** Frames turned into PNG images. */
constexpr unsigned kPngFrames[] = {0, kFrames / 2, kFrames - 1};

/** The setup of the capture: NV12 encoder and RGB display outputs, a scene without black level. */
const char *const kSetup = "// Main job: data-generator camera on the test chart\n"
                           "OUT_ENC NV12\n"
                           "OUT_DISP RGB888_24\n"
                           "BLC_SENSOR_BLACK 0 0 0 0\n";

/**
 * Programs the colour conversions for a Cb-first encoder output (NV12), as the colour-space module does: the
 * chroma rows of the RGB-to-YUV matrix exchanged, and the chroma inputs of the display's YUV-to-RGB matrix with
 * them, so the display is unchanged. (The defaults give the hardware's Cr-first order.)
 */
void chromaCbFirst(MC_PIPELINE &mc) {
    for (int j = 0; j < 3; j++)
        std::swap(mc.sR2Y.aCoeff[0][j], mc.sR2Y.aCoeff[2][j]);
    std::swap(mc.sR2Y.aOffset[0], mc.sR2Y.aOffset[2]);
    for (int r = 0; r < 3; r++)
        std::swap(mc.sY2R.aCoeff[r][0], mc.sY2R.aCoeff[r][2]);
    std::swap(mc.sY2R.aOffset[0], mc.sY2R.aOffset[2]);
    mc.sR2Y.updateNeeded = 1;
    mc.sY2R.updateNeeded = 1;
}

void printHardware(const CI_HWINFO &hw) {
    static const struct {
        unsigned bit;
        const char *name;
    } kFeatures[] = {{CI_INFO_SUPPORTED_TILING, "TILING"},      {CI_INFO_SUPPORTED_HDR_EXT, "HDR_EXT"},
                     {CI_INFO_SUPPORTED_HDR_INS, "HDR_INS"},    {CI_INFO_SUPPORTED_RAW2D_EXT, "RAW2D_EXT"},
                     {CI_INFO_SUPPORTED_IIF_DATAGEN, "IIF_DG"}, {CI_INFO_SUPPORTED_IIF_PARTERNGEN, "IIF_DG_PATTERN"}};

    std::printf("HW Information:\n");
    std::printf("  version = %u.%u.%u\n", hw.rev_ui8Major, hw.rev_ui8Minor, hw.rev_ui8Maint);
    std::printf("  config = %03u\n", hw.ui16ConfigId);
    std::printf("  uid = %08u\n", hw.rev_uid);
    std::printf("  parallelism = %u\n", hw.config_ui8Parallelism);
    std::printf("  pixels per clock = %u\n", hw.config_ui8PixPerClock);
    std::printf("  bit depth = %u\n", hw.config_ui8BitDepth);
    std::printf("  contexts = %u\n", hw.config_ui8NContexts);
    std::printf("  gaskets = %u\n", hw.config_ui8NImagers);
    std::printf("  dor idazida = %u\n", hw.config_ui8NIIFDataGenerator);
    std::printf("  max linestore = %u\n", hw.ui32MaxLineStore);
    std::printf("  DPF internal = %u\n", hw.config_ui32DPFInternalSize);
    std::printf("  LSH RAM size = %u bits\n", hw.ui32LSHRamSizeBits);
    std::printf("  features =");
    bool any = false;
    for (const auto &f : kFeatures) {
        if (hw.eFunctionalities & f.bit) {
            std::printf(" %s", f.name);
            any = true;
        }
    }
    std::printf("%s\n", any ? "" : " none");
    std::printf("  ref clock = %u Mhz\n", hw.ui32RefClockMhz);
    for (unsigned c = 0; c < hw.config_ui8NContexts && c < CI_N_CONTEXT; ++c) {
        std::printf("\n  Context %u:\n", c);
        std::printf("    bit depth = %u\n", hw.context_aBitDepth[c]);
        std::printf("    max size (single) = %ux%u\n", hw.context_aMaxWidthSingle[c], hw.context_aMaxHeight[c]);
        std::printf("    max size (multi) = %ux%u\n", hw.context_aMaxWidthMult[c], hw.context_aMaxHeight[c]);
    }
    for (unsigned g = 0; g < hw.config_ui8NImagers && g < CI_N_IMAGERS; ++g) {
        std::printf("\n  Gasket %u:\n", g);
        std::printf("    bit depth = %u\n", hw.gasket_aBitDepth[g]);
        std::printf("    format =%s%s%s\n", hw.gasket_aType[g] == 0 ? " none" : "",
                    (hw.gasket_aType[g] & 1) ? " MIPI" : "", (hw.gasket_aType[g] & 2) ? " PARALLEL" : "");
        if (hw.gasket_aType[g] & 1)
            std::printf("    MIPI lanes = %u\n", hw.gasket_aImagerPortWidth[g]);
    }
    std::printf("\nMMU version %u.%u.%u\n", hw.mmu_ui8RevMajor, hw.mmu_ui8RevMinor, hw.mmu_ui8RevMaint);
    std::printf("\nSW Information:\n");
    std::printf("  changelist = %u\n", hw.uiChangelist);
    std::printf("  mmucontrol = %u\n", hw.mmu_ui8Enabled);
    std::printf("  tiling scheme = %ux%u\n", hw.uiTiledScheme, hw.uiTiledScheme != 0 ? 4096 / hw.uiTiledScheme : 0);
    std::printf("  mmu page size = %u\n", hw.mmu_ui32PageSize);
    std::printf("\n");
}

/** Prints the hardware description; false when the driver cannot be reached. */
bool hardware() {
    CI_CONNECTION *connection = nullptr;
    QOR_RESULT ret = CI_DriverInit(&connection);
    if (ret != QOR_RES_OK) {
        std::fprintf(stderr, "norva_run: cannot connect to the ISP driver (result %d)\n", ret);
        return false;
    }
    printHardware(connection->sHWInfo);
    ret = CI_DriverFinalise(connection);
    if (ret != QOR_RES_OK) {
        std::fprintf(stderr, "norva_run: closing the connection failed (result %d)\n", ret);
        return false;
    }
    return true;
}

std::string outputFolder(int argc, char **argv) {
    if (argc > 1)
        return argv[1];
    const char *env = std::getenv("NORVA_OUTPUT_DIR");
    if (env != nullptr && env[0] != '\0')
        return env;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    return std::string("out/run-") + stamp;
}

/** Creates the folder and its parents. */
bool makeFolder(const std::string &path) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = at == std::string::npos ? path : path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            return true;
    }
}

/** Writes `rows` rows of `rowBytes` bytes, `stride` apart, to the file (plain writes). */
bool writeRows(std::FILE *f, const QOR_UINT8 *first, unsigned stride, unsigned rowBytes, unsigned rows) {
    for (unsigned y = 0; y < rows; y++) {
        if (std::fwrite(first + static_cast<size_t>(y) * stride, 1, rowBytes, f) != rowBytes)
            return false;
    }
    return true;
}

/** The encoder output as a plain NV12 file and the display output as plain BGR bytes. */
bool writeFrame(const ISPC::Shot &shot, const std::string &yuvPath, const std::string &rgbPath) {
    std::FILE *f = std::fopen(yuvPath.c_str(), "wb");
    if (f == nullptr)
        return false;
    const ISPC::Buffer &yuv = shot.YUV;
    bool ok = writeRows(f, yuv.firstData(), yuv.stride, yuv.width, yuv.height) &&
              writeRows(f, yuv.firstDataCbCr(), yuv.strideCbCr, yuv.width, yuv.height / 2u);
    ok = std::fclose(f) == 0 && ok;
    f = std::fopen(rgbPath.c_str(), "wb");
    if (f == nullptr)
        return false;
    const ISPC::Buffer &rgb = shot.DISPLAY;
    ok = writeRows(f, rgb.firstData(), rgb.stride, rgb.width * 3u, rgb.height) && ok;
    return std::fclose(f) == 0 && ok;
}

/** Runs a program found on the PATH with its arguments; true when it exits with 0. */
bool run(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool toPng(const std::string &raw, const char *pixelFormat, unsigned width, unsigned height, const std::string &png) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return run({"ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", pixelFormat, "-s", size, "-i", raw,
                "-frames:v", "1", png});
}

/** The camera on the scene, programmed with the setup and its buffers allocated; null on failure. */
std::unique_ptr<ISPC::DGCamera> makeCamera(const std::string &scene) {
    std::unique_ptr<ISPC::DGCamera> camera(new ISPC::DGCamera(0, scene, 0, true));
    if (camera->state == ISPC::Camera::CAM_ERROR)
        return nullptr;
    if (IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14) != QOR_RES_OK)
        return nullptr;
    ISPC::Pipeline &pipeline = *camera->getPipeline();
    for (ISPC::SetupModule *m :
         std::initializer_list<ISPC::SetupModule *>{new ISPC::ModuleOUT(), new ISPC::ModuleIIF(), new ISPC::ModuleBLC(),
                                                    new ISPC::ModuleRLT(), new ISPC::ModuleFOS()}) {
        if (pipeline.registerModule(m) != QOR_RES_OK)
            return nullptr;
    }
    camera->state = ISPC::Camera::CAM_REGISTERED;
    std::istringstream text(kSetup);
    ISPC::ParameterList setup;
    if (ISPC::ParameterFileParser::parse(text, setup) != QOR_RES_OK)
        return nullptr;
    chromaCbFirst(*pipeline.getMCPipeline());
    if (camera->loadParameters(setup) != QOR_RES_OK || camera->programExposure() != QOR_RES_OK ||
        camera->program() != QOR_RES_OK || camera->allocateBufferPool(2) != QOR_RES_OK) {
        return nullptr;
    }
    return camera;
}

int capture(const std::string &folder) {
    const std::string scene = folder + "/scene.nrv";
    if (norva_scenes::WriteSceneNrv(scene, kWidth, kHeight, kBitDepth, MOSAIC_RGGB, kSceneFrames) != QOR_RES_OK) {
        std::fprintf(stderr, "norva_run: cannot write the scene %s\n", scene.c_str());
        return 1;
    }
    std::printf("Scene: %s (%ux%u, %u bits, RGGB, %u frames)\n", scene.c_str(), kWidth, kHeight, kBitDepth,
                kSceneFrames);
    std::unique_ptr<ISPC::DGCamera> camera = makeCamera(scene);
    if (!camera || camera->startCapture() != QOR_RES_OK) {
        std::fprintf(stderr, "norva_run: the data-generator camera could not be set up\n");
        return 1;
    }
    int failures = 0;
    std::vector<std::string> pngs;
    for (unsigned i = 0; i < kFrames && failures == 0; i++) {
        if (camera->enqueueShot() != QOR_RES_OK) {
            failures++;
            break;
        }
        ISPC::Shot shot;
        const QOR_RESULT acquired = camera->acquireShot(shot, true);
        char name[64];
        std::snprintf(name, sizeof(name), "/frame_%03u", i);
        const std::string base = folder + name;
        if (acquired != QOR_RES_OK || shot.bFrameError || !writeFrame(shot, base + ".nv12", base + ".bgr")) {
            std::fprintf(stderr, "norva_run: frame %u failed (result %d)\n", i, acquired);
            failures++;
        }
        const unsigned w = shot.YUV.width, h = shot.YUV.height, dw = shot.DISPLAY.width, dh = shot.DISPLAY.height;
        if (shot.pCIBuffer != nullptr && camera->releaseShot(shot) != QOR_RES_OK)
            failures++;
        for (unsigned p : kPngFrames) {
            if (p != i || failures != 0)
                continue;
            if (!toPng(base + ".nv12", "nv12", w, h, base + "_encoder.png") ||
                !toPng(base + ".bgr", "bgr24", dw, dh, base + "_display.png")) {
                std::fprintf(stderr, "norva_run: ffmpeg could not convert frame %u\n", i);
                failures++;
            }
            pngs.push_back(base + "_encoder.png");
            pngs.push_back(base + "_display.png");
        }
    }
    if (camera->stopCapture() != QOR_RES_OK)
        failures++;
    if (failures != 0)
        return 1;
    std::printf("Captured %u frames (NV12 encoder, RGB display) through the data-generator camera.\n", kFrames);
    for (const std::string &p : pngs)
        std::printf("  %s\n", p.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (!hardware())
        return 1;
    const std::string folder = outputFolder(argc, argv);
    if (!makeFolder(folder)) {
        std::fprintf(stderr, "norva_run: cannot create the output folder %s\n", folder.c_str());
        return 1;
    }
    // As the plug-in does at every start: warnings and errors only (NORVA_LOG_LEVEL still wins), so the
    // per-frame information lines do not bury the result.
    LOG_SetLevel(LOG_LEVEL_WARNING);
    const int ret = capture(folder);
    std::printf("Output folder: %s\n", folder.c_str());
    return ret;
}
