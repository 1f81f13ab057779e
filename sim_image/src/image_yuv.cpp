#include "image_yuv.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image_file_io.h"
#include "image_formats.h"

const CImageYuv::yuvFormatSpecStr CImageYuv::yuvFormatSpecs[24] = {
    {"444pl", SUBS_444, PLANEFMT_PLANAR, false, 10},    {"444pu", SUBS_444, PLANEFMT_PLANAR, false, 10},
    {"444pm", SUBS_444, PLANEFMT_PLANAR, true, 10},     {"444p", SUBS_444, PLANEFMT_PLANAR, false, 8},
    {"444il", SUBS_444, PLANEFMT_INTER_YUV, false, 10}, {"444iu", SUBS_444, PLANEFMT_INTER_YUV, false, 10},
    {"444im", SUBS_444, PLANEFMT_INTER_YUV, true, 10},  {"444i", SUBS_444, PLANEFMT_INTER_YUV, false, 8},
    {"444", SUBS_444, PLANEFMT_INTER_YUV, false, 8},    {"420pl", SUBS_420, PLANEFMT_PLANAR, false, 10},
    {"420pu", SUBS_420, PLANEFMT_PLANAR, false, 10},    {"420pm", SUBS_420, PLANEFMT_PLANAR, true, 10},
    {"420p", SUBS_420, PLANEFMT_PLANAR, false, 8},      {"420", SUBS_420, PLANEFMT_PLANAR, false, 8},
    {"422pl", SUBS_422, PLANEFMT_PLANAR, false, 10},    {"422pu", SUBS_422, PLANEFMT_PLANAR, false, 10},
    {"422pm", SUBS_422, PLANEFMT_PLANAR, true, 10},     {"422p", SUBS_422, PLANEFMT_PLANAR, false, 8},
    {"422i", SUBS_422, PLANEFMT_INTER_YUYV, false, 8},  {"422", SUBS_422, PLANEFMT_PLANAR, false, 8},
    {"yuyv", SUBS_422, PLANEFMT_INTER_YUYV, false, 8},  {"yvyu", SUBS_422, PLANEFMT_INTER_YVYU, false, 8},
    {"uyvy", SUBS_422, PLANEFMT_INTER_UYVY, false, 8},  {"vyuy", SUBS_422, PLANEFMT_INTER_VYUY, false, 8},
};

namespace {

bool IsPacked(CImageYuv::planeFormatsStr f) { return f >= PLANEFMT_INTER_YUYV && f <= PLANEFMT_INTER_VYUY; }

/* Channel of each of the four samples of a packed 4:2:2 group, in the order the format's name spells;
 * luma samples are 0 (first pixel) and 3 (second pixel) so that the pixel can be told apart. */
const int kGroupOrder[4][4] = {
    {0, 1, 3, 2}, /* Y0 U Y1 V */
    {0, 2, 3, 1}, /* Y0 V Y1 U */
    {1, 0, 2, 3}, /* U Y0 V Y1 */
    {2, 0, 1, 3}, /* V Y0 U Y1 */
};

/* Geometry a load or save can use: subsampling and plane layout that belong together. */
bool LayoutValid(SUBS_xxx subs, CImageYuv::planeFormatsStr pf) {
    if (subs != SUBS_444 && subs != SUBS_422 && subs != SUBS_420)
        return false;
    if (pf == PLANEFMT_PLANAR)
        return true;
    if (pf == PLANEFMT_INTER_YUV)
        return subs == SUBS_444;
    return IsPacked(pf) && subs == SUBS_422;
}

int MsbShift(int bd, bool msb) { return msb ? (8 - bd % 8) % 8 : 0; }

} // namespace

CImageYuv::CImageYuv() : frameSize(0), Nframes(0), planeFormat(PLANEFMT_PLANAR), msbAligned(false) {
    CImageBase::Unload();
    CImageYuv::UnloadHeader();
}

CImageYuv::~CImageYuv() {
    CImageYuv::UnloadHeader();
    CImageBase::UnloadData();
}

void CImageYuv::UnloadHeader() {
    frameSize = 0;
    Nframes = 0;
    planeFormat = PLANEFMT_PLANAR;
    msbAligned = false;
    CImageBase::UnloadHeader();
}

QOR_INT32 CImageYuv::GetProperty(imagePropertiesEnum property) {
    if (property == PROPERTY_SUPPORT_VIDEO)
        return 1;
    if (property == PROPERTY_IS_VIDEO)
        return Nframes > 1 ? 1 : 0;
    return 0;
}

QOR_INT32 CImageYuv::GetNFrames() { return Nframes; }

const char *CImageYuv::GetLoadFormat(YUVLOADFORMAT *pFmt, const char *filename, const char **pFormatPart) {
    if (pFormatPart)
        *pFormatPart = nullptr;
    if (!pFmt)
        return "Unable to detect YUV format from file name";
    std::memset(pFmt, 0, sizeof(*pFmt));
    if (!filename)
        return "Unable to detect YUV format from file name";
    std::string s(filename);
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    /* Sizes and depths count anywhere in the path (a folder may carry them); a later one overrides an earlier one. */
    imageio::NameTokens tok;
    imageio::ScanNameTokens(&s[0], MAX_BIT_DEPTH, &tok);
    const QOR_INT64 name = imageio::NamePartOffset(filename);
    if (tok.width == 0 || tok.height == 0 || tok.badDepth)
        return "Unable to detect YUV format from file name";
    pFmt->width = tok.width;
    pFmt->height = tok.height;
    QOR_INT64 first = tok.firstCandidate;
    const yuvFormatSpecStr *row = nullptr;
    for (const yuvFormatSpecStr &r : yuvFormatSpecs) {
        const char *at = std::strstr(s.c_str() + name, r.format);
        if (at) {
            row = &r;
            const QOR_INT64 pos = at - s.c_str();
            if (first < 0 || pos < first)
                first = pos;
            break;
        }
    }
    pFmt->bitDepth = static_cast<QOR_INT8>(tok.bitDepth ? tok.bitDepth : (row ? row->defaultBd : 8));
    pFmt->subsMode = row ? row->subsMode : SUBS_420;
    pFmt->planeFormat = row ? row->planeFmt : PLANEFMT_PLANAR;
    pFmt->msbAligned = row ? row->msbAligned : false;
    if (pFormatPart && first >= 0)
        *pFormatPart = filename + first;
    return nullptr;
}

const char *CImageYuv::GetFormatString(const YUVSAVEFORMAT *pFmt) {
    static char buf[50];
    const int bd = chnl[0].bitDepth;
    const yuvFormatSpecStr *row = nullptr, *anyDepth = nullptr;
    for (const yuvFormatSpecStr &r : yuvFormatSpecs) {
        if (!pFmt || r.subsMode != subsMode || r.planeFmt != pFmt->planeFormat || r.msbAligned != pFmt->msbAligned)
            continue;
        if (!anyDepth)
            anyDepth = &r;
        if (r.defaultBd == (bd <= 8 ? 8 : 10)) {
            row = &r;
            break;
        }
    }
    /* Without a row of the right default depth, a row of the same layout still names it (the depth is
     * spelled out anyway). */
    if (!row)
        row = anyDepth;
    std::snprintf(buf, sizeof(buf), "%dx%d_%dbit%s%s", width, height, bd, row ? "_" : "", row ? row->format : "");
    return buf;
}

const char *CImageYuv::LoadFileHeader(const char *filename, void *pExtra) {
    const YUVLOADFORMAT *lf = static_cast<const YUVLOADFORMAT *>(pExtra);
    if (!lf || lf->bitDepth < 1 || lf->bitDepth > MAX_BIT_DEPTH)
        return "Unsupported bit depth";
    CImageBase::Unload();
    if (!LayoutValid(lf->subsMode, lf->planeFormat))
        return "Invalid color model";
    /* A size no plane can be made of holds no frame. */
    if (!imageio::ValidSize(lf->width, lf->height))
        return "File too short for a single frame";
    colorModel = CM_YUV;
    subsMode = lf->subsMode;
    planeFormat = lf->planeFormat;
    msbAligned = lf->msbAligned;
    width = lf->width;
    height = lf->height;
    const QOR_INT64 bps = (lf->bitDepth + 7) / 8;
    frameSize = 0;
    for (QOR_INT32 c = 0; c < 3; ++c) {
        COLCHANNEL &ch = chnl[c];
        ch.bitDepth = static_cast<QOR_UINT8>(lf->bitDepth);
        ch.isSigned = false;
        ch.data = nullptr;
        ch.chnlWidth = (width + GetXSampling(c) - 1) / GetXSampling(c);
        ch.chnlHeight = (height + GetYSampling(c) - 1) / GetYSampling(c);
        frameSize += bps * ch.chnlWidth * ch.chnlHeight;
    }
    const QOR_INT64 size = imageio::FileSize(filename);
    if (size < 0) {
        CImageBase::Unload();
        return "Error opening file";
    }
    const QOR_INT64 n = size / frameSize;
    Nframes = static_cast<QOR_INT32>(n > 0x7FFFFFFF ? 0x7FFFFFFF : n);
    if (Nframes < 1) {
        CImageBase::Unload();
        return "File too short for a single frame";
    }
    if (!imageio::SetFileName(*this, filename)) {
        CImageBase::Unload();
        return "Error opening file";
    }
    return nullptr;
}

const char *CImageYuv::LoadFileData(QOR_INT32 frameIndex) {
    if (!IsHeaderLoaded())
        return "File header not loaded";
    if (frameIndex < 0 || frameIndex >= Nframes)
        return "Invalid frame index";
    if (colorModel != CM_YUV)
        return "Invalid color model";
    FILE *f = QOR_OpenRegularFile(fileName, "rb");
    if (!f)
        return "Error opening file";
    const char *res = nullptr;
    if (IsPacked(planeFormat) && (width & 1))
        res = "Error: odd width not supported";
    else if (!imageio::SeekTo(f, frameSize * frameIndex))
        res = "Error reading frame data";
    else if (!imageio::AllocPlanes(*this))
        res = "Error reading frame data";
    const int bd = chnl[0].bitDepth;
    const size_t bps = static_cast<size_t>((bd + 7) / 8);
    const int s = MsbShift(bd, msbAligned);
    std::vector<QOR_UINT8> buf;
    auto sample = [&](size_t i) -> PIXEL {
        const QOR_UINT32 v = bps == 1 ? buf[i] : static_cast<QOR_UINT32>(buf[2 * i] | (buf[2 * i + 1] << 8));
        return static_cast<PIXEL>(v >> s);
    };
    auto readRow = [&](size_t samples) {
        buf.resize(samples * bps);
        return std::fread(buf.data(), 1, buf.size(), f) == buf.size();
    };
    if (!res && planeFormat == PLANEFMT_PLANAR) {
        for (int c = 0; c < 3 && !res; ++c)
            for (QOR_INT32 y = 0; y < chnl[c].chnlHeight && !res; ++y) {
                const size_t w = static_cast<size_t>(chnl[c].chnlWidth);
                if (!readRow(w)) {
                    res = "Error reading frame data";
                    break;
                }
                PIXEL *dst = chnl[c].data + static_cast<QOR_INT64>(y) * chnl[c].chnlWidth;
                for (size_t x = 0; x < w; ++x)
                    dst[x] = sample(x);
            }
    } else if (!res && planeFormat == PLANEFMT_INTER_YUV) {
        for (QOR_INT32 y = 0; y < height && !res; ++y) {
            if (!readRow(static_cast<size_t>(width) * 3)) {
                res = "Error reading frame data";
                break;
            }
            for (QOR_INT32 x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    chnl[c].data[static_cast<QOR_INT64>(y) * chnl[c].chnlWidth + x] =
                        sample(static_cast<size_t>(x) * 3 + static_cast<size_t>(c));
        }
    } else if (!res) {
        const int *order = kGroupOrder[planeFormat - PLANEFMT_INTER_YUYV];
        const QOR_INT32 groups = width / 2;
        for (QOR_INT32 y = 0; y < height && !res; ++y) {
            if (!readRow(static_cast<size_t>(groups) * 4)) {
                res = "Error reading frame data";
                break;
            }
            PIXEL *yRow = chnl[0].data + static_cast<QOR_INT64>(y) * chnl[0].chnlWidth;
            PIXEL *uRow = chnl[1].data + static_cast<QOR_INT64>(y) * chnl[1].chnlWidth;
            PIXEL *vRow = chnl[2].data + static_cast<QOR_INT64>(y) * chnl[2].chnlWidth;
            for (QOR_INT32 g = 0; g < groups; ++g)
                for (int k = 0; k < 4; ++k) {
                    const PIXEL v = sample(static_cast<size_t>(g) * 4 + static_cast<size_t>(k));
                    switch (order[k]) {
                    case 0:
                        yRow[2 * g] = v;
                        break;
                    case 1:
                        uRow[g] = v;
                        break;
                    case 2:
                        vRow[g] = v;
                        break;
                    default:
                        yRow[2 * g + 1] = v;
                        break;
                    }
                }
        }
    }
    std::fclose(f);
    if (res)
        UnloadData();
    return res;
}

const char *CImageYuv::SaveFileStart(const char *filename, void *pExtra, void **pSC) {
    if (pSC)
        *pSC = nullptr;
    if (!IsHeaderLoaded() || !IsDataLoaded())
        return "No image data to save";
    if (colorModel != CM_YUV)
        return "Invalid color model";
    if (chnl[0].bitDepth > MAX_BIT_DEPTH)
        return "Unsupported bit depth";
    YUVSAVEFORMAT *fmt = static_cast<YUVSAVEFORMAT *>(pExtra);
    if (!fmt || !LayoutValid(subsMode, fmt->planeFormat))
        return "Invalid color model";
    if (!filename || !pSC)
        return "Error creating file";
    YUVSAVECONTEXT *ctx = new (std::nothrow) YUVSAVECONTEXT;
    if (!ctx)
        return "Error creating file";
    ctx->f = QOR_CreateFile(filename, "wb");
    if (!ctx->f) {
        delete ctx;
        return "Error creating file";
    }
    ctx->pExtra = fmt;
    ctx->path = filename;
    ctx->failed = false;
    *pSC = ctx;
    return nullptr;
}

const char *CImageYuv::SaveFileHeader(void *) { return nullptr; }

const char *CImageYuv::SaveFileData(void *pSC) {
    return imageio::SaveStep(static_cast<YUVSAVECONTEXT *>(pSC), [&]() -> const char * {
        YUVSAVECONTEXT *ctx = static_cast<YUVSAVECONTEXT *>(pSC);
        if (colorModel != CM_YUV)
            return "Invalid color model";
        if (!ctx || !ctx->pExtra)
            return "Error writing frame data";
        const planeFormatsStr pf = ctx->pExtra->planeFormat;
        if (IsPacked(pf) && (width & 1))
            return "Error: odd width not supported";
        const int bd = chnl[0].bitDepth;
        const size_t bps = static_cast<size_t>((bd + 7) / 8);
        const int s = MsbShift(bd, ctx->pExtra->msbAligned);
        PIXEL offset[3];
        for (int c = 0; c < 3; ++c)
            offset[c] = chnl[c].isSigned ? static_cast<PIXEL>(1) << (bd - 1) : 0;
        std::vector<QOR_UINT8> buf;
        auto put = [&](PIXEL v, int c) {
            const QOR_UINT32 u = static_cast<QOR_UINT32>(v + offset[c]) << s;
            buf.push_back(static_cast<QOR_UINT8>(u & 0xFF));
            if (bps == 2)
                buf.push_back(static_cast<QOR_UINT8>((u >> 8) & 0xFF));
        };
        auto flush = [&]() {
            const bool ok = std::fwrite(buf.data(), 1, buf.size(), ctx->f) == buf.size();
            buf.clear();
            return ok;
        };
        auto at = [&](int c, QOR_INT32 x, QOR_INT32 y) {
            return chnl[c].data[static_cast<QOR_INT64>(y) * chnl[c].chnlWidth + x];
        };
        if (pf == PLANEFMT_PLANAR) {
            for (int c = 0; c < 3; ++c)
                for (QOR_INT32 y = 0; y < chnl[c].chnlHeight; ++y) {
                    for (QOR_INT32 x = 0; x < chnl[c].chnlWidth; ++x)
                        put(at(c, x, y), c);
                    if (!flush())
                        return "Error writing frame data";
                }
        } else if (pf == PLANEFMT_INTER_YUV) {
            for (QOR_INT32 y = 0; y < height; ++y) {
                for (QOR_INT32 x = 0; x < width; ++x)
                    for (int c = 0; c < 3; ++c)
                        put(at(c, x, y), c);
                if (!flush())
                    return "Error writing frame data";
            }
        } else {
            const int *order = kGroupOrder[pf - PLANEFMT_INTER_YUYV];
            for (QOR_INT32 y = 0; y < height; ++y) {
                for (QOR_INT32 g = 0; g < width / 2; ++g)
                    for (int k = 0; k < 4; ++k) {
                        switch (order[k]) {
                        case 0:
                            put(at(0, 2 * g, y), 0);
                            break;
                        case 1:
                            put(at(1, g, y), 1);
                            break;
                        case 2:
                            put(at(2, g, y), 2);
                            break;
                        default:
                            put(at(0, 2 * g + 1, y), 0);
                            break;
                        }
                    }
                if (!flush())
                    return "Error writing frame data";
            }
        }
        return nullptr;
    });
}

const char *CImageYuv::SaveFileEnd(void *pSC) {
    return imageio::EndSave(static_cast<YUVSAVECONTEXT *>(pSC), "Error writing frame data");
}

void CImageYuv::SaveFileAbort(void *pSC) { imageio::AbortSave(static_cast<YUVSAVECONTEXT *>(pSC)); }

const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImageBase *pIm) {
    if (!pFmt || !pIm || pIm->colorModel != CM_YUV)
        return "Unsupported color model";
    pFmt->planeFormat = PLANEFMT_PLANAR;
    pFmt->msbAligned = false;
    return nullptr;
}

const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImageNrv *pIm) {
    if (!pFmt || !pIm || pIm->colorModel != CM_YUV)
        return "Unsupported color model";
    const bool single = pIm->GetNFilePlanes(nullptr) == 1;
    pFmt->planeFormat = single && pIm->subsMode == SUBS_444   ? PLANEFMT_INTER_YUV
                        : single && pIm->subsMode == SUBS_422 ? PLANEFMT_INTER_YUYV
                                                              : PLANEFMT_PLANAR;
    pFmt->msbAligned = false;
    return nullptr;
}

const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImageYuv *pIm) {
    if (!pFmt || !pIm)
        return "Unsupported color model";
    pFmt->planeFormat = pIm->planeFormat;
    pFmt->msbAligned = pIm->msbAligned;
    return nullptr;
}

/* Grey and pixel maps never hold YUV. */
const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *, CImagePxm *) { return "Unsupported color model"; }
const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImagePlRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImageNRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImageAptinaRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageYuv::GetSaveFormat(YUVSAVEFORMAT *pFmt, CImageBmp *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}

/* Pixel-interleaved 4:4:4 files keep their channels together in one NRV plane. */
const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImageYuv *pIm) {
    GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
    if (pFmt && pIm && pIm->planeFormat != PLANEFMT_PLANAR && pIm->subsMode == SUBS_444) {
        pFmt->planeFormat[0] = static_cast<QOR_INT8>(pIm->GetNColChannels());
        pFmt->planeFormat[1] = pFmt->planeFormat[2] = pFmt->planeFormat[3] = 0;
    }
    return nullptr;
}
