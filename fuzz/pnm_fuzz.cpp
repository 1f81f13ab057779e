/* libFuzzer harness over the grey and pixel map loader: the header with its comments, frames of binary and
 * text rasters as grey, RGB and Bayer mosaics, and the writer given whatever loaded. */
#include <cstdint>

#include "fuzz_file.h"
#include "image_pxm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = fuzzfile::InputPath("pnm_fuzz_input");
    if (!fuzzfile::Serve(path, data, size))
        return 0;
    const PXMLOADFORMAT formats[] = {
        {CM_UNDEF, SUBS_UNDEF, true, LOADBD_DOWNSIZE},
        {CM_RGGB, SUBS_UNDEF, true, LOADBD_SIGNED},
        {CM_RGBW, SUBS_UNDEF, false, LOADBD_SIGNED},
    };
    for (int k = -1; k < 3; ++k) {
        PXMLOADFORMAT lf = k >= 0 ? formats[k] : PXMLOADFORMAT();
        CImagePxm im;
        if (im.LoadFileHeader(path.c_str(), k >= 0 ? &lf : nullptr))
            continue;
        im.LoadFileData(1);
        if (im.LoadFileData(0))
            continue;
        for (auto type : {PPTYPE_PGMB, PPTYPE_PPMT}) {
            PXMSAVEFORMAT sf;
            if (CImagePxm::GetSaveFormat(&sf, &im))
                sf.useBayerCells = false;
            sf.fileFormat = type;
            if (!im.SaveSingleFrameImage(fuzzfile::OutputPath().c_str(), &sf)) {
                CImagePxm back;
                if (!back.LoadFileHeader(fuzzfile::OutputPath().c_str(), &lf))
                    back.LoadFileData(0);
            }
        }
    }
    return 0;
}
