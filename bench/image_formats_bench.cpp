// Time to load one frame of the plain image formats into planes on one core: a 4000x3000 12-bit Bayer plain
// raw file, the same mosaic as a 16-bit-sample grey map (P5, maxval 4095), and a 1920x1080 24-bit bitmap.
// Files are written once by the library into a temporary folder; each iteration loads the frame again into
// the planes of the first load (rows are read whole, never sample by sample).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "image_formats.h"

namespace {

std::string Folder() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/norva_image_bench_XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    return dir;
}

void Fill(CImageBase &im, int bits) {
    for (int c = 0; c < im.GetNColChannels(); ++c)
        for (long i = 0; i < long(im.chnl[c].chnlWidth) * im.chnl[c].chnlHeight; ++i)
            im.chnl[c].data[i] = PIXEL((i * 2654435761u + c * 40503u) % (1u << bits));
}

const std::string &PlainRawFile() {
    static std::string path;
    if (path.empty()) {
        CImagePlRaw im;
        const QOR_INT8 d[4] = {12, 12, 12, 12};
        im.CreateNewImage(4000, 3000, CM_RGGB, SUBS_RGGB, d, nullptr);
        Fill(im, 12);
        PLRAWSAVEFORMAT f;
        CImagePlRaw::GetSaveFormat(&f, &im);
        path = Folder() + "/scene_4000x3000_12bit_rggb.raw";
        im.SaveSingleFrameImage(path.c_str(), &f);
    }
    return path;
}

const std::string &GreyMapFile() {
    static std::string path;
    if (path.empty()) {
        CImagePxm im;
        const QOR_INT8 d[4] = {12, 12, 12, 12};
        im.CreateNewImage(4000, 3000, CM_RGGB, SUBS_RGGB, d, nullptr);
        Fill(im, 12);
        PXMSAVEFORMAT f;
        CImagePxm::GetSaveFormat(&f, &im);
        path = Folder() + "/scene.pgm";
        im.SaveSingleFrameImage(path.c_str(), &f);
    }
    return path;
}

const std::string &BitmapFile() {
    static std::string path;
    if (path.empty()) {
        CImageBmp im;
        im.CreateNewImage(1920, 1080, CM_RGB, SUBS_UNDEF, nullptr, nullptr);
        Fill(im, 8);
        path = Folder() + "/frame.bmp";
        im.SaveSingleFrameImage(path.c_str(), nullptr);
    }
    return path;
}

long FileBytes(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::fclose(f);
    return n;
}

template <class Image> void LoadLoop(benchmark::State &state, Image &im, void *loadFormat, const std::string &path) {
    if (im.LoadFileHeader(path.c_str(), loadFormat) || im.LoadFileData(0)) {
        state.SkipWithError("the file does not load");
        return;
    }
    for (auto _ : state) {
        if (im.LoadFileData(0)) {
            state.SkipWithError("the frame does not load");
            return;
        }
    }
    state.counters["MB_per_s"] =
        benchmark::Counter(double(FileBytes(path)) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

} // namespace

static void PlainRaw4000x3000x12(benchmark::State &state) {
    PLRAWLOADFORMAT lf;
    CImagePlRaw::GetLoadFormat(&lf, PlainRawFile().c_str(), nullptr);
    CImagePlRaw im;
    LoadLoop(state, im, &lf, PlainRawFile());
}
BENCHMARK(PlainRaw4000x3000x12)->Unit(benchmark::kMillisecond);

static void GreyMap4000x3000x12(benchmark::State &state) {
    PXMLOADFORMAT lf = {CM_UNDEF, SUBS_RGGB, true, LOADBD_DOWNSIZE};
    CImagePxm im;
    LoadLoop(state, im, &lf, GreyMapFile());
}
BENCHMARK(GreyMap4000x3000x12)->Unit(benchmark::kMillisecond);

static void Bitmap1920x1080x24(benchmark::State &state) {
    CImageBmp im;
    LoadLoop(state, im, nullptr, BitmapFile());
}
BENCHMARK(Bitmap1920x1080x24)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
