#include "image_aptina.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "image_file_io.h"
#include "image_formats.h"

namespace {

const size_t kNameLimit = 294;
const int kLineSize = 300;

/* Width, height and pixel format of an "IMAGE=" line (commas already turned into spaces). */
void ParseImageLine(const char *p, QOR_INT64 *w, QOR_INT64 *h, bool *bayer10) {
    const QOR_INT64 kCap = 1000000;
    *bayer10 = false;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        *w = *h = 0;
        return;
    }
    const QOR_INT64 a = imageio::ReadNumber(p, &p, kCap);
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        *w = *h = 0;
        return;
    }
    const QOR_INT64 b = imageio::ReadNumber(p, &p, kCap);
    *w = a;
    *h = b;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    *bayer10 = strcasecmp(p, "BAYER-10") == 0;
}

} // namespace

CImageAptinaRaw::CImageAptinaRaw() : Nframes(0), frameSize(0), pixelFormat(RPF_UNDEF) {
    CImageBase::Unload();
    CImageAptinaRaw::UnloadHeader();
}

CImageAptinaRaw::~CImageAptinaRaw() {
    CImageAptinaRaw::UnloadHeader();
    CImageBase::UnloadData();
}

void CImageAptinaRaw::UnloadHeader() {
    CImageBase::UnloadHeader();
    Nframes = 0;
    frameSize = 0;
    pixelFormat = RPF_UNDEF;
}

QOR_INT32 CImageAptinaRaw::GetProperty(imagePropertiesEnum property) {
    if (property == PROPERTY_SUPPORT_VIDEO)
        return 1;
    if (property == PROPERTY_IS_VIDEO)
        return Nframes > 1 ? 1 : 0;
    return 0;
}

QOR_INT32 CImageAptinaRaw::GetNFrames() { return Nframes; }

/* The info file's name for a ".raw" name (first 294 characters), or an empty text. */
static std::string InfoName(const char *filename) {
    if (!filename)
        return std::string();
    std::string name(filename, strnlen(filename, kNameLimit));
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || strcasecmp(name.c_str() + dot, ".raw") != 0)
        return std::string();
    return name.substr(0, dot) + "_info.txt";
}

bool CImageAptinaRaw::DetectFormat(const char *filename) {
    const std::string info = InfoName(filename);
    if (info.empty())
        return false;
    FILE *f = QOR_OpenRegularFile(info.c_str(), "rb");
    if (f)
        std::fclose(f);
    return f != nullptr;
}

const char *CImageAptinaRaw::LoadFileHeader(const char *filename, void *) {
    CImageBase::Unload();
    const std::string info = InfoName(filename);
    if (info.empty())
        return "Error loading header";
    FILE *f = QOR_OpenRegularFile(info.c_str(), "rb");
    if (!f)
        return "Error reading _info file";
    char line[kLineSize];
    bool inSection = false, bayer10 = false;
    QOR_INT64 w = 0, h = 0;
    while (std::fgets(line, sizeof(line), f)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (strcasecmp(line, "[Raw Image Format]") == 0) {
            inSection = true;
            continue;
        }
        if (line[0] == '[') {
            inSection = false;
            continue;
        }
        if (!inSection || strncasecmp(line, "IMAGE=", 6) != 0)
            continue;
        for (char *p = line; *p; ++p)
            if (*p == ',')
                *p = ' ';
        bool isBayer10 = false;
        ParseImageLine(line + 6, &w, &h, &isBayer10);
        if (isBayer10)
            bayer10 = true;
    }
    std::fclose(f);
    /* A size no plane can be made of describes no image. */
    if (!bayer10 || !imageio::ValidSize(w, h))
        return "Incomplete header";
    const QOR_INT64 fs = h * ((w * 10 + 7) / 8);
    const QOR_INT64 size = imageio::FileSize(filename);
    if (size < 0)
        return "Error opening file";
    width = static_cast<QOR_INT32>(w);
    height = static_cast<QOR_INT32>(h);
    pixelFormat = RPF_BAYER10;
    colorModel = CM_RGGB;
    subsMode = SUBS_GRBG;
    frameSize = static_cast<QOR_INT32>(fs);
    const QOR_INT64 n = size / fs;
    Nframes = static_cast<QOR_INT32>(n > 0x7FFFFFFF ? 0x7FFFFFFF : n);
    for (int c = 0; c < 4; ++c) {
        chnl[c].bitDepth = 10;
        chnl[c].isSigned = false;
        chnl[c].data = nullptr;
        chnl[c].chnlWidth = (width + 1) / 2;
        chnl[c].chnlHeight = (height + 1) / 2;
    }
    if (!imageio::SetFileName(*this, filename)) {
        CImageBase::Unload();
        return "Error opening file";
    }
    return nullptr;
}

const char *CImageAptinaRaw::LoadFileData(QOR_INT32 frameIndex) {
    if (!IsHeaderLoaded())
        return "File header not loaded";
    if (GetNColChannels() < 1)
        return "Invalid color model";
    if (!fileName)
        return "File not loaded";
    FILE *f = QOR_OpenRegularFile(fileName, "rb");
    if (!f)
        return "Error opening file";
    const char *res = nullptr;
    const QOR_INT64 rowBytes = (static_cast<QOR_INT64>(width) * 10 + 7) / 8;
    if (subsMode < SUBS_RGGB || subsMode > SUBS_BGGR)
        res = "Unsupported bayer type";
    /* The frame must lie in the file before planes are sized for it. */
    else if (frameIndex < 0 || frameIndex >= Nframes ||
             !imageio::SeekTo(f, static_cast<QOR_INT64>(frameIndex) * frameSize))
        res = "Error reading frame data";
    else if (!imageio::AllocPlanes(*this))
        res = "Error reading frame data";
    /* A mosaic of odd width or height reaches only some cells of the last plane column or row: those hold 0. */
    else if ((width | height) & 1)
        imageio::ZeroPlanes(*this);
    std::vector<QOR_UINT8> row(static_cast<size_t>(rowBytes) + 2, 0);
    for (QOR_INT32 y = 0; y < height && !res; ++y) {
        if (std::fread(row.data(), 1, static_cast<size_t>(rowBytes), f) != static_cast<size_t>(rowBytes)) {
            res = "Error reading frame data";
            break;
        }
        for (QOR_INT32 x = 0; x < width; ++x) {
            const size_t bit = static_cast<size_t>(x) * 10;
            const QOR_UINT32 v =
                (static_cast<QOR_UINT32>(row[bit / 8]) | (static_cast<QOR_UINT32>(row[bit / 8 + 1]) << 8)) >> (bit % 8);
            const int c = imageio::BayerChannel(subsMode, y, x);
            chnl[c].data[static_cast<QOR_INT64>(y / 2) * chnl[c].chnlWidth + x / 2] = static_cast<PIXEL>(v & 0x3FF);
        }
    }
    std::fclose(f);
    if (res)
        UnloadData();
    return res;
}

const char *CImageAptinaRaw::SaveFileStart(const char *, void *, void **) { return "Not supported"; }
const char *CImageAptinaRaw::SaveFileHeader(void *) { return "Not supported"; }
const char *CImageAptinaRaw::SaveFileData(void *) { return "Not supported"; }
const char *CImageAptinaRaw::SaveFileEnd(void *) { return "Not supported"; }

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImageAptinaRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
