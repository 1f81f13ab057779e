#include "image_plraw.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

#include "image_file_io.h"
#include "image_formats.h"

const CImagePlRaw::plrawFormatSpecStr CImagePlRaw::plrawFormatSpecs[5] = {
    {"rggb", CM_RGGB, SUBS_RGGB, 8}, {"grbg", CM_RGGB, SUBS_GRBG, 8}, {"gbrg", CM_RGGB, SUBS_GBRG, 8},
    {"bggr", CM_RGGB, SUBS_BGGR, 8}, {"rgb", CM_RGB, SUBS_UNDEF, 8},
};

namespace {

bool IsBayer(SUBS_xxx s) { return s >= SUBS_RGGB && s <= SUBS_BGGR; }

} // namespace

CImagePlRaw::CImagePlRaw() : frameSize(0) {
    CImageBase::Unload();
    CImagePlRaw::UnloadHeader();
}

CImagePlRaw::~CImagePlRaw() {
    CImagePlRaw::UnloadHeader();
    CImageBase::UnloadData();
}

void CImagePlRaw::UnloadHeader() {
    frameSize = 0;
    CImageBase::UnloadHeader();
}

const char *CImagePlRaw::GetLoadFormat(PLRAWLOADFORMAT *pFmt, const char *filename, const char **pFormatPart) {
    if (pFormatPart)
        *pFormatPart = nullptr;
    if (!pFmt)
        return "Unable to detect plain raw format from file name";
    std::memset(pFmt, 0, sizeof(*pFmt));
    if (!filename)
        return "Unable to detect plain raw format from file name";
    std::string s(filename);
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    /* Sizes and depths count anywhere in the path (a folder may carry them); a later one overrides an earlier one. */
    imageio::NameTokens tok;
    imageio::ScanNameTokens(&s[0], MAX_BIT_DEPTH, &tok);
    const QOR_INT64 name = imageio::NamePartOffset(filename);
    if (tok.width == 0 || tok.height == 0 || tok.badDepth)
        return "Unable to detect plain raw format from file name";
    pFmt->width = tok.width;
    pFmt->height = tok.height;
    QOR_INT64 first = tok.firstCandidate;
    const char *part = s.c_str() + name;
    const plrawFormatSpecStr *row = nullptr;
    const char *dot = std::strrchr(part, '.');
    if (dot && strcasecmp(dot, ".rgb") == 0) {
        row = &plrawFormatSpecs[4];
    } else {
        for (const plrawFormatSpecStr &r : plrawFormatSpecs) {
            const char *at = std::strstr(part, r.format);
            if (!at || at == part)
                continue;
            const char after = at[std::strlen(r.format)];
            if (std::isalpha(static_cast<unsigned char>(at[-1])) || std::isalpha(static_cast<unsigned char>(after)))
                continue;
            row = &r;
            const QOR_INT64 pos = at - s.c_str();
            if (first < 0 || pos < first)
                first = pos;
            break;
        }
    }
    pFmt->colorModel = row ? row->colorModel : CM_RGB;
    pFmt->subsMode = row ? row->subsMode : SUBS_UNDEF;
    pFmt->bitDepth = static_cast<QOR_INT8>(tok.bitDepth ? tok.bitDepth : (row ? row->defaultBd : 8));
    if (pFormatPart && first >= 0)
        *pFormatPart = filename + first;
    return nullptr;
}

const char *CImagePlRaw::GetFormatString(const PLRAWSAVEFORMAT *pFmt) {
    static char buf[50];
    const char *layout = "";
    if (colorModel == CM_RGB && subsMode == SUBS_UNDEF)
        layout = plrawFormatSpecs[4].format;
    else if (colorModel == CM_RGGB && IsBayer(subsMode))
        layout = plrawFormatSpecs[subsMode - SUBS_RGGB].format;
    std::snprintf(buf, sizeof(buf), "%dx%d_%dbit%s%s", width, height, pFmt ? pFmt->bitDepth : chnl[0].bitDepth,
                  *layout ? "_" : "", layout);
    return buf;
}

const char *CImagePlRaw::LoadFileHeader(const char *filename, void *pExtra) {
    const PLRAWLOADFORMAT *lf = static_cast<const PLRAWLOADFORMAT *>(pExtra);
    if (!lf || lf->bitDepth < 1 || lf->bitDepth > MAX_BIT_DEPTH)
        return "Unsupported bit depth";
    CImageBase::Unload();
    if (!GetColorModelInfo(lf->colorModel))
        return "Invalid color model";
    colorModel = lf->colorModel;
    subsMode = lf->subsMode;
    width = lf->width;
    height = lf->height;
    const QOR_INT64 bps = (lf->bitDepth + 7) / 8;
    frameSize = 0;
    for (QOR_INT32 c = 0; c < GetNColChannels(); ++c) {
        COLCHANNEL &ch = chnl[c];
        ch.bitDepth = static_cast<QOR_UINT8>(lf->bitDepth);
        ch.isSigned = false;
        ch.data = nullptr;
        ch.chnlWidth = (width + GetXSampling(c) - 1) / GetXSampling(c);
        ch.chnlHeight = (height + GetYSampling(c) - 1) / GetYSampling(c);
        frameSize += bps * ch.chnlWidth * ch.chnlHeight;
    }
    /* A mosaic frame holds width x height samples, as the writer stores it: for odd sizes fewer than the planes,
     * whose sides round up, so frames are that far apart. */
    if (colorModel == CM_RGGB)
        frameSize = bps * width * height;
    if (!imageio::SetFileName(*this, filename)) {
        CImageBase::Unload();
        return "Error opening file";
    }
    return nullptr;
}

const char *CImagePlRaw::LoadFileData(QOR_INT32 frameIndex) {
    if (!IsHeaderLoaded())
        return "File header not loaded";
    if (GetNColChannels() < 1)
        return "Invalid color model";
    FILE *f = QOR_OpenRegularFile(fileName, "rb");
    if (!f)
        return "Error opening file";
    const char *res = nullptr;
    const QOR_INT64 fileSize = imageio::FileSize(f);
    const size_t bps = static_cast<size_t>((chnl[0].bitDepth + 7) / 8);
    const bool rgb = colorModel == CM_RGB;
    const size_t rowSamples = static_cast<size_t>(width) * (rgb ? 3 : 1);
    /* Frames begin frameSize bytes apart, the bytes of their rows. */
    const bool validSize = imageio::ValidSize(width, height);
    const QOR_INT64 rowsBytes = validSize ? static_cast<QOR_INT64>(rowSamples * bps) * height : 0;
    if (colorModel == CM_RGGB && !IsBayer(subsMode))
        res = "Unsupported pattern";
    else if (colorModel != CM_RGB && colorModel != CM_RGGB)
        res = "Unsupported color model";
    /* The frame must lie in the file before planes are sized from the caller's geometry. */
    else if (!validSize || frameIndex < 0 || frameSize < 1 || frameIndex > fileSize / frameSize ||
             fileSize - frameSize * frameIndex < rowsBytes || !imageio::SeekTo(f, frameSize * frameIndex))
        res = "Error reading frame data";
    else if (!imageio::AllocPlanes(*this))
        res = "Error reading frame data";
    /* A mosaic of odd width or height reaches only some cells of the last plane column or row: those hold 0. */
    else if (!rgb && ((width | height) & 1))
        imageio::ZeroPlanes(*this);
    std::vector<QOR_UINT8> buf(res ? 0 : rowSamples * bps);
    for (QOR_INT32 y = 0; y < height && !res; ++y) {
        if (std::fread(buf.data(), 1, buf.size(), f) != buf.size()) {
            res = "Error reading frame data";
            break;
        }
        const QOR_UINT8 *p = buf.data();
        auto sample = [p, bps](size_t i) -> PIXEL {
            switch (bps) {
            case 1:
                return p[i];
            case 2:
                return static_cast<PIXEL>(p[2 * i] | (p[2 * i + 1] << 8));
            default: {
                QOR_UINT32 v = 0;
                for (size_t b = bps; b-- > 0;)
                    v = (v << 8) | p[i * bps + b];
                return static_cast<PIXEL>(v);
            }
            }
        };
        if (rgb) {
            PIXEL *r = chnl[0].data + static_cast<QOR_INT64>(y) * chnl[0].chnlWidth;
            PIXEL *g = chnl[1].data + static_cast<QOR_INT64>(y) * chnl[1].chnlWidth;
            PIXEL *b = chnl[2].data + static_cast<QOR_INT64>(y) * chnl[2].chnlWidth;
            for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
                r[x] = sample(3 * x);
                g[x] = sample(3 * x + 1);
                b[x] = sample(3 * x + 2);
            }
        } else {
            /* Even columns go to one channel of the row's cells, odd columns to the other. */
            const int c0 = imageio::BayerChannel(subsMode, y, 0), c1 = imageio::BayerChannel(subsMode, y, 1);
            PIXEL *even = chnl[c0].data + static_cast<QOR_INT64>(y / 2) * chnl[c0].chnlWidth;
            PIXEL *odd = chnl[c1].data + static_cast<QOR_INT64>(y / 2) * chnl[c1].chnlWidth;
            const size_t w = static_cast<size_t>(width);
            for (size_t x = 0; x + 1 < w; x += 2) {
                even[x / 2] = sample(x);
                odd[x / 2] = sample(x + 1);
            }
            if (w & 1)
                even[w / 2] = sample(w - 1);
        }
    }
    std::fclose(f);
    if (res)
        UnloadData();
    return res;
}

const char *CImagePlRaw::SaveFileStart(const char *filename, void *pExtra, void **pSC) {
    if (pSC)
        *pSC = nullptr;
    if (!IsHeaderLoaded() || !IsDataLoaded())
        return "No image data to save";
    if (colorModel != CM_RGB && colorModel != CM_RGGB)
        return "Unsupported color model";
    PLRAWSAVEFORMAT *fmt = static_cast<PLRAWSAVEFORMAT *>(pExtra);
    if (!fmt || fmt->bitDepth < 1 || fmt->bitDepth > MAX_BIT_DEPTH)
        return "Unsupported bit depth";
    /* A range of a single value maps onto no scale. */
    for (QOR_INT32 c = 0; c < GetNColChannels(); ++c)
        if (fmt->rangeMax[c] == fmt->rangeMin[c])
            return "Unsupported bit depth";
    if (!filename || !pSC)
        return "Error creating file";
    PLRAWSAVECONTEXT *ctx = new (std::nothrow) PLRAWSAVECONTEXT;
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

const char *CImagePlRaw::SaveFileHeader(void *) { return nullptr; }

const char *CImagePlRaw::SaveFileData(void *pSC) {
    return imageio::SaveStep(static_cast<PLRAWSAVECONTEXT *>(pSC), [&]() -> const char * {
        PLRAWSAVECONTEXT *ctx = static_cast<PLRAWSAVECONTEXT *>(pSC);
        const QOR_INT32 nch = GetNColChannels();
        if (nch < 1)
            return "Invalid color model";
        if (!ctx || !ctx->pExtra)
            return "Error writing frame data";
        const PLRAWSAVEFORMAT &fmt = *ctx->pExtra;
        if (colorModel == CM_RGGB && !IsBayer(subsMode))
            return "Unsupported pattern";
        if (colorModel != CM_RGB && colorModel != CM_RGGB)
            return "Unsupported color model";
        const QOR_INT64 valMax = (static_cast<QOR_INT64>(1) << fmt.bitDepth) - 1;
        double scale[4];
        for (QOR_INT32 c = 0; c < nch; ++c) {
            const QOR_INT64 range = static_cast<QOR_INT64>(fmt.rangeMax[c]) - fmt.rangeMin[c];
            const QOR_INT64 whole = range ? valMax / range : 0;
            /* The whole-number factor keeps integer steps exact; a range wider than the file's keeps the fraction,
         * where the whole number would be 0 and blank the file. */
            scale[c] =
                whole != 0 ? static_cast<double>(whole) : static_cast<double>(valMax) / static_cast<double>(range);
        }
        const size_t bps = static_cast<size_t>((fmt.bitDepth + 7) / 8);
        const bool rgb = colorModel == CM_RGB;
        const size_t rowSamples = static_cast<size_t>(width) * (rgb ? 3 : 1);
        std::vector<QOR_UINT8> buf(rowSamples * bps);
        for (QOR_INT32 y = 0; y < height; ++y) {
            for (size_t i = 0; i < rowSamples; ++i) {
                int c;
                QOR_INT64 pos;
                if (rgb) {
                    c = static_cast<int>(i % 3);
                    pos = static_cast<QOR_INT64>(y) * chnl[c].chnlWidth + static_cast<QOR_INT64>(i / 3);
                } else {
                    c = imageio::BayerChannel(subsMode, y, static_cast<QOR_INT32>(i));
                    pos = static_cast<QOR_INT64>(y / 2) * chnl[c].chnlWidth + static_cast<QOR_INT64>(i / 2);
                }
                const double d = (static_cast<double>(chnl[c].data[pos]) - fmt.rangeMin[c]) * scale[c];
                QOR_INT64 v = d < 0 ? 0 : (d > static_cast<double>(valMax) ? valMax : static_cast<QOR_INT64>(d));
                for (size_t b = 0; b < bps; ++b, v >>= 8)
                    buf[i * bps + b] = static_cast<QOR_UINT8>(v & 0xFF);
            }
            if (std::fwrite(buf.data(), 1, buf.size(), ctx->f) != buf.size())
                return "Error writing frame data";
        }
        return nullptr;
    });
}

const char *CImagePlRaw::SaveFileEnd(void *pSC) {
    return imageio::EndSave(static_cast<PLRAWSAVECONTEXT *>(pSC), "Error writing frame data");
}

void CImagePlRaw::SaveFileAbort(void *pSC) { imageio::AbortSave(static_cast<PLRAWSAVECONTEXT *>(pSC)); }

const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImageBase *pIm) {
    if (!pFmt || !pIm || (pIm->colorModel != CM_RGB && pIm->colorModel != CM_RGGB))
        return "Unsupported color model";
    const QOR_INT32 nch = pIm->GetNColChannels();
    QOR_INT32 bd = 0;
    for (QOR_INT32 c = 0; c < nch; ++c)
        if (pIm->chnl[c].bitDepth > bd)
            bd = pIm->chnl[c].bitDepth;
    pFmt->bitDepth = static_cast<QOR_INT8>(bd);
    for (QOR_INT32 c = 0; c < nch; ++c) {
        QOR_INT64 lo, hi;
        CImageBase::GetChannelRange(pIm->chnl[c], &lo, &hi);
        pFmt->rangeMin[c] = static_cast<QOR_INT32>(lo);
        pFmt->rangeMax[c] = static_cast<QOR_INT32>(hi > 0x7FFFFFFF ? 0x7FFFFFFF : hi);
    }
    return nullptr;
}

const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImageNrv *pIm) {
    const char *res = GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
    if (res || !pIm->pCurrSeg)
        return res;
    CMetaData &md = pIm->pCurrSeg->meta;
    for (QOR_INT32 c = 0; c < pIm->GetNColChannels(); ++c) {
        pFmt->rangeMin[c] = md.GetMetaInt("CHANNEL_DISPLAY_MIN", pFmt->rangeMin[c], c, true);
        pFmt->rangeMax[c] = md.GetMetaInt("CHANNEL_DISPLAY_MAX", pFmt->rangeMax[c], c, true);
    }
    return nullptr;
}

const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImagePxm *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImageYuv *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImagePlRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImageNRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePlRaw::GetSaveFormat(PLRAWSAVEFORMAT *pFmt, CImageBmp *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImagePlRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
