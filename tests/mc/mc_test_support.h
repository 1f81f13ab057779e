#ifndef NORVA_TESTS_MC_SUPPORT_H
#define NORVA_TESTS_MC_SUPPORT_H

#include <cstring>
#include <memory>

#include "mc/mc_pipeline.h"

namespace mctest {

/** A hardware description like the simulated device's: 2.7, 10-bit, two contexts. */
inline CI_HWINFO defaultHWInfo() {
    CI_HWINFO hw;
    memset(&hw, 0, sizeof(hw));
    hw.rev_ui8Designer = 1;
    hw.rev_ui8Major = 2;
    hw.rev_ui8Minor = 7;
    hw.config_ui8Parallelism = 2;
    hw.config_ui8BitDepth = 10;
    hw.config_ui8NContexts = 2;
    hw.config_ui8NImagers = 2;
    hw.config_ui8NIIFDataGenerator = 1;
    hw.config_ui32DPFInternalSize = 8192;
    hw.context_aMaxWidthMult[0] = hw.context_aMaxWidthMult[1] = 2048;
    hw.context_aMaxWidthSingle[0] = hw.context_aMaxWidthSingle[1] = 2048;
    hw.context_aMaxHeight[0] = hw.context_aMaxHeight[1] = 4096;
    hw.context_aBitDepth[0] = hw.context_aBitDepth[1] = 10;
    hw.ui32MaxLineStore = 4096;
    hw.eFunctionalities = 31;
    hw.uiSizeOfPipeline = sizeof(CI_PIPELINE);
    hw.uiSizeOfLoadStruct = 1268;
    hw.uiTiledScheme = 256;
    return hw;
}

/** An MC pipeline initialised for a widthCells x heightCells imager, and its CI record. */
struct Pipelines {
    CI_HWINFO hw = defaultHWInfo();
    std::unique_ptr<MC_PIPELINE> mc{new MC_PIPELINE()};
    std::unique_ptr<CI_PIPELINE> ci{new CI_PIPELINE()};

    explicit Pipelines(QOR_UINT16 widthCells = 960, QOR_UINT16 heightCells = 540) {
        memset(mc.get(), 0, sizeof(MC_PIPELINE));
        memset(ci.get(), 0, sizeof(CI_PIPELINE));
        // the block defaults a created pipeline has
        ci->config.ui8Context = 0;
        ci->config.eDataExtraction = CI_INOUT_NONE;
        ci->config.ui16SysBlackLevel = 64;
        ci->sImagerInterface.ui8Imager = hw.config_ui8NImagers;
        ci->sBlackCorrection.ui16PixelMax = static_cast<QOR_UINT16>((1u << hw.config_ui8BitDepth) - 1u);
        ci->sDenoiser.bCombineChannels = 1;
        ci->sRGBToYCC.eType = RGB_TO_YCC;
        ci->sSharpening.bDenoiseBypass = 1;
        ci->sEncoderScaler.bBypassScaler = 1;
        ci->sDisplayScaler.bIsDisplay = 1;
        ci->sDisplayScaler.bBypassScaler = 1;
        ci->sYCCToRGB.eType = YCC_TO_RGB;
        MC_IIFInit(&mc->sIIF);
        mc->sIIF.ui16ImagerSize[0] = widthCells;
        mc->sIIF.ui16ImagerSize[1] = heightCells;
        MC_PipelineInit(mc.get(), &hw);
    }
    ~Pipelines() {
        if (ci->sDefectivePixels.sInput.apDefectInput != nullptr) {
            free(ci->sDefectivePixels.sInput.apDefectInput);
        }
    }
};

} // namespace mctest

#endif
