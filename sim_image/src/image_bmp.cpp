#include "image_bmp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "image_file_io.h"
#include "image_formats.h"

namespace {

const QOR_UINT16 kBmpType = 0x4D42;
const QOR_UINT32 kFileHeadSize = 14;
const QOR_UINT32 kInfoHeadSize = 40;
/* Run-length data may describe far more pixels than it has bytes; planes are only sized for images the data
 * could plausibly cover (or for any image up to this many pixels). */
const QOR_INT64 kRlePixelsAlways = 1 << 24;
const QOR_INT64 kRlePixelsPerByte = 256;

QOR_UINT16 Le16(const QOR_UINT8 *p) { return static_cast<QOR_UINT16>(p[0] | (p[1] << 8)); }
QOR_UINT32 Le32(const QOR_UINT8 *p) {
    return static_cast<QOR_UINT32>(p[0]) | (static_cast<QOR_UINT32>(p[1]) << 8) |
           (static_cast<QOR_UINT32>(p[2]) << 16) | (static_cast<QOR_UINT32>(p[3]) << 24);
}
void Put16(QOR_UINT8 *p, QOR_UINT32 v) {
    p[0] = static_cast<QOR_UINT8>(v);
    p[1] = static_cast<QOR_UINT8>(v >> 8);
}
void Put32(QOR_UINT8 *p, QOR_UINT32 v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

/* Walks a run-length stream code by code up to its end-of-bitmap code, handing each code to the sink; returns
 * the message of the first code the data cannot hold, or null. */
template <class Sink> const char *WalkRle(const std::vector<QOR_UINT8> &d, bool rle8, Sink &sink) {
    size_t at = 0;
    for (;;) {
        if (d.size() - at < 2)
            return "Error reading image data (5)";
        const QOR_UINT32 n = d[at], v = d[at + 1];
        at += 2;
        if (n > 0) {
            sink.Run(n, v);
        } else if (v == 0) {
            sink.EndOfLine();
        } else if (v == 1) {
            return nullptr;
        } else if (v == 2) {
            if (d.size() - at < 2)
                return "Error reading image data (6)";
            sink.Delta(d[at], d[at + 1]);
            at += 2;
        } else {
            const size_t bytes = rle8 ? v : (v + 1) / 2;
            if (d.size() - at < bytes)
                return "Error reading image data (7)";
            sink.Absolute(d.data() + at, v);
            at += bytes;
            if (bytes & 1) {
                if (d.size() - at < 1)
                    return "Error reading image data (8)";
                ++at;
            }
        }
    }
}

/* Takes the codes without decoding them: only whether the stream holds together. */
struct RleCheck {
    void Run(QOR_UINT32, QOR_UINT32) {}
    void Absolute(const QOR_UINT8 *, QOR_UINT32) {}
    void EndOfLine() {}
    void Delta(QOR_UINT32, QOR_UINT32) {}
};

/* Decodes run-length codes into the three planes. A running position counts the pixels of the stored rows, the
 * first stored row first, so a run that passes the end of a row goes on at the start of the next row; nothing is
 * written past the end of the planes. Each stored row is written straight into its image row (bottom row first
 * unless the height was negative), which leaves nothing to flip at the end. Every pixel starts as palette entry
 * 0: pixels that end-of-line and delta codes skip, and those the data never reaches, hold it. */
class RleWriter {
public:
    RleWriter(CImageBase &im, const QOR_UINT8 *palette, QOR_UINT32 entries, bool topDown, bool rle8)
        : r(im.chnl[0].data), g(im.chnl[1].data), b(im.chnl[2].data), palette(palette), entries(entries),
          width(im.width), height(im.height), total(static_cast<QOR_INT64>(im.width) * im.height), topDown(topDown),
          rle8(rle8) {
        Fill(r, total, palette[0]);
        Fill(g, total, palette[1]);
        Fill(b, total, palette[2]);
    }

    void Run(QOR_UINT32 n, QOR_UINT32 v) {
        if (rle8)
            Emit(n, [v](QOR_UINT32) { return v; });
        else
            Emit(n, [v](QOR_UINT32 i) { return (i & 1) ? (v & 15) : (v >> 4); });
    }
    void Absolute(const QOR_UINT8 *p, QOR_UINT32 n) {
        if (rle8)
            Emit(n, [p](QOR_UINT32 i) { return static_cast<QOR_UINT32>(p[i]); });
        else
            Emit(n, [p](QOR_UINT32 i) { return static_cast<QOR_UINT32>((i & 1) ? (p[i / 2] & 15) : (p[i / 2] >> 4)); });
    }
    /* The rest of the line's row becomes palette entry 0 and the next row begins. */
    void EndOfLine() {
        const QOR_INT64 end = (row + 1) * width;
        Fill0(pos, end);
        /* After a run carried into the next row, keeping the position where the run left it would shift every
         * later row of files whose writers pad run-length rows (to a multiple of four pixels): the next row starts
         * at its first pixel instead, and the padding is overwritten. */
        pos = end;
        ++row;
    }
    void Delta(QOR_UINT32 dx, QOR_UINT32 dy) {
        const QOR_INT64 next = pos + static_cast<QOR_INT64>(dy) * width + dx;
        Fill0(pos, next);
        pos = next;
        row = pos / width;
    }

private:
    PIXEL *r, *g, *b;
    const QOR_UINT8 *palette;
    QOR_UINT32 entries;
    QOR_INT64 width, height, total;
    bool topDown, rle8;
    QOR_INT64 pos = 0;  /* running position over the stored rows */
    QOR_INT64 row = 0;  /* stored row of the current line */
    QOR_INT64 high = 0; /* pixels below this position may have been written; the others still hold entry 0 */

    /* Sets n samples to one value by copying what is already set, in blocks that double. */
    static void Fill(PIXEL *p, QOR_INT64 n, PIXEL v) {
        if (n < 1)
            return;
        p[0] = v;
        for (QOR_INT64 done = 1; done < n; done *= 2)
            std::memcpy(p + done, p, sizeof(PIXEL) * static_cast<size_t>(std::min(done, n - done)));
    }
    QOR_INT64 ImageOffset(QOR_INT64 at) const {
        const QOR_INT64 stored = at / width;
        return (topDown ? stored : height - 1 - stored) * width + at % width;
    }
    void Set(QOR_INT64 at, QOR_UINT32 idx) {
        if (idx >= entries)
            idx = 0;
        r[at] = palette[3 * idx];
        g[at] = palette[3 * idx + 1];
        b[at] = palette[3 * idx + 2];
    }
    /* Writes n pixels at the running position, pixel i being palette entry index(i), a row at a time. */
    template <class Index> void Emit(QOR_UINT32 n, Index index) {
        QOR_INT64 i = 0;
        while (i < n && pos < total) {
            const QOR_INT64 seg = std::min<QOR_INT64>(n - i, width - pos % width);
            const QOR_INT64 at = ImageOffset(pos);
            for (QOR_INT64 k = 0; k < seg; ++k)
                Set(at + k, index(static_cast<QOR_UINT32>(i + k)));
            i += seg;
            pos += seg;
        }
        pos += n - i;
        high = std::max(high, std::min(pos, total));
    }
    /* Palette entry 0 from one position to another; past the highest pixel written it is already there. */
    void Fill0(QOR_INT64 from, QOR_INT64 to) {
        to = std::min(to, high);
        while (from < to) {
            const QOR_INT64 seg = std::min(to - from, width - from % width);
            const QOR_INT64 at = ImageOffset(from);
            for (QOR_INT64 k = 0; k < seg; ++k)
                Set(at + k, 0);
            from += seg;
        }
    }
};
} // namespace

CImageBmp::CImageBmp() : pPalette(nullptr), paletteEntries(0), topDown(false) {
    std::memset(&fhdr, 0, sizeof(fhdr));
    std::memset(&ihdr, 0, sizeof(ihdr));
    CImageBase::Unload();
    CImageBmp::UnloadHeader();
}

CImageBmp::~CImageBmp() {
    CImageBmp::UnloadHeader();
    CImageBase::UnloadData();
}

void CImageBmp::UnloadHeader() {
    std::memset(&fhdr, 0, sizeof(fhdr));
    std::memset(&ihdr, 0, sizeof(ihdr));
    delete[] pPalette;
    pPalette = nullptr;
    paletteEntries = 0;
    topDown = false;
    CImageBase::UnloadHeader();
}

const char *CImageBmp::LoadFileHeader(const char *filename, void *) {
    CImageBase::Unload();
    FILE *f = filename ? QOR_OpenRegularFile(filename, "rb") : nullptr;
    if (!f)
        return "Error opening file";
    const char *res = nullptr;
    QOR_UINT8 b[kInfoHeadSize];
    if (std::fread(b, 1, kFileHeadSize, f) != kFileHeadSize) {
        res = "Error reading file header";
    } else {
        fhdr.wType = Le16(b);
        fhdr.dwSize = Le32(b + 2);
        fhdr.wRes1 = Le16(b + 6);
        fhdr.wRes2 = Le16(b + 8);
        fhdr.dwOffBits = Le32(b + 10);
        if (fhdr.wType != kBmpType)
            res = "Invalid file header";
        else if (std::fread(b, 1, kInfoHeadSize, f) != kInfoHeadSize)
            res = "Error reading info header";
    }
    if (!res) {
        ihdr.dwSize = Le32(b);
        ihdr.dwWidth = static_cast<QOR_INT32>(Le32(b + 4));
        ihdr.dwHeight = static_cast<QOR_INT32>(Le32(b + 8));
        ihdr.wPlanes = Le16(b + 12);
        ihdr.wBitCount = Le16(b + 14);
        ihdr.dwCompression = Le32(b + 16);
        ihdr.dwSizeImage = Le32(b + 20);
        ihdr.dwXPelsPerMeter = static_cast<QOR_INT32>(Le32(b + 24));
        ihdr.dwYPelsPerMeter = static_cast<QOR_INT32>(Le32(b + 28));
        ihdr.dwClrUsed = Le32(b + 32);
        ihdr.dwClrImportant = Le32(b + 36);
        const QOR_INT64 h = ihdr.dwHeight < 0 ? -static_cast<QOR_INT64>(ihdr.dwHeight) : ihdr.dwHeight;
        /* Headers shorter than the 40 bytes read (the 12-byte form) hold other fields at these offsets. */
        if (ihdr.dwSize < kInfoHeadSize)
            res = "Invalid file header";
        else if (ihdr.wPlanes != 1)
            res = "Unsupported plane format";
        else if (ihdr.wBitCount != 1 && ihdr.wBitCount != 4 && ihdr.wBitCount != 8 && ihdr.wBitCount != 24)
            res = "Unsupported bit depth";
        else if (!imageio::ValidSize(ihdr.dwWidth, h))
            res = "Invalid file header";
        else if (!imageio::SeekTo(f, static_cast<QOR_INT64>(kFileHeadSize) + ihdr.dwSize))
            res = "Error reading palette";
        if (!res) {
            /* Rows stored top row first when the height is negative. */
            topDown = ihdr.dwHeight < 0;
            if (ihdr.dwSizeImage == 0)
                ihdr.dwSizeImage = static_cast<QOR_UINT32>(ihdr.dwWidth) * static_cast<QOR_UINT32>(h) *
                                   static_cast<QOR_UINT32>(ihdr.wBitCount) / 8u;
            width = ihdr.dwWidth;
            height = static_cast<QOR_INT32>(h);
        }
    }
    if (!res && ihdr.wBitCount < 24) {
        const QOR_UINT32 most = 1u << ihdr.wBitCount;
        if (ihdr.dwClrUsed == 0)
            ihdr.dwClrUsed = most;
        /* No index can reach past 2^bits entries: a larger count only asks for a larger read. */
        const QOR_UINT32 n = ihdr.dwClrUsed < most ? ihdr.dwClrUsed : most;
        std::vector<QOR_UINT8> raw(static_cast<size_t>(n) * 4);
        pPalette = new (std::nothrow) QOR_UINT8[static_cast<size_t>(n) * 3];
        if (!pPalette || std::fread(raw.data(), 1, raw.size(), f) != raw.size()) {
            res = "Error reading palette";
        } else {
            for (QOR_UINT32 i = 0; i < n; ++i) {
                pPalette[3 * i] = raw[4 * i + 2];
                pPalette[3 * i + 1] = raw[4 * i + 1];
                pPalette[3 * i + 2] = raw[4 * i];
            }
            paletteEntries = n;
        }
    }
    if (!res) {
        colorModel = CM_RGB;
        subsMode = SUBS_UNDEF;
        for (int c = 0; c < 3; ++c) {
            chnl[c].chnlWidth = width;
            chnl[c].chnlHeight = height;
            chnl[c].bitDepth = 8;
            chnl[c].isSigned = false;
            chnl[c].data = nullptr;
        }
        if (!imageio::SetFileName(*this, filename))
            res = "Error opening file";
    }
    std::fclose(f);
    if (res)
        CImageBase::Unload();
    return res;
}

const char *CImageBmp::DecodeRle(FILE *f) {
    const bool rle8 = ihdr.dwCompression == COMPR_RLE8;
    /* The whole compressed stream is read at once and decoded in memory. */
    std::vector<QOR_UINT8> data;
    {
        QOR_UINT8 chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
            data.insert(data.end(), chunk, chunk + n);
    }
    /* The codes are checked before any plane is sized or filled: a stream that ends before its end-of-bitmap code
     * costs the time of reading it, whatever size the header declares. */
    RleCheck check;
    const char *res = WalkRle(data, rle8, check);
    if (res)
        return res;
    if (!imageio::AllocPlanes(*this))
        return "Error opening file (2)";
    RleWriter writer(*this, pPalette, paletteEntries, topDown, rle8);
    return WalkRle(data, rle8, writer);
}

const char *CImageBmp::LoadFileData(QOR_INT32) {
    if (!IsHeaderLoaded())
        return "Header not loaded";
    if (ihdr.wBitCount < 24 && !pPalette)
        return "Palette not loaded";
    FILE *f = QOR_OpenRegularFile(fileName, "rb");
    if (!f)
        return "Error opening file (2)";
    const char *res = nullptr;
    const QOR_INT64 fileSize = imageio::FileSize(f);
    const QOR_INT64 dataBytes = fileSize - static_cast<QOR_INT64>(fhdr.dwOffBits);
    const QOR_INT64 rowSize = (static_cast<QOR_INT64>(width) * ihdr.wBitCount + 31) / 32 * 4;
    const bool palette = ihdr.wBitCount < 24;
    if (ihdr.dwCompression > COMPR_RLE4 || (ihdr.dwCompression != COMPR_NONE && !palette))
        res = "Unsupported compression"; /* run-length codes index a palette, which 24-bit files lack */
    else if (!imageio::SeekTo(f, fhdr.dwOffBits))
        res = palette ? "Error reading image data (1)" : "Error reading image data (3)";
    /* The data must be able to fill the image before planes are sized for it. */
    else if (ihdr.dwCompression == COMPR_NONE && dataBytes < rowSize * height)
        res = palette ? "Error reading image data (1)" : "Error reading image data (3)";
    else if (ihdr.dwCompression != COMPR_NONE && static_cast<QOR_INT64>(width) * height > kRlePixelsAlways &&
             static_cast<QOR_INT64>(width) * height > kRlePixelsPerByte * dataBytes)
        res = "Error reading image data (5)";
    else if (ihdr.dwCompression == COMPR_NONE && !imageio::AllocPlanes(*this))
        res = "Error opening file (2)";

    if (!res && ihdr.dwCompression == COMPR_NONE) {
        std::vector<QOR_UINT8> row(static_cast<size_t>(rowSize));
        for (QOR_INT32 sr = 0; sr < height && !res; ++sr) {
            if (std::fread(row.data(), 1, row.size(), f) != row.size()) {
                res = palette ? "Error reading image data (1)" : "Error reading image data (3)";
                break;
            }
            const QOR_INT64 base = static_cast<QOR_INT64>(topDown ? sr : height - 1 - sr) * width;
            PIXEL *r = chnl[0].data + base, *g = chnl[1].data + base, *b = chnl[2].data + base;
            if (!palette) {
                for (QOR_INT32 x = 0; x < width; ++x) {
                    b[x] = row[3 * static_cast<size_t>(x)];
                    g[x] = row[3 * static_cast<size_t>(x) + 1];
                    r[x] = row[3 * static_cast<size_t>(x) + 2];
                }
                continue;
            }
            const int bc = ihdr.wBitCount;
            const QOR_UINT32 mask = (1u << bc) - 1;
            for (QOR_INT32 x = 0; x < width; ++x) {
                const QOR_INT64 bit = static_cast<QOR_INT64>(x) * bc;
                QOR_UINT32 idx = (row[static_cast<size_t>(bit / 8)] >> (8 - bc - bit % 8)) & mask;
                if (idx >= paletteEntries)
                    idx = 0;
                r[x] = pPalette[3 * idx];
                g[x] = pPalette[3 * idx + 1];
                b[x] = pPalette[3 * idx + 2];
            }
        }
    } else if (!res) {
        res = DecodeRle(f);
    }
    std::fclose(f);
    delete[] pPalette;
    pPalette = nullptr;
    paletteEntries = 0;
    /* A failed load keeps no half-decoded planes. */
    if (res)
        UnloadData();
    return res;
}

bool CImageBmp::GetChannelMapToRGB(colorModelEnum model, QOR_INT32 *pMap3) {
    if (!pMap3)
        return false;
    if (model == CM_GRAY) {
        pMap3[0] = pMap3[1] = pMap3[2] = 0;
        return true;
    }
    if (model == CM_RGB || model == CM_RGBA) {
        pMap3[0] = 0;
        pMap3[1] = 1;
        pMap3[2] = 2;
        return true;
    }
    return false;
}

const char *CImageBmp::SaveFileStart(const char *filename, void *pExtra, void **pSC) {
    if (pSC)
        *pSC = nullptr;
    if (!IsHeaderLoaded() || !IsDataLoaded())
        return "No image data to save";
    QOR_INT32 map[3];
    if (!GetChannelMapToRGB(colorModel, map))
        return "Unsupported color model";
    if (!filename || !pSC)
        return "Error creating file";
    BMPSAVECONTEXT *ctx = new (std::nothrow) BMPSAVECONTEXT;
    if (!ctx)
        return "Error creating file";
    ctx->pExtra = static_cast<BMPSAVEFORMAT *>(pExtra);
    if (!ctx->pExtra) {
        GetSaveFormat(&ctx->ownFormat, this);
        ctx->pExtra = &ctx->ownFormat;
    }
    ctx->f = QOR_CreateFile(filename, "wb");
    if (!ctx->f) {
        delete ctx;
        return "Error creating file";
    }
    ctx->path = filename;
    ctx->failed = false;
    *pSC = ctx;
    return nullptr;
}

const char *CImageBmp::SaveFileHeader(void *pSC) {
    return imageio::SaveStep(static_cast<BMPSAVECONTEXT *>(pSC), [&]() -> const char * {
        BMPSAVECONTEXT *ctx = static_cast<BMPSAVECONTEXT *>(pSC);
        if (!ctx)
            return "Error writing header (1)";
        const QOR_UINT32 rowSize = (3u * static_cast<QOR_UINT32>(width) + 3u) & ~3u;
        fhdr.wType = kBmpType;
        fhdr.dwSize = rowSize * static_cast<QOR_UINT32>(height) + 54u;
        fhdr.wRes1 = fhdr.wRes2 = 0;
        fhdr.dwOffBits = 54;
        ihdr.dwSize = kInfoHeadSize;
        ihdr.dwWidth = width;
        ihdr.dwHeight = height;
        ihdr.wPlanes = 1;
        ihdr.wBitCount = 24;
        ihdr.dwCompression = COMPR_NONE;
        ihdr.dwSizeImage = rowSize * static_cast<QOR_UINT32>(height);
        ihdr.dwXPelsPerMeter = ihdr.dwYPelsPerMeter = 4000;
        ihdr.dwClrUsed = ihdr.dwClrImportant = 0;
        QOR_UINT8 fb[kFileHeadSize], ib[kInfoHeadSize];
        Put16(fb, fhdr.wType);
        Put32(fb + 2, fhdr.dwSize);
        Put16(fb + 6, fhdr.wRes1);
        Put16(fb + 8, fhdr.wRes2);
        Put32(fb + 10, fhdr.dwOffBits);
        Put32(ib, ihdr.dwSize);
        Put32(ib + 4, static_cast<QOR_UINT32>(ihdr.dwWidth));
        Put32(ib + 8, static_cast<QOR_UINT32>(ihdr.dwHeight));
        Put16(ib + 12, ihdr.wPlanes);
        Put16(ib + 14, ihdr.wBitCount);
        Put32(ib + 16, ihdr.dwCompression);
        Put32(ib + 20, ihdr.dwSizeImage);
        Put32(ib + 24, static_cast<QOR_UINT32>(ihdr.dwXPelsPerMeter));
        Put32(ib + 28, static_cast<QOR_UINT32>(ihdr.dwYPelsPerMeter));
        Put32(ib + 32, ihdr.dwClrUsed);
        Put32(ib + 36, ihdr.dwClrImportant);
        if (std::fwrite(fb, 1, sizeof(fb), ctx->f) != sizeof(fb))
            return "Error writing header (1)";
        if (std::fwrite(ib, 1, sizeof(ib), ctx->f) != sizeof(ib))
            return "Error writing header (2)";
        return nullptr;
    });
}

const char *CImageBmp::SaveFileData(void *pSC) {
    return imageio::SaveStep(static_cast<BMPSAVECONTEXT *>(pSC), [&]() -> const char * {
        BMPSAVECONTEXT *ctx = static_cast<BMPSAVECONTEXT *>(pSC);
        QOR_INT32 map[3];
        if (!GetChannelMapToRGB(colorModel, map))
            return "Unsupported color model";
        if (!ctx || !ctx->pExtra)
            return "Error writing image data";
        const BMPSAVEFORMAT &fmt = *ctx->pExtra;
        const size_t rowSize = (3u * static_cast<size_t>(width) + 3u) & ~static_cast<size_t>(3);
        std::vector<QOR_UINT8> row(rowSize, 0);
        for (QOR_INT32 sr = 0; sr < height; ++sr) {
            const QOR_INT64 base = static_cast<QOR_INT64>(height - 1 - sr) * width;
            for (QOR_INT32 x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k) {
                    const double v = std::fma(fmt.mul[k], static_cast<double>(chnl[map[k]].data[base + x]), fmt.off[k]);
                    const QOR_UINT8 byte = v <= 0 ? 0 : (v >= 255 ? 255 : static_cast<QOR_UINT8>(v));
                    row[3 * static_cast<size_t>(x) + static_cast<size_t>(2 - k)] = byte;
                }
            if (std::fwrite(row.data(), 1, row.size(), ctx->f) != row.size())
                return "Error writing image data";
        }
        return nullptr;
    });
}

const char *CImageBmp::SaveFileEnd(void *pSC) {
    return imageio::EndSave(static_cast<BMPSAVECONTEXT *>(pSC), "Error writing image data");
}

void CImageBmp::SaveFileAbort(void *pSC) { imageio::AbortSave(static_cast<BMPSAVECONTEXT *>(pSC)); }

const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImageBase *pIm) {
    QOR_INT32 map[3];
    if (!pFmt || !pIm || !GetChannelMapToRGB(pIm->colorModel, map))
        return "Unsupported color model";
    for (int k = 0; k < 3; ++k) {
        const COLCHANNEL &ch = pIm->chnl[map[k]];
        const int d = ch.bitDepth < 1 ? 1 : (ch.bitDepth > 31 ? 31 : ch.bitDepth);
        if (ch.isSigned) {
            pFmt->mul[k] = 127.0 / std::ldexp(1.0, d - 1);
            pFmt->off[k] = 128;
        } else {
            pFmt->mul[k] = 255.0 / (std::ldexp(1.0, d) - 1.0);
            pFmt->off[k] = 0;
        }
    }
    return nullptr;
}

const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImageNrv *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImagePxm *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImageYuv *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImagePlRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImageNRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
const char *CImageBmp::GetSaveFormat(BMPSAVEFORMAT *pFmt, CImageAptinaRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImageBmp *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
