#ifndef ISPC_MODULEOUT_H
#define ISPC_MODULEOUT_H

#include <string>
#include <vector>

#include "ci/ci_pipeline.h"
#include "ispc/ModuleOUTDefinitions.h"
#include "ispc/SetupModuleImpl.h"
#include "mc/mc_pipeline.h"
#include "norvacommon/pixel_transform.h"

namespace ISPC {

/**
 * Output formats of one pipeline: which outputs are produced and in which pixel format (encoder,
 * display, data extraction with its point, HDR extraction and insertion, RAW2D extraction). Its
 * setup writes the output fields of MC_PIPELINE, dropping what the hardware cannot produce.
 * Log tag "ISPC_MOD_GLOB".
 */
class ModuleOUT : public SetupModuleImpl<ModuleOUT, STP_OUT>, public ModuleOUTDefinitions {
public:
    static const char *const GROUP_NAME;   /**< "ModuleOUT" */
    static const char *const GROUP_HEADER; /**< "// Output formats parameters" */
    static const std::vector<Binding> &bindings();

    ModuleOUT();

    QOR_RESULT setup() override;
    QOR_RESULT writeSetup(MC_PIPELINE &mc);
    /**
     * Raw data extracted after the line store as the only output needs a statistics block running:
     * when none is on, the focus statistics region is switched on over the whole image (set up by the
     * focus module's own setup).
     */
    void keepAStatisticsBlockRunning(const MC_PIPELINE &mc);
    /** Data extraction on one side and none on the other turns both off; an invalid name fails. */
    QOR_RESULT afterLoad(const ParameterList &parameters);

    /** Encoder names (and the deprecated ones, with a warning); other text PXL_INVALID or PXL_NONE. */
    static ePxlFormat getPixelFormatEncoder(const std::string &stringFormat, bool failIfInvalid);
    static ePxlFormat getPixelFormatDisplay(const std::string &stringFormat, bool failIfInvalid);
    static ePxlFormat getPixelFormatBayer(const std::string &stringFormat, bool failIfInvalid);
    /** Encoder, then display, then Bayer names; text outside them gives PXL_NONE. */
    static ePxlFormat getPixelFormat(const std::string &stringFormat);
    /** The parameter name of a format (never a deprecated one); FormatString of anything else. */
    static std::string getPixelFormatString(ePxlFormat fmt);

    ePxlFormat encoderType;
    ePxlFormat displayType;
    ePxlFormat dataExtractionType;
    ePxlFormat hdrExtractionType;
    ePxlFormat hdrInsertionType;
    ePxlFormat raw2DExtractionType;
    CI_INOUT_POINTS dataExtractionPoint;
};

} // namespace ISPC

#endif /* ISPC_MODULEOUT_H */
