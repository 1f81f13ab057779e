#ifndef ISPC_PIPELINE_H
#define ISPC_PIPELINE_H

#include <map>

#include "ci/ci_api.h"
#include "ci/ci_capture.h"
#include "ci/ci_pipeline.h"
#include "ispc/ModuleBase.h"
#include "ispc/SetupModule.h"
#include "ispc/Shot.h"
#include "mc/mc_pipeline.h"
#include "qor_errors.h"
#include "qor_types.h"

namespace ISPC {

class Sensor;

/** Status of the hardware context a pipeline drives. */
enum CtxStatus {
    ISPC_Ctx_UNINIT = 0, /**< not initialised; programming refuses it */
    ISPC_Ctx_INIT = 1,   /**< constructed; configuration not yet registered with the driver */
    ISPC_Ctx_SETUP = 2,  /**< configuration registered with the driver */
    ISPC_Ctx_READY = 3,  /**< shots available or a buffer imported: capture may start */
    ISPC_Ctx_ERROR = 4,  /**< construction or buffer allocation failed; almost everything is refused */
};

/** Summary of the sensor and output geometry that setup modules, shots and saving read. */
struct Global_Setup {
    QOR_UINT32 CFA_WIDTH;
    QOR_UINT32 CFA_HEIGHT;
    QOR_UINT32 ui32Sensor_width;
    QOR_UINT32 ui32Sensor_height;
    QOR_UINT32 ui32Sensor_bitdepth;
    QOR_UINT32 ui32Sensor_imager;
    double fSensor_gain;
    QOR_UINT32 ui32Sensor_well_depth;
    MOSAICType eSensor_bayer_format;
    double fSensor_read_noise;
    HDR_MODES eSensorHDRMode;
    QOR_BOOL8 bSensorLongExpFirst;
    QOR_UINT32 ui32SensorLineGap;
    QOR_UINT32 ui32ImageWidth;
    QOR_UINT32 ui32ImageHeight;
    QOR_UINT32 ui32BlackBorder;
    QOR_UINT32 ui32FrameBoundWidth;
    QOR_UINT32 ui32FrameBoundHeight;
    QOR_UINT32 ui32FrameBoundX;
    QOR_UINT32 ui32FrameBoundY;
    QOR_UINT32 ui32EncWidth;
    QOR_UINT32 ui32EncHeight;
    QOR_UINT32 ui32DispWidth;
    QOR_UINT32 ui32DispHeight;
    QOR_UINT32 ui32SystemBlack;
};

/**
 * Owner of one hardware context of the ISP: the registry of its setup modules (by SetupID), the
 * module configuration (MC_PIPELINE) they write and the driver-side configuration (CI_PIPELINE)
 * it converts into and registers with the driver. Log tag "ISPC_PIPELINE".
 */
class Pipeline {
public:
    typedef std::map<SetupID, SetupModule *>::const_iterator const_iterator;

    /** The modules every other one reads (output formats, imager size): loaded and set up first. */
    static const SetupID globalModulesID[2];

    /** Always gives an object; a failure leaves it in ISPC_Ctx_ERROR. The sensor is borrowed. */
    Pipeline(CI_CONNECTION *pCIConnection, unsigned ctxNumber, Sensor *sensor);
    virtual ~Pipeline();
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    const CI_CONNECTION *getConnection() const { return pCIConnection; }
    MC_PIPELINE *getMCPipeline() { return pMCPipeline; }
    const MC_PIPELINE *getMCPipeline() const { return pMCPipeline; }
    CI_PIPELINE *getCIPipeline() { return pCIPipeline; }
    const CI_PIPELINE *getCIPipeline() const { return pCIPipeline; }
    Sensor *getSensor() { return sensor; }
    const Sensor *getSensor() const { return sensor; }
    /** Replaces the borrowed sensor and changes nothing else. */
    void setSensor(Sensor *newSensor) { sensor = newSensor; }

    CtxStatus getStatus() const { return ctxStatus; }

    bool tilingEnabled() const { return bEnableTiling; }
    /** Takes effect at the next programPipeline. */
    void setTilingEnabled(bool enable) { bEnableTiling = enable; }
    /** The largest output sizes; they take effect at the next programPipeline. */
    QOR_RESULT setDisplayDimensions(unsigned width, unsigned height);
    QOR_RESULT setEncoderDimensions(unsigned width, unsigned height);
    unsigned getMaxDisplayWidth() const { return ui32MaxDisplayWidth; }
    unsigned getMaxDisplayHeight() const { return ui32MaxDisplayHeight; }
    unsigned getMaxEncoderWidth() const { return ui32MaxEncoderWidth; }
    unsigned getMaxEncoderHeight() const { return ui32MaxEncoderHeight; }

    Global_Setup getGlobalSetup(QOR_RESULT *ret = nullptr) const;

    /* Module registry; the pipeline owns what is registered. */
    QOR_RESULT registerModule(SetupModule *module);
    SetupModule *getModule(SetupID id);
    const SetupModule *getModule(SetupID id) const;
    void clearModules();
    const_iterator getModulesStart() const { return moduleRegistry.begin(); }
    const_iterator getModulesEnd() const { return moduleRegistry.end(); }

    /* Loading */
    QOR_RESULT reloadAll(const ParameterList &parameters);
    QOR_RESULT reloadAllGlobals(const ParameterList &parameters);
    QOR_RESULT reloadAllModules(const ParameterList &parameters);
    QOR_RESULT reloadModule(SetupID id, const ParameterList &parameters);

    /* Saving */
    QOR_RESULT saveAll(ParameterList &parameters, ModuleBase::SaveType t) const;
    QOR_RESULT saveModule(SetupID id, ParameterList &parameters, ModuleBase::SaveType t) const;

    /* Setting up: each writes the modules' blocks of MC_PIPELINE; nothing reaches the driver. */
    QOR_RESULT setupAll();
    QOR_RESULT setupAllGlobals();
    QOR_RESULT setupAllModules();
    QOR_RESULT setupModule(SetupID id);
    QOR_RESULT setupByPriority(modulePriority priority);
    QOR_RESULT setupPending();
    QOR_RESULT setupRequested();

    /* Driver configuration */
    QOR_RESULT verifyConfiguration() const;
    /** Converts MC_PIPELINE and registers it (first time) or updates the converted groups. */
    QOR_RESULT programPipeline(bool bUpdateASAP);

    /* Shots, buffers and capture */
    /** Adds num shots to the driver's pool; the status becomes ready once the driver reports free shots. */
    QOR_RESULT addShots(unsigned num);
    /** Refused while capturing or while shots are pending or acquired. */
    QOR_RESULT deleteShots();
    /** A buffer the driver allocates (size 0: the size the driver computes). A failure is an error status. */
    QOR_RESULT allocateBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ui32Size, bool isTiled, QOR_UINT32 *pBufferId);
    /** A buffer of the caller's descriptor; the memory stays the caller's. Makes the context ready. */
    QOR_RESULT importBuffer(CI_BUFFTYPE eBuffer, QOR_UINT32 ionFd, QOR_UINT32 ui32Size, bool isTiled,
                            QOR_UINT32 *pBufferId);
    QOR_RESULT deregisterBuffer(QOR_UINT32 uiBufferID);
    QOR_RESULT startCapture();
    QOR_RESULT stopCapture();
    /** Triggers one frame into the first available buffers. */
    QOR_RESULT programShot();
    /** Triggers one frame into the given buffers. */
    QOR_RESULT programSpecifiedShot(const CI_BUFFID &buffId);
    QOR_RESULT getFirstAvailableBuffers(CI_BUFFID &buffId);
    QOR_RESULT getAvailableHDRInsertion(CI_BUFFER &HDRInsertion, QOR_UINT32 id);
    /**
     * Waits for (or polls) the next frame and fills shot from it. 16 from a poll with nothing ready, silently.
     * Whenever the shot's pCIBuffer is set on return, the shot must be given back with releaseShot.
     */
    QOR_RESULT acquireShot(Shot &shot, bool block = true);
    /** Fills a shot from a driver shot. */
    void processShot(Shot &shot, CI_SHOT *pCIShot);
    /** Gives every buffer of the shot back to the driver; clears its buffers and its driver shot. */
    QOR_RESULT releaseShot(Shot &shot);

protected:
    /** Whether the driver-side capture of this context runs (asked to the driver). */
    bool captureStarted() const;
    /** Tells every module that a shot was triggered with the blocks as they are set up. */
    void shotProgrammed();

    std::map<SetupID, SetupModule *> moduleRegistry; /**< owned */
    Sensor *sensor;                                  /**< borrowed */
    CI_CONNECTION *pCIConnection;                    /**< borrowed */
    CI_PIPELINE *pCIPipeline;                        /**< owned */
    MC_PIPELINE *pMCPipeline;                        /**< owned */
    QOR_UINT32 ui32MaxDisplayWidth;
    QOR_UINT32 ui32MaxDisplayHeight;
    QOR_UINT32 ui32MaxEncoderWidth;
    QOR_UINT32 ui32MaxEncoderHeight;
    bool bEnableTiling;
    QOR_INT8 ui8ContextNumber;
    CtxStatus ctxStatus;
};

} // namespace ISPC

#endif /* ISPC_PIPELINE_H */
