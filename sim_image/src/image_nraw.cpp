#include "image_nraw.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "image_file_io.h"
#include "image_formats.h"

namespace {

/* Bayer 2x2 layouts by Bayer type: the channel at (0,0), (0,1), (1,0), (1,1). */
const int bayerLayout2x2_1234[4] = {0, 1, 2, 3};
const int bayerLayout2x2_2143[4] = {1, 0, 3, 2};
const int bayerLayout2x2_3412[4] = {2, 3, 0, 1};
const int bayerLayout2x2_4321[4] = {3, 2, 1, 0};

const int *BayerLayout(SUBS_xxx s) {
    switch (s) {
    case SUBS_RGGB:
        return bayerLayout2x2_1234;
    case SUBS_GRBG:
        return bayerLayout2x2_2143;
    case SUBS_GBRG:
        return bayerLayout2x2_3412;
    case SUBS_BGGR:
        return bayerLayout2x2_4321;
    default:
        return nullptr;
    }
}

QOR_UINT16 Le16(const QOR_UINT8 *p) { return static_cast<QOR_UINT16>(p[0] | (p[1] << 8)); }
QOR_UINT32 Le32(const QOR_UINT8 *p) {
    return static_cast<QOR_UINT32>(p[0]) | (static_cast<QOR_UINT32>(p[1]) << 8) |
           (static_cast<QOR_UINT32>(p[2]) << 16) | (static_cast<QOR_UINT32>(p[3]) << 24);
}

/* Bytes of one stored row of a packed RGB type. */
QOR_INT64 PackedRowBytes(CImageNRaw::imageTypesEnum t, QOR_INT64 w) {
    switch (t) {
    case CImageNRaw::IT_RGB565:
        return 2 * w;
    case CImageNRaw::IT_RGB444:
        return 3 * (w / 2) + 2 * (w % 2);
    default:
        return 3 * w;
    }
}

} // namespace

CImageNRaw::CImageNRaw() : frameSize(0), fileOffsetFrame1(0), nrawImageType(IT_UNDEF), bytesPerSample(0) {
    CImageBase::Unload();
    CImageNRaw::UnloadHeader();
}

CImageNRaw::~CImageNRaw() {
    CImageNRaw::UnloadHeader();
    CImageBase::UnloadData();
}

void CImageNRaw::UnloadHeader() {
    CImageBase::UnloadHeader();
    meta.Unload();
    bytesPerSample = 0;
    frameSize = 0;
    fileOffsetFrame1 = 0;
    nrawImageType = IT_UNDEF;
}

bool CImageNRaw::DetectFormat(const char *filename) {
    FILE *f = filename ? QOR_OpenRegularFile(filename, "rb") : nullptr;
    if (!f)
        return false;
    char sig[4];
    const bool ok = std::fread(sig, 1, 4, f) == 4 && std::memcmp(sig, "NRAW", 4) == 0;
    std::fclose(f);
    return ok;
}

const char *CImageNRaw::LoadFileHeader(const char *filename, void *) {
    CImageBase::Unload();
    meta.Unload();
    FILE *f = filename ? QOR_OpenRegularFile(filename, "rb") : nullptr;
    if (!f)
        return "Error opening file";
    QOR_UINT8 b[HEADER_SIZE];
    const bool read = std::fread(b, 1, HEADER_SIZE, f) == static_cast<size_t>(HEADER_SIZE);
    std::fclose(f);
    if (!read)
        return "Error loading header";
    NRAWHEADER h;
    std::memcpy(h.signature, b, 4);
    h.width = Le16(b + 4);
    h.height = Le16(b + 6);
    h.bitDepth = Le16(b + 8);
    h.bytesPerSample = Le16(b + 10);
    h.bayerType = Le16(b + 12);
    h.headerVersion = Le16(b + 14);
    h.sensorCfgNum = Le16(b + 16);
    h.imageType = Le16(b + 18);
    h.chipID = Le32(b + 32);
    std::memcpy(h.fwVersion, b + 36, sizeof(h.fwVersion));
    std::memcpy(h.make, b + 50, sizeof(h.make));
    std::memcpy(h.model, b + 80, sizeof(h.model));
    h.numFrames = Le16(b + 114);
    for (int i = 0; i < 4; ++i)
        h.opticalBlack[i] = Le16(b + 116 + 2 * i);

    const char *res = nullptr;
    if (std::memcmp(h.signature, "NRAW", 4) != 0)
        res = "Invalid NRAW file header";
    else if (h.headerVersion != 0x0100 && h.headerVersion != 0x0200)
        res = "Unsupported header version";
    else if (h.bitDepth < 1 || h.bitDepth > 31 || h.bytesPerSample < 1 || h.bytesPerSample > 4)
        res = "Unsupported bit depth - above 31-bit signed";
    else if (!imageio::ValidSize(h.width, h.height))
        res = "Invalid NRAW file header";
    if (res)
        return res;

    width = h.width;
    height = h.height;
    subsMode = SUBS_UNDEF;
    fileOffsetFrame1 = DATA_OFFSET;
    nrawImageType = static_cast<imageTypesEnum>(h.imageType);
    bytesPerSample = static_cast<QOR_UINT8>(h.bytesPerSample);
    QOR_UINT8 depths[3] = {static_cast<QOR_UINT8>(h.bitDepth), static_cast<QOR_UINT8>(h.bitDepth),
                           static_cast<QOR_UINT8>(h.bitDepth)};
    switch (h.imageType) {
    case IT_BAYER:
        colorModel = CM_RGGB;
        switch (h.bayerType) {
        case BT_RGGB:
        case BT_UNDEF:
            subsMode = SUBS_RGGB;
            break;
        case BT_GRBG:
            subsMode = SUBS_GRBG;
            break;
        case BT_GBRG:
            subsMode = SUBS_GBRG;
            break;
        case BT_BGGR:
            subsMode = SUBS_BGGR;
            break;
        default:
            res = "Unsupported bayer type";
        }
        break;
    case IT_YUV422:
        colorModel = CM_YUV;
        subsMode = SUBS_422;
        break;
    case IT_RGB565:
        colorModel = CM_RGB;
        depths[0] = 5, depths[1] = 6, depths[2] = 5;
        break;
    case IT_RGB444:
        colorModel = CM_RGB;
        depths[0] = depths[1] = depths[2] = 4;
        break;
    case IT_RGB888:
        colorModel = CM_RGB;
        depths[0] = depths[1] = depths[2] = 8;
        break;
    default:
        res = "Unsupported image type";
    }
    if (res) {
        UnloadHeader();
        return res;
    }
    frameSize = 0;
    for (QOR_INT32 c = 0; c < GetNColChannels(); ++c) {
        COLCHANNEL &ch = chnl[c];
        ch.bitDepth = c < 3 ? depths[c] : depths[0];
        ch.isSigned = false;
        ch.data = nullptr;
        ch.chnlWidth = (width + GetXSampling(c) - 1) / GetXSampling(c);
        ch.chnlHeight = (height + GetYSampling(c) - 1) / GetYSampling(c);
        frameSize += static_cast<QOR_INT64>(ch.chnlWidth) * ch.chnlHeight * bytesPerSample;
    }
    /* A Bayer frame holds the width x height samples of its mosaic (for odd sizes fewer than the planes, whose
     * sides round up), and packed RGB frames are as long as their packed rows, not three samples per pixel. */
    if (colorModel == CM_RGGB)
        frameSize = static_cast<QOR_INT64>(width) * height * bytesPerSample;
    if (colorModel == CM_RGB)
        frameSize = PackedRowBytes(nrawImageType, width) * height;
    if (!imageio::SetFileName(*this, filename)) {
        UnloadHeader();
        return "Error opening file";
    }
    if (h.sensorCfgNum)
        meta.UpdateInt("SENSOR_CFG_NUM", h.sensorCfgNum, IFEX_REPLACE);
    if (h.chipID)
        meta.UpdateInt("CHIP_ID", static_cast<int>(h.chipID), IFEX_REPLACE);
    struct Text {
        const char *name;
        const char *field;
        size_t size;
    };
    const Text texts[] = {{"FW_VERSION", h.fwVersion, sizeof(h.fwVersion)},
                          {"CAMERA_MAKE", h.make, sizeof(h.make)},
                          {"CAMERA_MODEL", h.model, sizeof(h.model)}};
    for (const Text &t : texts) {
        if (!t.field[0])
            continue;
        char buf[40];
        size_t n = 0;
        while (n < t.size && t.field[n])
            ++n;
        std::memcpy(buf, t.field, n);
        buf[n] = '\0';
        meta.UpdateStr(t.name, buf, IFEX_REPLACE);
    }
    if (h.numFrames)
        meta.UpdateInt("NUM_FRAMES", h.numFrames, IFEX_REPLACE);
    if (h.opticalBlack[0] || h.opticalBlack[1] || h.opticalBlack[2] || h.opticalBlack[3])
        meta.UpdateStrFmt("OPTICAL_BLACK", IFEX_REPLACE, "%d %d %d %d", h.opticalBlack[0], h.opticalBlack[1],
                          h.opticalBlack[2], h.opticalBlack[3]);
    return nullptr;
}

const char *CImageNRaw::LoadFileData(QOR_INT32 frameIndex) {
    if (!IsHeaderLoaded())
        return "File header not loaded";
    if (GetNColChannels() < 1)
        return "Invalid color model";
    FILE *f = QOR_OpenRegularFile(fileName, "rb");
    if (!f)
        return "Error opening file";
    const char *res = nullptr;
    const QOR_INT64 fileSize = imageio::FileSize(f);
    /* Frames begin frameSize bytes apart, the bytes of their rows. */
    const QOR_INT64 frameBytes = frameSize;
    const int *layout = BayerLayout(subsMode);
    if (nrawImageType == IT_BAYER && !layout)
        res = "Unsupported bayer type";
    else if (nrawImageType > IT_RGB888)
        res = "Unsupported image type";
    /* The frame must lie in the file before planes are sized for it. */
    else if (frameIndex < 0 || frameSize < 1 || fileSize < fileOffsetFrame1 ||
             frameIndex > (fileSize - fileOffsetFrame1) / frameSize ||
             fileSize - fileOffsetFrame1 - frameSize * frameIndex < frameBytes ||
             !imageio::SeekTo(f, fileOffsetFrame1 + frameSize * frameIndex))
        res = "Error reading frame data";
    else if (!imageio::AllocPlanes(*this))
        res = "Error reading frame data";
    /* A mosaic of odd width or height reaches only some cells of the last plane column or row: those hold 0. */
    else if (nrawImageType == IT_BAYER && ((width | height) & 1))
        imageio::ZeroPlanes(*this);

    const size_t bps = bytesPerSample;
    const QOR_UINT32 mask = chnl[0].bitDepth >= 32 ? 0xFFFFFFFFu : (1u << chnl[0].bitDepth) - 1;
    std::vector<QOR_UINT8> row;
    auto readRow = [&](size_t bytes) {
        row.resize(bytes);
        return std::fread(row.data(), 1, bytes, f) == bytes;
    };
    auto sample = [&](size_t i) {
        QOR_UINT32 v = 0;
        for (size_t k = bps; k-- > 0;)
            v = (v << 8) | row[i * bps + k];
        return static_cast<PIXEL>(v & mask);
    };
    if (!res && nrawImageType == IT_BAYER) {
        for (QOR_INT32 y = 0; y < height && !res; ++y) {
            if (!readRow(static_cast<size_t>(width) * bps)) {
                res = "Error reading frame data";
                break;
            }
            for (QOR_INT32 x = 0; x < width; ++x) {
                const int c = layout[2 * (y & 1) + (x & 1)];
                chnl[c].data[static_cast<QOR_INT64>(y / 2) * chnl[c].chnlWidth + x / 2] =
                    sample(static_cast<size_t>(x));
            }
        }
    } else if (!res && nrawImageType == IT_YUV422) {
        for (int c = 0; c < 3 && !res; ++c)
            for (QOR_INT32 y = 0; y < chnl[c].chnlHeight; ++y) {
                const size_t w = static_cast<size_t>(chnl[c].chnlWidth);
                if (!readRow(w * bps)) {
                    res = "Error reading frame data";
                    break;
                }
                PIXEL *dst = chnl[c].data + static_cast<QOR_INT64>(y) * chnl[c].chnlWidth;
                for (size_t x = 0; x < w; ++x)
                    dst[x] = sample(x);
            }
    } else if (!res) {
        for (QOR_INT32 y = 0; y < height && !res; ++y) {
            if (!readRow(static_cast<size_t>(PackedRowBytes(nrawImageType, width)))) {
                res = "Error reading frame data";
                break;
            }
            const QOR_INT64 base = static_cast<QOR_INT64>(y) * width;
            PIXEL *r = chnl[0].data + base, *g = chnl[1].data + base, *b = chnl[2].data + base;
            for (QOR_INT32 x = 0; x < width; ++x) {
                const size_t ux = static_cast<size_t>(x);
                if (nrawImageType == IT_RGB565) {
                    const QOR_UINT32 w = static_cast<QOR_UINT32>(row[2 * ux] | (row[2 * ux + 1] << 8));
                    r[x] = static_cast<PIXEL>(w & 31);
                    g[x] = static_cast<PIXEL>((w >> 5) & 63);
                    b[x] = static_cast<PIXEL>(w >> 11);
                } else if (nrawImageType == IT_RGB888) {
                    r[x] = row[3 * ux];
                    g[x] = row[3 * ux + 1];
                    b[x] = row[3 * ux + 2];
                } else {
                    const QOR_UINT8 *p = row.data() + 3 * (ux / 2);
                    if ((x & 1) == 0) {
                        r[x] = p[0] & 15;
                        g[x] = p[0] >> 4;
                        b[x] = p[1] & 15;
                    } else {
                        r[x] = p[1] >> 4;
                        g[x] = p[2] & 15;
                        b[x] = p[2] >> 4;
                    }
                }
            }
        }
    }
    std::fclose(f);
    if (res)
        UnloadData();
    return res;
}

const char *CImageNRaw::SaveFileStart(const char *, void *, void **pSC) {
    (void)pSC;
    return "Not supported";
}
const char *CImageNRaw::SaveFileHeader(void *) { return "Not supported"; }
const char *CImageNRaw::SaveFileData(void *) { return "Not supported"; }
const char *CImageNRaw::SaveFileEnd(void *) { return "Not supported"; }

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImageNRaw *pIm) {
    return GetSaveFormat(pFmt, static_cast<CImageBase *>(pIm));
}
