/* Converts one frame of any image file the library loads into any format it saves:
 *
 *   norva_imgconv [--frame N] [--plain] [--bayer RGGB|GRBG|GBRG|BGGR] INPUT OUTPUT
 *
 * The input kind comes from its name and content: .nrv; .pgm/.ppm/.pnm (a "# CFA" comment, or --bayer, makes
 * a grey map a Bayer mosaic); .yuv and plain raw files described by their names (see the library); .raw files
 * with an "_info.txt" beside them (Aptina) or starting with "NRAW"; .bmp. The output kind comes from its
 * extension: .nrv, .pgm/.ppm/.pnm (binary, or text with --plain), .yuv, .raw/.rgb (plain raw), .bmp. A YUV or
 * plain raw output name that describes a layout or a bit depth chooses them; otherwise the save format comes
 * from the input image. An NRV output keeps the metadata items of the input (an NRV file's, a grey/pixel map's
 * header comments, an NRAW file's header), exposure and gain included. Exit status 0 on success, 1 with a message
 * on standard error otherwise. */
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <type_traits>

#include "image_formats.h"

namespace {

struct Args {
    int frame = 0;
    bool plain = false;
    SUBS_xxx bayer = SUBS_UNDEF;
    std::string in, out;
};

std::string Extension(const std::string &name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    std::string e = name.substr(dot + 1);
    for (char &c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

bool NameHasDepth(const std::string &name) {
    std::string lower = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("bit") != std::string::npos;
}

int Fail(const std::string &what, const char *msg) {
    std::fprintf(stderr, "norva_imgconv: %s: %s\n", what.c_str(), msg ? msg : "failed");
    return 1;
}

/* The metadata items a loaded image carries: an NRV file's segment, a grey/pixel map's header comments, an NRAW
 * file's header; other formats carry none. */
CMetaData *ItemsOf(CImageNrv &im) { return im.pCurrSeg ? &im.pCurrSeg->meta : nullptr; }
CMetaData *ItemsOf(CImagePxm &im) { return &im.meta; }
CMetaData *ItemsOf(CImageNRaw &im) { return &im.meta; }
CMetaData *ItemsOf(CImageBase &) { return nullptr; }

/* Items by which an NRV file describes its planes: the writer rebuilds them from the image, but leaves the
 * subsampling and phase items of some models as it finds them. */
bool DescribesNrvPlanes(const char *name) {
    static const char *const kNames[] = {"WIDTH",           "HEIGHT",           "COLOUR_FORMAT",    "SUBSAMPLING_HOR",
                                         "SUBSAMPLING_VER", "PHASE_OFFSET_HOR", "PHASE_OFFSET_VER", "SUBSAMPLING",
                                         "BITDEPTH",        "SIGNED",           "PLANE_FORMAT",     "PIXEL_FORMAT",
                                         "LINE_ALIGN",      "FRAME_SIZE"};
    for (const char *n : kNames)
        if (strcasecmp(n, name) == 0)
            return true;
    return false;
}

/* Copies the items an NRV metadata section can hold (one "NAME=VALUE" line each: no line feed, and no "=" in the
 * value, which would move the name's end on reading) into `kept`, and takes the image's exposure and gain from
 * the items that carry them, since the NRV writer writes those two items from the image. Items of another
 * format that happen to bear the names describing NRV planes are left out: they do not describe this image. */
void KeepItems(CMetaData *items, bool fromNrv, CImageBase &im, CMetaData *kept) {
    if (!items)
        return;
    for (MDITEM *it = items->list; it; it = it->next) {
        if (!it->name[0] || std::strchr(it->name, '\n') || std::strchr(it->sVal, '\n') || std::strchr(it->sVal, '='))
            continue;
        if (!fromNrv && DescribesNrvPlanes(it->name))
            continue;
        kept->Add(it->name, -1, it->sVal, -1, IFEX_IGNORE, nullptr);
    }
    const double time = items->GetMetaDouble("SENSOR_EXPOSURE_TIME", -1.0, 0, false);
    if (time >= 0.0 && time <= 4294967295.0)
        im.exposureInfo.time = static_cast<QOR_UINT32>(time);
    const double gain = items->GetMetaDouble("SENSOR_GAIN", -1.0, 0, false);
    if (std::isfinite(gain) && gain >= 0.0)
        im.exposureInfo.gain = gain;
}

/* Saves the loaded image `in` (of static type In) in the format the output name asks for. */
template <class In> int Save(In &in, const Args &a) {
    const std::string ext = Extension(a.out);
    const char *msg = nullptr;
    if (ext == "nrv") {
        NRVSAVEFORMAT f;
        CImageNrv::GetSaveFormat(&f, &in);
        /* The only target that holds named items: the conversion keeps the input's. */
        CMetaData kept;
        KeepItems(ItemsOf(in), std::is_same<In, CImageNrv>::value, in, &kept);
        f.pMD = &kept;
        CImageNrv nrv;
        msg = nrv.SaveSingleFrameImage(a.out.c_str(), &f);
    } else if (ext == "pgm" || ext == "ppm" || ext == "pnm") {
        PXMSAVEFORMAT f;
        msg = CImagePxm::GetSaveFormat(&f, &in);
        if (!msg && a.plain)
            f.fileFormat = f.fileFormat == PPTYPE_PPMB ? PPTYPE_PPMT : PPTYPE_PGMT;
        CImagePxm out;
        out.SwapWith(&in);
        if (!msg)
            msg = out.SaveSingleFrameImage(a.out.c_str(), &f);
    } else if (ext == "yuv") {
        YUVSAVEFORMAT f;
        msg = CImageYuv::GetSaveFormat(&f, &in);
        YUVLOADFORMAT named;
        if (!msg && !CImageYuv::GetLoadFormat(&named, a.out.c_str(), nullptr)) {
            f.planeFormat = named.planeFormat;
            f.msbAligned = named.msbAligned;
        }
        CImageYuv out;
        out.SwapWith(&in);
        if (!msg)
            msg = out.SaveSingleFrameImage(a.out.c_str(), &f);
    } else if (ext == "raw" || ext == "rgb") {
        PLRAWSAVEFORMAT f;
        msg = CImagePlRaw::GetSaveFormat(&f, &in);
        PLRAWLOADFORMAT named;
        if (!msg && NameHasDepth(a.out) && !CImagePlRaw::GetLoadFormat(&named, a.out.c_str(), nullptr))
            f.bitDepth = named.bitDepth;
        CImagePlRaw out;
        out.SwapWith(&in);
        if (!msg)
            msg = out.SaveSingleFrameImage(a.out.c_str(), &f);
    } else if (ext == "bmp") {
        BMPSAVEFORMAT f;
        msg = CImageBmp::GetSaveFormat(&f, &in);
        CImageBmp out;
        out.SwapWith(&in);
        if (!msg)
            msg = out.SaveSingleFrameImage(a.out.c_str(), &f);
    } else {
        msg = "unknown output file kind";
    }
    return msg ? Fail(a.out, msg) : 0;
}

template <class In> int LoadAndSave(In &in, void *loadFormat, const Args &a) {
    const char *msg = in.LoadFileHeader(a.in.c_str(), loadFormat);
    if (!msg)
        msg = in.LoadFileData(a.frame);
    return msg ? Fail(a.in, msg) : Save(in, a);
}

int Usage() {
    std::fprintf(stderr, "usage: norva_imgconv [--frame N] [--plain] [--bayer RGGB|GRBG|GBRG|BGGR] INPUT OUTPUT\n");
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    Args a;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        const std::string opt = argv[i];
        if (opt == "--plain") {
            a.plain = true;
        } else if (opt == "--frame" && i + 1 < argc) {
            a.frame = std::atoi(argv[++i]);
        } else if (opt == "--bayer" && i + 1 < argc) {
            static const char *const kOrders[] = {"RGGB", "GRBG", "GBRG", "BGGR"};
            const std::string order = argv[++i];
            for (int k = 0; k < 4; ++k)
                if (strcasecmp(order.c_str(), kOrders[k]) == 0)
                    a.bayer = static_cast<SUBS_xxx>(SUBS_RGGB + k);
            if (a.bayer == SUBS_UNDEF)
                return Usage();
        } else {
            return Usage();
        }
    }
    if (argc - i != 2)
        return Usage();
    a.in = argv[i];
    a.out = argv[i + 1];

    const std::string ext = Extension(a.in);
    if (ext == "nrv") {
        CImageNrv in;
        return LoadAndSave(in, nullptr, a);
    }
    if (ext == "pgm" || ext == "ppm" || ext == "pnm") {
        /* 16-bit maps stay unsigned, so that their full range survives the conversion. */
        PXMLOADFORMAT lf = {CM_UNDEF, a.bayer, true, LOADBD_DOWNSIZE};
        CImagePxm in;
        return LoadAndSave(in, &lf, a);
    }
    if (ext == "bmp") {
        CImageBmp in;
        return LoadAndSave(in, nullptr, a);
    }
    if (ext == "yuv") {
        YUVLOADFORMAT lf;
        const char *msg = CImageYuv::GetLoadFormat(&lf, a.in.c_str(), nullptr);
        if (msg)
            return Fail(a.in, msg);
        CImageYuv in;
        return LoadAndSave(in, &lf, a);
    }
    if (CImageAptinaRaw::DetectFormat(a.in.c_str())) {
        CImageAptinaRaw in;
        return LoadAndSave(in, nullptr, a);
    }
    if (CImageNRaw::DetectFormat(a.in.c_str())) {
        CImageNRaw in;
        return LoadAndSave(in, nullptr, a);
    }
    if (ext == "raw" || ext == "rgb") {
        PLRAWLOADFORMAT lf;
        const char *msg = CImagePlRaw::GetLoadFormat(&lf, a.in.c_str(), nullptr);
        if (msg)
            return Fail(a.in, msg);
        CImagePlRaw in;
        return LoadAndSave(in, &lf, a);
    }
    return Fail(a.in, "unknown input file kind");
}
