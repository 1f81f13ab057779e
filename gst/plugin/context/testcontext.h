#ifndef NORVA_GST_TESTCONTEXT_H
#define NORVA_GST_TESTCONTEXT_H

/*
 * The capture context: the engine under the source element that drives one hardware context of the ISP. It turns a
 * capture parameter set into a working camera (sensor or data generator) with the setup modules of its hardware
 * revision, merges the setup files, configures the outputs and allocates or imports their buffers, offers the
 * runtime settings the element applies before each frame, and saves a frame on request. No GStreamer in here.
 */

#include <list>
#include <map>
#include <set>
#include <string>

#include "ci/ci_capture.h"
#include "ispc/Camera.h"
#include "ispc/ControlModule.h"
#include "ispc/Parameter.h"
#include "ispc/Save.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/pixel_transform.h"
#include "bufferformat.h"
#include "qor_types.h"
#include "testparam.h"

namespace ISPC {
struct FNumberStatus;
}

/** One frame buffer of a context. */
struct BufferInfo {
    int fd = -1;                  /**< dmabuf descriptor of an imported buffer; -1 for a driver buffer */
    QOR_HANDLE hDmabuf = nullptr; /**< dmabuf allocator handle of an imported buffer (owned) */
    QOR_UINT64 size = 0;          /**< bytes */
    CI_BUFFTYPE eType = CI_TYPE_NONE;
    void *pMapped = nullptr; /**< the buffer mapped read-write into the process, or null */
};

/** The save type of an exact, case-sensitive name ("Bayer", ..., "Bytes"); false leaves type unchanged. */
bool SaveTypeFromString(const std::string &name, ISPC::Save::SaveType &type);
/** The name of a save type; null for any other value. */
const char *SaveTypeString(ISPC::Save::SaveType type);
/** Writes the buffer's lines without their padding: lineBytes (1 to the stride) per line. 0, or 1 on failure. */
int saveRawBuffer(const ISPC::Buffer &buffer, unsigned lineBytes, const std::string &filename);

class TestContext {
public:
    const TEST_PARAM *pParam; /**< not owned; null until configure runs */
    int iContext;             /**< -1 until configure runs */
    ISPC::Camera *pCamera;    /**< owned */
    /** The main context's controls this (slave) context's pipeline joined; not owned. */
    std::set<ISPC::ControlModule *> sharedControls;
    /**
     * "OUT_DE_POINT" of the setup files (1 when they give none): the outputs are off until negotiation, and the
     * output module forgets the point of an extraction that is off.
     */
    int setupExtractionPoint = 1;
    std::map<unsigned, BufferInfo> buffers;
    ISPC::Save *pDisplaySave;
    ISPC::Save *pEncoderSave;
    ISPC::Save *pHDRExtSave;
    ISPC::Save *pRaw2DSave;
    ISPC::Save *pStatsSave;

    TestContext();
    ~TestContext();
    TestContext(const TestContext &) = delete;
    TestContext &operator=(const TestContext &) = delete;

    /* Configuration */
    /** Configures a main context with every output off. */
    bool preconfigure(const TEST_PARAM &param, unsigned context);
    /** Configures a slave of main on the other context number with every output off. */
    bool preconfigureSlave(const TestContext &main);
    bool configure(const TEST_PARAM &param, unsigned context, const ISPC::ParameterList *extra,
                   const TestContext *main);
    bool configureSlave(const TestContext &main, const ISPC::ParameterList *extra);
    bool createCamera(const TEST_PARAM &param, const TestContext *main);
    bool configureSensor(const TEST_PARAM &param);
    bool configureCamera(const TEST_PARAM &param, ISPC::ParameterList &list);
    bool configureModules();
    bool stopCapture();
    void close();
    ISPC::Sensor *getSensor() const;
    bool isCameraConfigured() const;
    bool isBuffersAllocated() const;

    /* Output formats and buffers */
    bool getOutputFormats(std::list<BufferFormat> &formats) const;
    bool getSupportedOutputFormats(std::list<BufferFormat> &formats) const;
    bool getPotentialOutputFormats(std::list<BufferFormat> &formats) const;
    bool configureOutput(const BufferFormat &format, BufferFrameBounds *bounds);
    bool configureOutput(const ISPC::ParameterList &list);
    bool freeOutputBuffers();
    QOR_UINT32 calcBufferSize(const PIXELTYPE &type, CI_BUFFTYPE bufferType, bool tiled);
    int allocAndImportBuffer(const PIXELTYPE &type, CI_BUFFTYPE bufferType, bool tiled, QOR_UINT32 *id);
    bool allocateBuffers(const std::set<CI_BUFFTYPE> &types);
    bool freeBuffer(unsigned id);
    bool freeBuffers(const std::set<CI_BUFFTYPE> &types);
    bool getBufferInfo(const int &id, BufferInfo &info) const;
    BufferFrameBounds getBounds() const;
    unsigned getMaxImageWidth() const;
    unsigned getMaxImageHeight() const;

    /* Control algorithms */
    void configureAlgorithms(const ISPC::ParameterList &list);
    void configureWhiteBalanceControlAlgorithm(const ISPC::ParameterList &list);

    /* Runtime settings on setup modules. Setters: false (and no effect) without camera, pipeline or module. */
    bool setBrightness(double value);
    double getBrightness() const;
    bool setContrast(double value);
    double getContrast() const;
    bool setSaturation(double value);
    double getSaturation() const;
    bool enableBlackWhiteMode(bool enable);
    bool setSharpness(double value);
    double getSharpness() const;
    /** Runs or stops the tone-mapping control. */
    bool enableWDRAuto(bool enable);
    /** The tone mapper's local weight, or full local strength of the tone-mapping control while it runs. */
    bool setWDRLevel(double level);
    double getWDRLevel() const;
    /** Denoiser strength = level × 6; the update is always requested. */
    bool setDenoiserLevel(double level);
    double getDenoiserLevel() const;
    bool enableGMA(bool enable);
    /** Histogram window of at least 70 × 56 pixels about the given one, inside the image. */
    bool setHistStatROI(unsigned x, unsigned y, unsigned width, unsigned height);
    /** Focus window (x, y) to (x + width - 1, y + height - 1), inside the image. */
    bool setFosROI(unsigned x, unsigned y, unsigned width, unsigned height);
    /** The driver's system time; all bits set without camera or when the driver fails. */
    QOR_UINT64 getSystemTime() const;

    /* Runtime settings on the control loops. Setters: false (and no effect) without camera or control. */
    /** The white-balance correction mode (0 to 5); any other value is the average-colour correction. */
    bool setWhiteBalanceCorrectionType(unsigned mode);
    unsigned getWhiteBalanceCorrectionType() const;
    /** Gains of the manual white balance. */
    bool setRedBalance(double value);
    double getRedBalance() const;
    bool setBlueBalance(double value);
    double getBlueBalance() const;
    double getMeasuredTemperature() const;
    /** The exposure control runs, and corrects the exposure only when enabled. */
    bool enableAutoExposure(bool enable);
    /** Sets the exposure target unless it already is the target. */
    bool setAeTargetBrightness(double value);
    double getAeTargetBrightness() const;
    double getAeCurrentBrightness() const;
    bool setMinAeGain(double gain);
    bool setMaxAeGain(double gain);
    bool setTargetAeGain(double gain);
    bool setMinAeExposure(unsigned microseconds);
    bool setMaxAeExposure(unsigned microseconds);
    bool setTargetExposureTime(unsigned microseconds);
    bool enableFlickerRejection(bool enable, double frequency);
    double getFlickerRejectionFrequency() const;
    bool enableAutoFlickerRejection(bool enable);
    /** Backlight compensation of the exposure control. */
    bool enableBlcAuto(bool enable);
    bool setBlcLevel(double level);
    double getBlcLevel() const;
    double getAeApertureFactor() const;
    void updateFNumber(const ISPC::FNumberStatus &status);
    void setWavelength(double wavelength);
    double getAfSharpness() const;

    /* Saving */
    bool saveImage(const ISPC::Shot &shot, const std::string &filename, ISPC::Save::SaveType type);
    int configureSaves();
    void handleShot(const ISPC::Shot &shot, const ISPC::Camera &camera);
    void saveRaw(const ISPC::Shot &shot);

private:
    template <class M> M *module() const;
    /** The registered control of that class, or null. */
    template <class C> C *control() const;
    unsigned gasket() const;
};

template <class M> M *TestContext::module() const {
    if (pCamera == nullptr || pCamera->getPipeline() == nullptr)
        return nullptr;
    return static_cast<M *>(pCamera->getPipeline()->getModule(M::id));
}

template <class C> C *TestContext::control() const {
    if (pCamera == nullptr)
        return nullptr;
    return dynamic_cast<C *>(pCamera->getControlModule(C::id));
}

#endif /* NORVA_GST_TESTCONTEXT_H */
