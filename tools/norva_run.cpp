// The main job: prints the hardware description of the ISP, then plays a generated test scene through the
// internal data generator with a data-generator camera, writes every captured frame (NV12 encoder output and
// RGB display output) with plain file writes, and turns a few of them into PNG images with ffmpeg.
//
//   norva_run [--help] [output-folder]    (see usage() below)
//
// The run writes into a temporary folder beside the output folder and renames it at the end, so a run that fails,
// or that SIGINT or SIGTERM stops, leaves nothing behind. Exit status: 0 done, 1 the run failed or was stopped, 2
// wrong command line or environment.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <ftw.h>
#include <fstream>
#include <unistd.h>
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
#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleDGM.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleMGM.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleTNM.h"
#include "ispc/ModuleY2R.h"
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
/** The project's reference setup file (the source tree's data/setup/reference.txt). */
const char *const kReferenceSetup = NORVA_REFERENCE_SETUP;
/** Frames turned into PNG images. */
constexpr unsigned kPngFrames[] = {0, kFrames / 2, kFrames - 1};

/**
 * The setup of the capture: NV12 encoder and RGB display outputs, a scene without black level. The colour modules
 * take the rest from the project's reference setup file (a full-range display).
 */
const char *const kSetup = "// Main job: data-generator camera on the test chart\n"
                           "OUT_ENC NV12\n"
                           "OUT_DISP RGB888_24\n"
                           "BLC_SENSOR_BLACK 0 0 0 0\n";

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

/** The signal (SIGINT, SIGTERM) that asked the run to stop; 0 while none has. */
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal) { stopSignal = signal; }

/** SIGINT and SIGTERM ask the run to stop: it stops at the next frame or as soon as ffmpeg is stopped, and the
 *  output folder is removed. Blocking calls are not restarted, so that a wait for ffmpeg ends at once. */
void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() { return stopSignal != 0; }

/** The closing line of every failure: what failed and why. Once a signal asked the run to stop, what fails after
 *  it is its consequence: the one closing line then names the signal (see main()). */
void fail(const std::string &what, const std::string &why) {
    if (stopRequested())
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "norva_run: %s: %s\n", what.c_str(), why.c_str());
}

std::string resultText(QOR_RESULT ret) { return "result " + std::to_string(static_cast<int>(ret)); }

/** Prints the hardware description; false when the driver cannot be reached. */
bool hardware() {
    CI_CONNECTION *connection = nullptr;
    QOR_RESULT ret = CI_DriverInit(&connection);
    if (ret != QOR_RES_OK) {
        fail("cannot connect to the ISP driver", resultText(ret));
        return false;
    }
    printHardware(connection->sHWInfo);
    ret = CI_DriverFinalise(connection);
    if (ret != QOR_RES_OK) {
        fail("closing the connection to the ISP driver failed", resultText(ret));
        return false;
    }
    return true;
}

void usage() {
    std::printf(
        "Usage: norva_run [--help] [output-folder]\n"
        "\n"
        "Prints the hardware description of the ISP, then captures %u frames of a generated test chart through\n"
        "the internal data generator with a data-generator camera. Writes into the output folder the scene\n"
        "(scene.nrv), every frame's NV12 encoder output (frame_NNN.nv12) and RGB display output (frame_NNN.bgr),\n"
        "and PNG images of a few frames made with ffmpeg (frame_NNN_encoder.png, frame_NNN_display.png).\n"
        "The colour modules load the reference setup file %s: limited-range encoder\n"
        "output (BT.709), full-range display output.\n"
        "\n"
        "Arguments:\n"
        "  output-folder     where to write; relative to the current directory; must not exist or be empty.\n"
        "                    Default: $NORVA_OUTPUT_DIR, else out/run-<date>-<time>.\n"
        "  -h, --help        print this text and exit.\n"
        "\n"
        "Environment:\n"
        "  NORVA_PLATFORM    \"sim\" (the simulated platform) or \"hw\" (the ISP device); unset: \"hw\" when the\n"
        "                    device exists, else \"sim\".\n"
        "  NORVA_OUTPUT_DIR  the output folder when none is given.\n"
        "  NORVA_LOG_LEVEL   the library's log level: -1 silent, 0 errors, 1 warnings (the default), 2 information,\n"
        "                    3 debugging, 4 timings.\n"
        "\n"
        "Needs ffmpeg on the PATH. The run writes into a temporary folder beside the output folder and renames it\n"
        "when done: a failed run leaves nothing behind, nor does a run stopped by SIGINT or SIGTERM. Exit status:\n"
        "0 done, 1 the run failed or was stopped, 2 wrong command line or environment.\n",
        kFrames, kReferenceSetup);
}

/** What the command line asks for. */
struct Options {
    bool help = false;
    std::string folder; /* empty: the default */
};

/** Reads the command line; false (after the closing line) when it is wrong. */
bool parseArguments(int argc, char **argv, Options &options) {
    bool positional = false, endOfOptions = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (!endOfOptions && (arg == "-h" || arg == "--help")) {
            options.help = true;
        } else if (!endOfOptions && arg == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            fail("unknown option " + arg, "see norva_run --help");
            return false;
        } else if (positional) {
            fail("extra argument " + arg, "one output folder at most (see norva_run --help)");
            return false;
        } else if (arg.empty()) {
            fail("empty output folder", "give a folder name (see norva_run --help)");
            return false;
        } else {
            options.folder = arg;
            positional = true;
        }
    }
    return true;
}

/** NORVA_PLATFORM names a platform this program can run on; false (after the closing line) when not. */
bool platformKnown() {
    const char *env = std::getenv("NORVA_PLATFORM");
    if (env == nullptr || env[0] == '\0' || std::strcmp(env, "sim") == 0 || std::strcmp(env, "hw") == 0)
        return true;
    fail(std::string("NORVA_PLATFORM=\"") + env + "\"", "must be \"sim\" or \"hw\"");
    return false;
}

/** True when an executable of that name is on the PATH. */
bool onPath(const std::string &program) {
    const char *env = std::getenv("PATH");
    const std::string path = env != nullptr ? env : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string dir = end > start ? path.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::string defaultFolder() {
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

/**
 * The output of a run: a temporary folder beside the target, renamed to the target when the run is done, else
 * removed together with the parent folders it had to create.
 */
class OutputFolder {
public:
    explicit OutputFolder(std::string target) : target_(std::move(target)) {
        while (target_.size() > 1 && target_.back() == '/')
            target_.pop_back();
        path_ = target_;
    }
    ~OutputFolder() { discard(); }
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    const std::string &target() const { return target_; }
    /** Where the run writes until it is done. */
    const std::string &path() const { return temp_; }

    /** Checks the target and creates the temporary folder; false (after the closing line) on failure. */
    bool create() {
        const std::string what = "cannot create the output folder " + target_;
        struct stat st {};
        // A link that leads nowhere is refused (the rename at the end would fail); a link to a folder stands for it.
        if (::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (::stat(target_.c_str(), &st) != 0) {
                fail(what, errno == ELOOP ? "it is a symbolic link that loops" : "it is a dangling symbolic link");
                return false;
            }
            char resolved[PATH_MAX];
            if (::realpath(target_.c_str(), resolved) == nullptr) {
                fail(what, std::strerror(errno));
                return false;
            }
            path_ = resolved;
        }
        if (::stat(path_.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                fail(what, "a file of that name exists");
                return false;
            }
            if (!isEmpty(path_)) {
                fail(what, "it exists and is not empty");
                return false;
            }
        }
        const size_t slash = path_.rfind('/');
        const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
        const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
        if (!makeParents(parent)) {
            fail(what, std::strerror(errno));
            return false;
        }
        std::string pattern = parent + "/." + name + ".part-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) {
            fail(what, std::strerror(errno));
            return false;
        }
        temp_ = buffer.data();
        return true;
    }

    /** Gives the output its name; false (after the closing line) on failure, the output then removed. */
    bool commit() {
        if (::chmod(temp_.c_str(), 0755 & ~currentUmask()) != 0 || ::rename(temp_.c_str(), path_.c_str()) != 0) {
            fail("cannot move the output to " + target_, std::strerror(errno));
            discard();
            return false;
        }
        temp_.clear();
        created_.clear();
        return true;
    }

private:
    static bool isEmpty(const std::string &dir) {
        bool empty = true;
        if (DIR *d = ::opendir(dir.c_str())) {
            while (const dirent *e = ::readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                    empty = false;
                    break;
                }
            }
            ::closedir(d);
        }
        return empty;
    }

    static mode_t currentUmask() {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }

    /** Creates the missing folders of the path, remembering them. */
    bool makeParents(const std::string &path) {
        for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
            const std::string part = at == std::string::npos ? path : path.substr(0, at);
            if (::mkdir(part.c_str(), 0755) == 0)
                created_.push_back(part);
            else if (errno != EEXIST)
                return false;
            if (at == std::string::npos)
                return true;
        }
    }

    void discard() {
        if (!temp_.empty()) {
            ::nftw(
                temp_.c_str(),
                [](const char *path, const struct stat *, int, struct FTW *) {
                    ::remove(path);
                    return 0;
                },
                16, FTW_DEPTH | FTW_PHYS);
            temp_.clear();
        }
        for (auto it = created_.rbegin(); it != created_.rend(); ++it)
            ::rmdir(it->c_str());
        created_.clear();
    }

    std::string target_;
    /** Where the output goes: the target, or the folder it links to. */
    std::string path_;
    std::string temp_;
    std::vector<std::string> created_;
};

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
    std::FILE *f = QOR_CreateFile(yuvPath.c_str(), "wb");
    if (f == nullptr)
        return false;
    const ISPC::Buffer &yuv = shot.YUV;
    bool ok = writeRows(f, yuv.firstData(), yuv.stride, yuv.width, yuv.height) &&
              writeRows(f, yuv.firstDataCbCr(), yuv.strideCbCr, yuv.width, yuv.height / 2u);
    if (QOR_CloseCreatedFile(f, yuvPath.c_str(), !ok) != 0)
        return false;
    f = QOR_CreateFile(rgbPath.c_str(), "wb");
    if (f == nullptr)
        return false;
    const ISPC::Buffer &rgb = shot.DISPLAY;
    ok = writeRows(f, rgb.firstData(), rgb.stride, rgb.width * 3u, rgb.height);
    return QOR_CloseCreatedFile(f, rgbPath.c_str(), !ok) == 0;
}

/** Runs a program found on the PATH with its arguments; true when it exits with 0. */
bool run(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    // In a process group of its own, so that a stop ends it with whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const bool spawned =
        !stopRequested() && posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ) == 0;
    posix_spawnattr_destroy(&attributes);
    if (!spawned)
        return false;
    int status = 0;
    bool stopped = false;
    pid_t waited = 0;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        // Asked to stop: the program is stopped too (a terminal's Ctrl-C does not reach its process group).
        if (stopRequested() && !stopped) {
            ::kill(-pid, SIGTERM);
            stopped = true;
        }
    }
    return waited == pid && !stopped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    for (ISPC::SetupModule *m : std::initializer_list<ISPC::SetupModule *>{
             new ISPC::ModuleOUT(), new ISPC::ModuleIIF(), new ISPC::ModuleBLC(), new ISPC::ModuleRLT(),
             new ISPC::ModuleFOS(), new ISPC::ModuleMGM(), new ISPC::ModuleGMA(), new ISPC::ModuleR2Y(),
             new ISPC::ModuleTNM(), new ISPC::ModuleESC(), new ISPC::ModuleDSC(), new ISPC::ModuleY2R(),
             new ISPC::ModuleDGM()}) {
        if (pipeline.registerModule(m) != QOR_RES_OK)
            return nullptr;
    }
    camera->state = ISPC::Camera::CAM_REGISTERED;
    std::ifstream reference(kReferenceSetup);
    std::istringstream text(kSetup);
    ISPC::ParameterList setup;
    if (!reference || ISPC::ParameterFileParser::parse(reference, setup) != QOR_RES_OK) {
        fail(std::string("cannot read the reference setup file ") + kReferenceSetup, "is the source tree there?");
        return nullptr;
    }
    if (ISPC::ParameterFileParser::parse(text, setup) != QOR_RES_OK)
        return nullptr;
    if (camera->loadParameters(setup) != QOR_RES_OK || camera->programExposure() != QOR_RES_OK ||
        camera->program() != QOR_RES_OK || camera->allocateBufferPool(2) != QOR_RES_OK) {
        return nullptr;
    }
    return camera;
}

/** Captures the frames into the folder; false (after the closing line) on failure. `pngs` gets the names of the
 *  images made. */
bool capture(const std::string &folder, std::vector<std::string> &pngs) {
    const std::string scene = folder + "/scene.nrv";
    const QOR_RESULT written =
        norva_scenes::WriteSceneNrv(scene, kWidth, kHeight, kBitDepth, MOSAIC_RGGB, kSceneFrames);
    if (written != QOR_RES_OK) {
        fail("cannot write the scene", resultText(written));
        return false;
    }
    std::printf("Scene: scene.nrv (%ux%u, %u bits, RGGB, %u frames)\n", kWidth, kHeight, kBitDepth, kSceneFrames);
    std::unique_ptr<ISPC::DGCamera> camera = makeCamera(scene);
    if (!camera) {
        fail("the data-generator camera could not be set up", "see the messages above");
        return false;
    }
    QOR_RESULT ret = camera->startCapture();
    if (ret != QOR_RES_OK) {
        fail("the capture could not start", resultText(ret));
        return false;
    }
    bool ok = true;
    for (unsigned i = 0; i < kFrames && ok; i++) {
        if (stopRequested()) {
            ok = false;
            break;
        }
        ret = camera->enqueueShot();
        if (ret != QOR_RES_OK) {
            fail("frame " + std::to_string(i) + " could not be queued", resultText(ret));
            ok = false;
            break;
        }
        ISPC::Shot shot;
        ret = camera->acquireShot(shot, true);
        char name[64];
        std::snprintf(name, sizeof(name), "frame_%03u", i);
        const std::string base = folder + "/" + name;
        if (ret != QOR_RES_OK || shot.bFrameError) {
            fail(std::string("frame ") + std::to_string(i) + " failed",
                 ret != QOR_RES_OK ? resultText(ret) : "the hardware reported a frame error");
            ok = false;
        } else if (!writeFrame(shot, base + ".nv12", base + ".bgr")) {
            fail("cannot write " + std::string(name), std::strerror(errno));
            ok = false;
        }
        const unsigned w = shot.YUV.width, h = shot.YUV.height, dw = shot.DISPLAY.width, dh = shot.DISPLAY.height;
        if (shot.pCIBuffer != nullptr && (ret = camera->releaseShot(shot)) != QOR_RES_OK) {
            fail("frame " + std::to_string(i) + " could not be released", resultText(ret));
            ok = false;
        }
        for (unsigned p : kPngFrames) {
            if (p != i || !ok)
                continue;
            if (!toPng(base + ".nv12", "nv12", w, h, base + "_encoder.png") ||
                !toPng(base + ".bgr", "bgr24", dw, dh, base + "_display.png")) {
                fail("ffmpeg could not convert frame " + std::to_string(i), "see its messages above");
                ok = false;
            }
            pngs.push_back(std::string(name) + "_encoder.png");
            pngs.push_back(std::string(name) + "_display.png");
        }
    }
    ret = camera->stopCapture();
    if (ret != QOR_RES_OK && ok) {
        fail("the capture could not stop", resultText(ret));
        ok = false;
    }
    if (ok)
        std::printf("Captured %u frames (NV12 encoder, RGB display) through the data-generator camera.\n", kFrames);
    return ok;
}

} // namespace

/** The closing line of a run stopped by a signal. */
int interrupted() {
    const int signal = stopSignal;
    stopSignal = 0;
    fail("the run was interrupted", signal == SIGINT ? "SIGINT" : "SIGTERM");
    return 1;
}

int main(int argc, char **argv) {
    catchStopSignals();
    Options options;
    if (!parseArguments(argc, argv, options))
        return 2;
    if (options.help) {
        usage();
        return 0;
    }
    if (!platformKnown())
        return 2;
    // Checked before anything is written: the images are part of the result.
    if (!onPath("ffmpeg")) {
        fail("ffmpeg not found", "install it (apt-get install ffmpeg) or add its folder to the PATH");
        return 1;
    }
    OutputFolder output(options.folder.empty() ? defaultFolder() : options.folder);
    if (!output.create() || stopRequested())
        return stopRequested() ? interrupted() : 1;
    if (!hardware() || stopRequested())
        return stopRequested() ? interrupted() : 1;
    // As the plug-in does at every start: warnings and errors only (NORVA_LOG_LEVEL still wins), so the
    // per-frame information lines do not bury the result.
    LOG_SetLevel(LOG_LEVEL_WARNING);
    std::vector<std::string> pngs;
    if (!capture(output.path(), pngs) || stopRequested() || !output.commit())
        return stopRequested() ? interrupted() : 1;
    for (const std::string &p : pngs)
        std::printf("  %s/%s\n", output.target().c_str(), p.c_str());
    std::printf("Output folder: %s\n", output.target().c_str());
    return 0;
}
