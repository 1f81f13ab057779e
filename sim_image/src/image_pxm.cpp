#include "image_pxm.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>
#include <vector>

#include "image_file_io.h"
#include "image_formats.h"

namespace {

/* Bayer 2x2 layouts: cell width, cell height, then the channel at (0,0), (0,1), (1,0), (1,1). */
const QOR_INT8 bayerLayout2x2_0123[6] = {2, 2, 0, 1, 2, 3};
const QOR_INT8 bayerLayout2x2_1032[6] = {2, 2, 1, 0, 3, 2};
const QOR_INT8 bayerLayout2x2_2301[6] = {2, 2, 2, 3, 0, 1};
const QOR_INT8 bayerLayout2x2_3210[6] = {2, 2, 3, 2, 1, 0};

const QOR_INT8 *BayerLayout(SUBS_xxx subs) {
    switch (subs) {
    case SUBS_RGGB:
        return bayerLayout2x2_0123;
    case SUBS_GRBG:
        return bayerLayout2x2_1032;
    case SUBS_GBRG:
        return bayerLayout2x2_2301;
    case SUBS_BGGR:
        return bayerLayout2x2_3210;
    default:
        return nullptr;
    }
}

const char kMagic[] = {0, '6', '3', '5', '2'};

/* Largest value a header number keeps; anything above is refused later in any case. */
const QOR_INT64 kNumberCap = 0xFFFFFFFFll;

/* What a save gives when its samples do not all reach the file. */
const char kWriteError[] = "Error writing image data";

bool IsText(CImagePxm::pxmTypeEnum t) { return t == PPTYPE_PPMT || t == PPTYPE_PGMT; }

} // namespace

CImagePxm::CImagePxm() : foffsetData(-1), pExtra(nullptr), pixelOnLoadResize(0), fileFormat(PPTYPE_UNDEF) {
    CImageBase::Unload();
    CImagePxm::UnloadHeader();
}

CImagePxm::~CImagePxm() {
    CImagePxm::UnloadHeader();
    CImageBase::UnloadData();
    meta.Unload();
}

void CImagePxm::UnloadHeader() {
    foffsetData = -1;
    pixelOnLoadResize = 0;
    fileFormat = PPTYPE_UNDEF;
    pExtra = nullptr;
    CImageBase::UnloadHeader();
}

void CImagePxm::ParseComment(FILE *f, char **ppMetaItemBuf) {
    if (!*ppMetaItemBuf)
        *ppMetaItemBuf = static_cast<char *>(std::malloc(MAX_COMMENT));
    char *buf = *ppMetaItemBuf;
    QOR_INT32 n = 0;
    int ch;
    while ((ch = getc(f)) != EOF && ch != '\n')
        if (buf && n < MAX_COMMENT - 1)
            buf[n++] = static_cast<char>(ch);
    if (!buf)
        return;
    buf[n] = '\0';
    const char *p = buf;
    while (*p == ' ')
        ++p;
    const char *name = p;
    while (*p && *p != ' ')
        ++p;
    const QOR_INT32 nameLen = static_cast<QOR_INT32>(p - name);
    if (*p != ' ' || nameLen == 0)
        return;
    while (*p == ' ')
        ++p;
    if (!*p)
        return;
    meta.Add(name, nameLen, p, static_cast<QOR_INT32>(std::strlen(p)), IFEX_APPEND, "\n");
}

const char *CImagePxm::LoadFileHeader(const char *filename, void *pExtraIn) {
    CImageBase::Unload();
    /* Items of an earlier file would join those of this one (and spoil its "CFA" order). */
    meta.Unload();
    FILE *f = filename ? QOR_OpenRegularFile(filename, "rb") : nullptr;
    if (!f)
        return "Error opening file";
    char *commentBuf = nullptr;
    const char *res = nullptr;
    QOR_INT64 nums[3] = {0, 0, 0};
    pxmTypeEnum type = PPTYPE_UNDEF;
    int ch = getc(f);
    if (ch != 'P') {
        res = "Invalid file header";
    } else {
        ch = getc(f);
        for (int t = 1; t <= 4; ++t)
            if (ch == kMagic[t])
                type = static_cast<pxmTypeEnum>(t);
        if (type == PPTYPE_UNDEF)
            res = "Unrecognized PPM/PGM format";
    }
    for (int i = 0; i < 3 && !res; ++i) {
        for (;;) {
            ch = getc(f);
            if (ch == '#')
                ParseComment(f, &commentBuf);
            else if (ch == EOF || !std::isspace(ch))
                break;
        }
        if (ch == EOF) {
            res = "Incomplete file";
        } else if (!std::isdigit(ch)) {
            res = "Invalid file header (number expected)";
        } else {
            QOR_INT64 v = 0;
            while (ch != EOF && std::isdigit(ch)) {
                if (v <= kNumberCap)
                    v = v * 10 + (ch - '0');
                ch = getc(f);
            }
            if (ch != EOF)
                ungetc(ch, f);
            nums[i] = v;
        }
    }
    if (!res) {
        while ((ch = getc(f)) == '#')
            ParseComment(f, &commentBuf);
        if (ch == EOF || !std::isspace(ch))
            res = "Invalid file format (space expected before data)";
    }
    QOR_INT64 offset = res ? -1 : ftello(f);
    std::fclose(f);
    std::free(commentBuf);
    if (!res && nums[2] > 65535)
        res = "Invalid maxval in header";
    /* Sizes come from the file: refuse what no plane can be made of before anything is sized from them. */
    if (!res && (!imageio::ValidSize(nums[0], nums[1]) || offset < 0 || offset > 0x7FFFFFFF))
        res = "Invalid file header";

    const PXMLOADFORMAT *lf = static_cast<const PXMLOADFORMAT *>(pExtraIn);
    if (!res) {
        fileFormat = type;
        foffsetData = static_cast<QOR_INT32>(offset);
        pExtra = pExtraIn;
        width = static_cast<QOR_INT32>(nums[0]);
        height = static_cast<QOR_INT32>(nums[1]);
        const QOR_INT64 maxval = nums[2];
        QOR_INT32 bd = 1;
        if (maxval > 1)
            for (bd = 2; (static_cast<QOR_INT64>(1) << bd) <= maxval; ++bd) {
            }
        const bool isSigned = bd == 16 && !(lf && lf->loadBd == LOADBD_DOWNSIZE);
        const bool grey = type == PPTYPE_PGMB || type == PPTYPE_PGMT;
        const CM_xxx fileModel = grey ? CM_GRAY : CM_RGB;

        SUBS_xxx cfa = SUBS_UNDEF;
        const char *cfaText = meta.GetMetaStr("CFA", nullptr);
        if (cfaText) {
            static const char *const kOrders[] = {"RGGB", "GRBG", "GBRG", "BGGR"};
            for (int i = 0; i < 4; ++i)
                if (std::strcmp(cfaText, kOrders[i]) == 0)
                    cfa = static_cast<SUBS_xxx>(SUBS_RGGB + i);
        }
        CM_xxx model = fileModel;
        SUBS_xxx subs = SUBS_UNDEF;
        if (lf) {
            const CM_xxx force = lf->forceColorModel;
            const SUBS_xxx fs = lf->forceSubsampling;
            if (force == CM_UNDEF && !grey) {
                model = CM_RGB;
            } else if (force == CM_UNDEF) {
                if (fs != SUBS_UNDEF) {
                    model = CM_RGGB;
                    subs = fs;
                } else if (cfa != SUBS_UNDEF) {
                    model = CM_RGGB;
                    subs = cfa;
                }
            } else if (force == CM_RGGB) {
                model = CM_RGGB;
                subs = fs != SUBS_UNDEF ? fs : (cfa != SUBS_UNDEF ? cfa : SUBS_RGGB);
            } else if (force == CM_GRAY) {
                if (fs != SUBS_UNDEF) {
                    model = CM_RGGB;
                    subs = fs;
                } else {
                    model = CM_GRAY;
                }
            } else if (GetColorModelInfo(force)) {
                model = force;
            } else {
                res = "Invalid color model";
            }
        }
        if (!res) {
            colorModel = model;
            subsMode = subs;
            const QOR_INT32 xs = GetXSampling(0), ys = GetYSampling(0);
            for (QOR_INT32 c = 0; c < GetNColChannels(); ++c) {
                chnl[c].bitDepth = static_cast<QOR_UINT8>(bd);
                chnl[c].isSigned = isSigned;
                chnl[c].data = nullptr;
                chnl[c].chnlWidth = (width + xs - 1) / xs;
                chnl[c].chnlHeight = (height + ys - 1) / ys;
                if (GetXSampling(c) != xs || GetYSampling(c) != ys)
                    res = "Subsampling not supported for this file type";
            }
        }
        if (!res && !imageio::SetFileName(*this, filename))
            res = "Error opening file";
    }
    if (res) {
        UnloadHeader();
        meta.Unload();
    }
    return res;
}

QOR_INT32 CImagePxm::BitDepthOfFile() const { return chnl[0].bitDepth; }

const char *CImagePxm::LoadFileData(QOR_INT32 frameIndex) {
    if (!IsHeaderLoaded() || foffsetData < 0)
        return "File header not loaded";
    const bool text = IsText(fileFormat);
    if (text && frameIndex != 0)
        return "Multiple images in this file type are not supported";
    const QOR_INT32 nch = GetNColChannels();
    if (nch < 1)
        return "Invalid color model";
    const PXMLOADFORMAT *lf = static_cast<const PXMLOADFORMAT *>(pExtra);
    const bool cells = lf && lf->useBayerCells && colorModel == CM_RGGB && BayerLayout(subsMode);
    const QOR_INT32 bps = BitDepthOfFile() > 8 ? 2 : 1;
    const QOR_INT32 cw = chnl[0].chnlWidth, chh = chnl[0].chnlHeight;
    /* Rows as stored: the full mosaic in Bayer-cell mode, else pixels of one sample per channel. */
    const QOR_INT32 rows = cells ? height : chh;
    const QOR_INT64 rowSamples = cells ? static_cast<QOR_INT64>(width) : static_cast<QOR_INT64>(cw) * nch;
    const QOR_INT64 frameSamples = static_cast<QOR_INT64>(cw) * chh * nch;

    FILE *f = QOR_OpenRegularFile(fileName, "rb");
    if (!f)
        return "Error opening file";
    const QOR_INT64 fileSize = imageio::FileSize(f);
    const QOR_INT64 offset = foffsetData + static_cast<QOR_INT64>(frameIndex) * frameSamples * bps;
    if (frameIndex < 0 || fileSize < 0 || offset > fileSize || !imageio::SeekTo(f, offset)) {
        std::fclose(f);
        return "Failed to fseek to required frame";
    }
    /* A short file is refused before planes are sized: binary samples have a fixed size, and every text
     * sample takes at least one character. */
    const QOR_INT64 need = text ? rowSamples * rows : rowSamples * rows * bps;
    if (fileSize - offset < need) {
        std::fclose(f);
        return "Incomplete file";
    }
    if (!imageio::AllocPlanes(*this)) {
        std::fclose(f);
        UnloadData();
        return "Error opening file";
    }
    const QOR_INT8 *layout = cells ? BayerLayout(subsMode) : nullptr;
    if (cells && ((width | height) & 1))
        for (QOR_INT32 c = 0; c < nch; ++c)
            std::memset(chnl[c].data, 0, sizeof(PIXEL) * static_cast<size_t>(cw) * chh);

    std::vector<QOR_UINT8> rowBuf;
    if (!text)
        rowBuf.resize(static_cast<size_t>(rowSamples * bps));
    std::vector<PIXEL> samples(static_cast<size_t>(rowSamples));
    const char *res = nullptr;
    for (QOR_INT32 y = 0; y < rows && !res; ++y) {
        if (!text) {
            if (std::fread(rowBuf.data(), 1, rowBuf.size(), f) != rowBuf.size()) {
                res = "Incomplete file";
                break;
            }
            if (bps == 1)
                for (QOR_INT64 i = 0; i < rowSamples; ++i)
                    samples[static_cast<size_t>(i)] = rowBuf[static_cast<size_t>(i)];
            else
                for (QOR_INT64 i = 0; i < rowSamples; ++i)
                    samples[static_cast<size_t>(i)] =
                        (rowBuf[static_cast<size_t>(2 * i)] << 8) | rowBuf[static_cast<size_t>(2 * i + 1)];
        } else {
            for (QOR_INT64 i = 0; i < rowSamples; ++i) {
                int ch;
                do
                    ch = getc_unlocked(f);
                while (ch != EOF && std::isspace(ch));
                QOR_INT64 v = 0;
                while (ch != EOF && std::isdigit(ch)) {
                    if (v <= kNumberCap)
                        v = v * 10 + (ch - '0');
                    ch = getc_unlocked(f);
                }
                samples[static_cast<size_t>(i)] = static_cast<PIXEL>(v);
            }
        }
        if (cells) {
            /* Even columns go to one channel of the row's cells, odd columns to the other. */
            PIXEL *even = chnl[layout[2 + 2 * (y & 1)]].data + static_cast<QOR_INT64>(y / 2) * cw;
            PIXEL *odd = chnl[layout[3 + 2 * (y & 1)]].data + static_cast<QOR_INT64>(y / 2) * cw;
            const PIXEL *src = samples.data();
            QOR_INT32 x = 0;
            for (; x + 1 < width; x += 2) {
                even[x / 2] = src[x];
                odd[x / 2] = src[x + 1];
            }
            if (x < width)
                even[x / 2] = src[x];
        } else {
            for (QOR_INT32 x = 0; x < cw; ++x)
                for (QOR_INT32 c = 0; c < nch; ++c)
                    chnl[c].data[static_cast<QOR_INT64>(y) * cw + x] =
                        samples[static_cast<size_t>(static_cast<QOR_INT64>(x) * nch + c)];
        }
    }
    std::fclose(f);
    if (res)
        UnloadData();
    return res;
}

const char *CImagePxm::SaveFileStart(const char *filename, void *pExtraIn, void **pSC) {
    if (pSC)
        *pSC = nullptr;
    if (!IsHeaderLoaded() || !IsDataLoaded())
        return "No image data to save";
    PXMSAVEFORMAT *fmt = static_cast<PXMSAVEFORMAT *>(pExtraIn);
    if (!fmt || fmt->fileFormat < PPTYPE_PPMB || fmt->fileFormat > PPTYPE_PGMT)
        return "File format not supported";
    /* A maxval above 65535 makes no valid file: samples of more than 16 bits cannot be written. */
    for (QOR_INT32 c = 0; c < GetNColChannels(); ++c)
        if (chnl[c].bitDepth > 16)
            return "File format not supported";
    if (!pSC || !filename)
        return "Error creating file";
    PXMSAVECONTEXT *ctx = new (std::nothrow) PXMSAVECONTEXT;
    if (!ctx)
        return "Error creating file";
    ctx->f = QOR_CreateFile(filename, "wb");
    if (!ctx->f) {
        delete ctx;
        return "Error creating file";
    }
    ctx->pExtra = fmt;
    ctx->maxVal = 0;
    ctx->path = filename;
    ctx->failed = false;
    *pSC = ctx;
    return nullptr;
}

const char *CImagePxm::SaveFileHeader(void *pSC) {
    return imageio::SaveStep(static_cast<PXMSAVECONTEXT *>(pSC), [&]() -> const char * {
        PXMSAVECONTEXT *ctx = static_cast<PXMSAVECONTEXT *>(pSC);
        if (GetNColChannels() < 1)
            return "Invalid color model";
        if (!ctx || !ctx->pExtra || ctx->pExtra->fileFormat < PPTYPE_PPMB || ctx->pExtra->fileFormat > PPTYPE_PGMT)
            return "File format not supported";
        QOR_INT32 d = 0;
        for (QOR_INT32 c = 0; c < GetNColChannels(); ++c)
            if (chnl[c].bitDepth > d)
                d = chnl[c].bitDepth;
        ctx->maxVal = static_cast<QOR_INT32>((static_cast<QOR_INT64>(1) << d) - 1);
        if (std::fprintf(ctx->f, "P%c\n%d %d\n%d\n", kMagic[ctx->pExtra->fileFormat], width, height, ctx->maxVal) < 0)
            return "Error writing file header";
        return nullptr;
    });
}

const char *CImagePxm::SaveFileData(void *pSC) {
    return imageio::SaveStep(static_cast<PXMSAVECONTEXT *>(pSC), [&]() -> const char * {
        PXMSAVECONTEXT *ctx = static_cast<PXMSAVECONTEXT *>(pSC);
        const QOR_INT32 nch = GetNColChannels();
        if (nch < 1)
            return "Invalid color model";
        if (!ctx || !ctx->pExtra)
            return "File format not supported";
        const bool text = IsText(ctx->pExtra->fileFormat);
        const bool wide = ctx->maxVal > 255;
        const bool cells = ctx->pExtra->useBayerCells && colorModel == CM_RGGB && BayerLayout(subsMode);
        const QOR_INT8 *layout = BayerLayout(subsMode);
        const QOR_INT32 cw = chnl[0].chnlWidth;
        const QOR_INT32 rows = cells ? height : chnl[0].chnlHeight;
        const QOR_INT64 rowSamples = cells ? static_cast<QOR_INT64>(width) : static_cast<QOR_INT64>(cw) * nch;
        std::vector<PIXEL> samples(static_cast<size_t>(rowSamples));
        std::vector<char> out;
        out.reserve(static_cast<size_t>(rowSamples * (text ? 7 : 2) + 2));
        for (QOR_INT32 y = 0; y < rows; ++y) {
            if (cells) {
                for (QOR_INT32 x = 0; x < width; ++x) {
                    const int c = layout[2 + 2 * (y & 1) + (x & 1)];
                    const COLCHANNEL &ch = chnl[c];
                    const QOR_INT32 sx = x / GetXSampling(c), sy = y / GetYSampling(c);
                    samples[static_cast<size_t>(x)] = sx < ch.chnlWidth && sy < ch.chnlHeight
                                                          ? ch.data[static_cast<QOR_INT64>(sy) * ch.chnlWidth + sx]
                                                          : 0;
                }
            } else {
                for (QOR_INT32 x = 0; x < cw; ++x)
                    for (QOR_INT32 c = 0; c < nch; ++c) {
                        const COLCHANNEL &ch = chnl[c];
                        samples[static_cast<size_t>(static_cast<QOR_INT64>(x) * nch + c)] =
                            x < ch.chnlWidth && y < ch.chnlHeight
                                ? ch.data[static_cast<QOR_INT64>(y) * ch.chnlWidth + x]
                                : 0;
                    }
            }
            out.clear();
            for (QOR_INT64 i = 0; i < rowSamples; ++i) {
                const PIXEL v = samples[static_cast<size_t>(i)];
                if (text) {
                    char num[16];
                    const QOR_UINT32 u = v < 0 ? (static_cast<QOR_UINT32>(v) & 0xFFFF) : static_cast<QOR_UINT32>(v);
                    const int n = std::snprintf(num, sizeof(num), "%u", u);
                    out.insert(out.end(), num, num + n);
                    out.push_back((i + 1) % 10 == 0 ? '\n' : ' ');
                } else if (wide) {
                    out.push_back(static_cast<char>((v >> 8) & 0xFF));
                    out.push_back(static_cast<char>(v & 0xFF));
                } else {
                    out.push_back(static_cast<char>(v & 0xFF));
                }
            }
            if (text)
                out.push_back('\n');
            /* Data writes are checked as well, though the format names no error for them: never a failure as success. */
            if (std::fwrite(out.data(), 1, out.size(), ctx->f) != out.size())
                return kWriteError;
        }
        return nullptr;
    });
}

const char *CImagePxm::SaveFileEnd(void *pSC) {
    return imageio::EndSave(static_cast<PXMSAVECONTEXT *>(pSC), kWriteError);
}

void CImagePxm::SaveFileAbort(void *pSC) { imageio::AbortSave(static_cast<PXMSAVECONTEXT *>(pSC)); }

const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImageBase *pIm) {
    if (!pFmt || !pIm)
        return "Unsupported color model";
    pFmt->useBayerCells = false;
    switch (pIm->colorModel) {
    case CM_GRAY:
    case CM_RGBW:
        pFmt->fileFormat = PPTYPE_PGMB;
        return nullptr;
    case CM_RGB:
        pFmt->fileFormat = PPTYPE_PPMB;
        return nullptr;
    case CM_RGGB:
        pFmt->fileFormat = PPTYPE_PGMB;
        pFmt->useBayerCells = true;
        return nullptr;
    default:
        return "Unsupported color model";
    }
}

/* A YUV image has no grey or RGB form in these files; every other class is saved by its colour model. */
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *, CImageYuv *) { return "Unsupported color model"; }
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImageNrv *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImagePxm *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImagePlRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImageNRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImageAptinaRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImagePxm::GetSaveFormat(PXMSAVEFORMAT *pFmt, CImageBmp *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImagePxm *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
