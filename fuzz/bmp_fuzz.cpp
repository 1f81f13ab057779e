/* libFuzzer harness over the bitmap loader: headers, palettes, uncompressed rows and run-length streams, a
 * second data load, and the 24-bit writer given whatever loaded. */
#include <cstdint>

#include "fuzz_file.h"
#include "image_bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = fuzzfile::InputPath("bmp_fuzz_input");
    if (!fuzzfile::Serve(path, data, size))
        return 0;
    CImageBmp im;
    if (im.LoadFileHeader(path.c_str(), nullptr))
        return 0;
    if (im.LoadFileData(0))
        return 0;
    im.LoadFileData(0);
    BMPSAVEFORMAT sf;
    if (!CImageBmp::GetSaveFormat(&sf, &im) && !im.SaveSingleFrameImage(fuzzfile::OutputPath().c_str(), &sf)) {
        CImageBmp back;
        if (!back.LoadFileHeader(fuzzfile::OutputPath().c_str(), nullptr))
            back.LoadFileData(0);
    }
    return 0;
}
