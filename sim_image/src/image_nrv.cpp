#include "image_nrv.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <strings.h>
#include <sys/types.h>

#include "image_file_io.h"
#include "norvacommon/regular_file.h"

namespace {

/* What a save gives when its data does not all reach the file. */
const char kWriteError[] = "Error writing file";

const char *const kColourNames[] = {nullptr, "Grayscale", "RGB", "RGBA", "RGGB", "RGBW", "YUV", "YUVA"};
const char *const kDroppedItems[] = {"SUBSAMPLING",       "ISO_GAIN",          "SENSOR_DENSITY",
                                     "GAMMA_BLACK_POINT", "GAMMA_WHITE_POINT", "CHANNEL_NOMINAL_RANGE"};
const QOR_INT32 kHeaderSize = 64;
const QOR_INT32 kMaxGroupSize = 99; /* the writer stores group sizes modulo 100 */

struct SubsRow {
    SUBS_xxx mode;
    const char *hor, *ver, *phaseHor, *phaseVer;
};
/* Items that a Bayer order dictates when the describing metadata is rebuilt. */
const SubsRow kBayerRows[] = {
    {SUBS_RGGB, "2 2 2 2", "2 2 2 2", "0 1 0 1", "0 0 1 1"},
    {SUBS_GRBG, "2 2 2 2", "2 2 2 2", "1 0 1 0", "0 0 1 1"},
    {SUBS_GBRG, "2 2 2 2", "2 2 2 2", "0 1 0 1", "1 1 0 0"},
    {SUBS_BGGR, "2 2 2 2", "2 2 2 2", "1 0 1 0", "1 1 0 0"},
};
const SubsRow kYuvRows[] = {
    {SUBS_444, "1 1 1", "1 1 1", nullptr, nullptr},
    {SUBS_422, "1 2 2", "1 1 1", nullptr, nullptr},
    {SUBS_420, "1 2 2", "1 2 2", nullptr, nullptr},
};
/* Subsampling codes of the RGGB model: phase codes to Bayer order. */
struct BayerCode {
    QOR_UINT32 ph, pv;
    SUBS_xxx mode;
};
const BayerCode kBayerCodes[] = {
    {0x2020, 0x2200, SUBS_RGGB},
    {0x0202, 0x2200, SUBS_GRBG},
    {0x2020, 0x0022, SUBS_GBRG},
    {0x0202, 0x0022, SUBS_BGGR},
};
struct WordMode {
    const char *word;
    SUBS_xxx mode;
};
const WordMode kOldSubsWords[] = {{"RGGB", SUBS_RGGB}, {"GRBG", SUBS_GRBG}, {"GBRG", SUBS_GBRG}, {"BGGR", SUBS_BGGR},
                                  {"444", SUBS_444},   {"422", SUBS_422},   {"420", SUBS_420}};

QOR_INT64 Gcd(QOR_INT64 a, QOR_INT64 b) {
    while (b) {
        QOR_INT64 t = a % b;
        a = b;
        b = t;
    }
    return a;
}

bool IsDropped(const char *name) {
    for (const char *d : kDroppedItems)
        if (strcasecmp(d, name) == 0)
            return true;
    return false;
}

void DelAll(CMetaData *md, const char *name) {
    for (MDITEM *it = md->Find(name); it; it = md->Find(name))
        md->Del(it);
}

/* One 13-character table number: leading blanks, an optional sign, then digits up to the last character. */
bool ParseTableEntry(const char *s, QOR_INT64 *pVal) {
    int i = 0;
    while (i < 13 && s[i] == ' ')
        ++i;
    bool neg = false;
    if (i < 13 && (s[i] == '+' || s[i] == '-'))
        neg = s[i++] == '-';
    if (i >= 13)
        return false;
    QOR_INT64 v = 0;
    for (; i < 13; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
    }
    *pVal = neg ? -v : v;
    return true;
}

QOR_INT64 FileSize(FILE *f) {
    if (fseeko(f, 0, SEEK_END) != 0)
        return -1;
    return ftello(f);
}

/* Phase code of one channel: trunc(2 x offset + 0.5), low four bits; nonsense values give 0. */
QOR_UINT32 PhaseCode(double offset) {
    double v = 2.0 * offset + 0.5;
    if (!(v > -1e9 && v < 1e9))
        return 0;
    return static_cast<QOR_UINT32>(static_cast<QOR_INT64>(v)) & 0xFu;
}

void StoreLE(QOR_UINT8 *p, QOR_UINT64 v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<QOR_UINT8>(v >> (8 * i));
}

QOR_UINT64 LoadLE(const QOR_UINT8 *p, int bytes) {
    QOR_UINT64 v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<QOR_UINT64>(p[i]) << (8 * i);
    return v;
}

/* Sign-extends the low `bits` bits of v. */
QOR_INT64 SignExtend(QOR_UINT64 v, int bits) {
    QOR_UINT64 m = static_cast<QOR_UINT64>(1) << (bits - 1);
    v &= (m << 1) - 1;
    return static_cast<QOR_INT64>(v ^ m) - static_cast<QOR_INT64>(m);
}

PIXEL ClipSample(PIXEL v, const COLCHANNEL &c) {
    QOR_INT64 lo, hi;
    CImageBase::GetChannelRange(c, &lo, &hi);
    if (v < lo)
        return static_cast<PIXEL>(lo);
    if (v > hi)
        return static_cast<PIXEL>(hi);
    return v;
}

} // namespace

/* ---------------------------------------------------------------- records */

CImageNrv::nrvSegmentInfoStr::nrvSegmentInfoStr()
    : segmentOffset(0), segmentSize(0), frameOffsets(nullptr), NframeOffsets(0), Nframes(0), next(nullptr),
      pixelsEnd(0) {}

CImageNrv::nrvSegmentInfoStr::~nrvSegmentInfoStr() { delete[] frameOffsets; }

CImageNrv::CImageNrv()
    : pixelFormat(PACKM_UNDEF), pixelFormatParam{0, 0, 0, 0}, pSegInfo(nullptr), pCurrSeg(nullptr), lineBuf(nullptr),
      lineBufSize(0), dataFile(nullptr), dataFileName(nullptr), segIndexValid(false), segmentVisits(0) {
    Unload();
}

CImageNrv::~CImageNrv() {
    Unload();
    CloseDataFile();
    std::free(lineBuf);
}

FILE *CImageNrv::DataFile() {
    /* Playing a file frame after frame reads it through one open stream, without reopening it. */
    if (dataFile != nullptr && dataFileName != fileName)
        CloseDataFile();
    if (dataFile == nullptr && fileName != nullptr) {
        dataFile = QOR_OpenRegularFile(fileName, "rb");
        dataFileName = dataFile != nullptr ? fileName : nullptr;
    }
    return dataFile;
}

void CImageNrv::CloseDataFile() {
    if (dataFile != nullptr)
        std::fclose(dataFile);
    dataFile = nullptr;
    dataFileName = nullptr;
}

void CImageNrv::UnloadHeader() {
    CloseDataFile();
    pixelFormat = PACKM_UNDEF;
    for (auto &g : pixelFormatParam)
        g = 0;
    DropSegmentIndex();
    while (pSegInfo) {
        NRVSEGMENTINFO *n = pSegInfo->next;
        delete pSegInfo;
        pSegInfo = n;
    }
    pCurrSeg = nullptr;
    CImageBase::UnloadHeader();
}

QOR_INT32 CImageNrv::GetProperty(imagePropertiesEnum property) {
    if (property == PROPERTY_SUPPORT_VIDEO)
        return 1;
    if (property == PROPERTY_IS_VIDEO)
        return pSegInfo && (pSegInfo->Nframes > 1 || pSegInfo->next) ? 1 : 0;
    return 0;
}

QOR_INT32 CImageNrv::GetNFrames() { return GetNFrames(-1, nullptr); }

void CImageNrv::DropSegmentIndex() {
    segIndex.clear();
    segFirstFrame.clear();
    segIndexValid = false;
}

bool CImageNrv::IndexSegments() {
    if (segIndexValid)
        return true;
    DropSegmentIndex();
    try {
        QOR_INT64 first = 0;
        for (NRVSEGMENTINFO *s = pSegInfo; s; s = s->next) {
            segIndex.push_back(s);
            segFirstFrame.push_back(first);
            first += s->Nframes;
        }
        segFirstFrame.push_back(first);
    } catch (const std::bad_alloc &) {
        DropSegmentIndex();
        return false;
    }
    segIndexValid = true;
    return true;
}

QOR_INT32 CImageNrv::GetNFrames(QOR_INT32 segmentIndex, QOR_INT32 *pFirstFrame) {
    if (IndexSegments()) {
        const QOR_INT64 n = static_cast<QOR_INT64>(segIndex.size());
        if (segmentIndex >= 0 && segmentIndex < n) {
            if (pFirstFrame)
                *pFirstFrame = static_cast<QOR_INT32>(segFirstFrame[static_cast<size_t>(segmentIndex)]);
            return segIndex[static_cast<size_t>(segmentIndex)]->Nframes;
        }
        if (segmentIndex >= 0)
            return 0;
        if (pFirstFrame)
            *pFirstFrame = 0;
        const QOR_INT64 total = segFirstFrame.back();
        return static_cast<QOR_INT32>(total > INT32_MAX ? INT32_MAX : total);
    }
    QOR_INT64 first = 0;
    QOR_INT32 i = 0;
    for (NRVSEGMENTINFO *s = pSegInfo; s; s = s->next, ++i) {
        if (i == segmentIndex) {
            if (pFirstFrame)
                *pFirstFrame = static_cast<QOR_INT32>(first);
            return s->Nframes;
        }
        first += s->Nframes;
    }
    if (segmentIndex >= 0)
        return 0;
    if (pFirstFrame)
        *pFirstFrame = 0;
    return static_cast<QOR_INT32>(first > INT32_MAX ? INT32_MAX : first);
}

QOR_INT32 CImageNrv::GetNSegments() {
    if (IndexSegments())
        return static_cast<QOR_INT32>(segIndex.size());
    QOR_INT32 n = 0;
    for (NRVSEGMENTINFO *s = pSegInfo; s; s = s->next)
        ++n;
    return n;
}

NRVSEGMENTINFO *CImageNrv::GetSegment(QOR_INT32 index, bool isFrameIndex) {
    if (index < 0)
        return nullptr;
    if (isFrameIndex) {
        NRVSEGMENTINFO *seg = nullptr;
        return GetSegmentIndex(index, nullptr, &seg) < 0 ? nullptr : seg;
    }
    if (IndexSegments())
        return static_cast<size_t>(index) < segIndex.size() ? segIndex[static_cast<size_t>(index)] : nullptr;
    NRVSEGMENTINFO *s = pSegInfo;
    for (QOR_INT32 i = 0; s && i < index; ++i)
        s = s->next;
    return s;
}

QOR_INT32 CImageNrv::GetSegmentIndex(QOR_INT32 frameIndex, QOR_INT32 *pFrameWithinSeg, NRVSEGMENTINFO **ppSeg) {
    if (frameIndex < 0)
        return -1;
    if (IndexSegments()) {
        /* The first segment whose frames end after the frame (segments without frames are passed over). */
        size_t lo = 0, hi = segIndex.size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            ++segmentVisits;
            if (segFirstFrame[mid + 1] > frameIndex)
                hi = mid;
            else
                lo = mid + 1;
        }
        if (lo == segIndex.size())
            return -1;
        if (pFrameWithinSeg)
            *pFrameWithinSeg = static_cast<QOR_INT32>(frameIndex - segFirstFrame[lo]);
        if (ppSeg)
            *ppSeg = segIndex[lo];
        return static_cast<QOR_INT32>(lo);
    }
    QOR_INT64 first = 0;
    QOR_INT32 i = 0;
    for (NRVSEGMENTINFO *s = pSegInfo; s; s = s->next, ++i) {
        ++segmentVisits;
        if (frameIndex < first + s->Nframes) {
            if (pFrameWithinSeg)
                *pFrameWithinSeg = static_cast<QOR_INT32>(frameIndex - first);
            if (ppSeg)
                *ppSeg = s;
            return i;
        }
        first += s->Nframes;
    }
    return -1;
}

QOR_INT64 CImageNrv::GetFrameFilePos(QOR_INT32 frameIndex, QOR_INT64 *pFrameSize) {
    NRVSEGMENTINFO *s = nullptr;
    QOR_INT32 k = 0;
    if (GetSegmentIndex(frameIndex, &k, &s) < 0 || !s->frameOffsets || s->NframeOffsets < 1)
        return -1;
    QOR_INT32 K = s->NframeOffsets;
    QOR_INT64 off, size;
    if (k < K) {
        off = s->frameOffsets[k];
        size = s->frameOffsets[k + 1] - s->frameOffsets[k];
    } else {
        size = s->frameOffsets[K] - s->frameOffsets[K - 1];
        off = s->frameOffsets[K] + static_cast<QOR_INT64>(k - K) * size;
    }
    if (pFrameSize)
        *pFrameSize = size;
    return s->segmentOffset + off;
}

CMetaData *CImageNrv::GetMetaForFrame(QOR_INT32 frameIndex) {
    NRVSEGMENTINFO *s = GetSegment(frameIndex, true);
    return s ? &s->meta : nullptr;
}

/* ---------------------------------------------------------------- reading */

const char *CImageNrv::LoadFileHeader(const char *filename, void *) {
    Unload();
    FILE *f = filename ? QOR_OpenRegularFile(filename, "rb") : nullptr;
    if (!f)
        return "Error opening file";
    QOR_INT64 size = FileSize(f);
    if (size <= 7) {
        std::fclose(f);
        return "Invalid NRV file";
    }
    const char *res = nullptr;
    QOR_INT64 pos = 0;
    QOR_INT64 totalFrames = 0;
    NRVSEGMENTINFO *last = nullptr; /* appending at a known end keeps files of many segments linear */
    for (;;) {
        NRVSEGMENTINFO *seg = NewSegment();
        if (!seg) {
            res = "Out of memory";
            break;
        }
        res = LoadNrvSegmentHeader(f, pos, size, seg);
        if (res) {
            delete seg;
            break;
        }
        if (last)
            last->next = seg;
        else
            pSegInfo = seg;
        last = seg;
        totalFrames += seg->Nframes;
        if (totalFrames > INT32_MAX) {
            res = "Invalid frame size";
            break;
        }
        /* The segment size is at least its own header, so the walk always advances. */
        QOR_INT64 end = pos + seg->segmentSize;
        if (end > size) {
            res = "File appears truncated";
            break;
        }
        if (end == size)
            break;
        pos = end;
    }
    std::fclose(f);
    if (!res) {
        fileName = strdup(filename);
        if (!fileName)
            res = "Out of memory";
    }
    if (!res)
        res = ApplyMetaForFrame(0, true);
    if (res)
        Unload();
    return res;
}

const char *CImageNrv::LoadNrvSegmentHeader(FILE *f, QOR_INT64 segStart, QOR_INT64 fileSize, NRVSEGMENTINFO *pSeg) {
    pSeg->segmentOffset = segStart;
    char hdr[8];
    if (fileSize - segStart < 8 || fseeko(f, segStart, SEEK_SET) != 0 || std::fread(hdr, 1, 8, f) != 8)
        return segStart == 0 ? "File not valid"
                             : "Can't read segment header in multi-segment file (extra data at end of file?)";
    if (std::memcmp(hdr, "NRV", 3) != 0 || hdr[4] != '\n' || !std::isdigit(static_cast<unsigned char>(hdr[5])) ||
        !std::isdigit(static_cast<unsigned char>(hdr[6])) || hdr[7] != ' ')
        return "Invalid segment header";
    if (hdr[3] != '1')
        return "Unsupported file version";
    const QOR_INT32 N = (hdr[5] - '0') * 10 + (hdr[6] - '0');
    if (N < 4)
        return "Unexpected header (table size too small)";

    QOR_INT64 table[MAX_TABLE_ENTRIES];
    for (QOR_INT32 i = 0; i < N; ++i) {
        char e[14];
        if (std::fread(e, 1, 14, f) != 14)
            return "Error reading header";
        if (!ParseTableEntry(e, &table[i]))
            return "Error in header (table format)";
        /* Offsets and sizes are never negative: a negative pair could make the segment walk stand still. */
        if (table[i] < 0)
            return "Error in header (table format)";
    }
    const QOR_INT64 metaOff = table[SOTE_METAOFFS], metaSize = table[SOTE_METASIZE];
    const QOR_INT64 pixOff = table[SOTE_PIXELSOFFS], pixSize = table[SOTE_PIXELSSIZE];
    if (metaSize == 0)
        return "Missing meta data section";
    if (pixSize == 0)
        return "Missing pixel data section";
    if (segStart + metaOff + metaSize > fileSize)
        return "Invalid meta data offset and/or size";
    if (segStart + pixOff + pixSize > fileSize)
        return "Invalid image data offset and/or size";
    if (metaSize > MAX_META_SIZE)
        return "Meta data size too large";

    /* Segment size: the (offset, size) pair with the largest offset, the first among equal offsets. */
    QOR_INT32 best = 0;
    for (QOR_INT32 i = 2; i + 1 < N; i += 2)
        if (table[i] > table[best])
            best = i;
    pSeg->segmentSize = table[best] + table[best + 1];
    if (pSeg->segmentSize < 8 + 14 * static_cast<QOR_INT64>(N))
        return "Error in header (table format)";

    char *text = static_cast<char *>(std::malloc(static_cast<size_t>(metaSize) + 1));
    if (!text)
        return "Out of memory";
    if (fseeko(f, segStart + metaOff, SEEK_SET) != 0 ||
        std::fread(text, 1, static_cast<size_t>(metaSize), f) != static_cast<size_t>(metaSize)) {
        std::free(text);
        return "Error reading header";
    }
    text[metaSize] = '\0';
    pSeg->meta.Unload();
    const char *p = text, *end = text + metaSize;
    while (p < end) {
        if (*p == '\n') {
            ++p;
            continue;
        }
        const char *next = pSeg->meta.AddFromString(p, IFEX_IGNORE, nullptr);
        if (!next) {
            std::free(text);
            return "Error loading meta data";
        }
        p = next;
    }
    std::free(text);

    /* Frame table from "FRAME_SIZE", read in one pass. */
    pSeg->pixelsEnd = pixOff + pixSize;
    QOR_INT32 K = pSeg->meta.GetMetaValCount("FRAME_SIZE");
    if (K > 0) {
        pSeg->frameOffsets = new (std::nothrow) QOR_INT64[static_cast<size_t>(K) + 1];
        if (!pSeg->frameOffsets)
            return "Out of memory";
        pSeg->frameOffsets[0] = pixOff;
        const char *v = pSeg->meta.GetMetaStr("FRAME_SIZE", "");
        for (QOR_INT32 i = 0; i < K; ++i) {
            while (std::isspace(static_cast<unsigned char>(*v)))
                ++v;
            char *after = nullptr;
            long long fs = std::strtoll(v, &after, 10);
            if (after == v || fs <= 0 || fs > INT32_MAX)
                return "Invalid frame size";
            while (*after && !std::isspace(static_cast<unsigned char>(*after)))
                ++after;
            v = after;
            pSeg->frameOffsets[i + 1] = pSeg->frameOffsets[i] + fs;
        }
    } else {
        CImageNrv tmp;
        const char *res = tmp.ApplyMetaData(pSeg);
        if (res)
            return res;
        QOR_INT64 fs = tmp.GetFrameSize(nullptr);
        pSeg->frameOffsets = new (std::nothrow) QOR_INT64[2];
        if (!pSeg->frameOffsets)
            return "Out of memory";
        pSeg->frameOffsets[0] = pixOff;
        pSeg->frameOffsets[1] = pixOff + fs;
        K = 1;
    }
    pSeg->NframeOffsets = K;
    /* Frames are counted inside the pixel section, never into whatever follows it in the segment. */
    if (pSeg->frameOffsets[K] > pSeg->pixelsEnd)
        return "Invalid image data offset and/or size";
    QOR_INT64 last = pSeg->frameOffsets[K] - pSeg->frameOffsets[K - 1];
    QOR_INT64 n = K + (last > 0 ? (pSeg->pixelsEnd - pSeg->frameOffsets[K]) / last : 0);
    if (n > INT32_MAX)
        return "Invalid frame size";
    pSeg->Nframes = static_cast<QOR_INT32>(n);
    return nullptr;
}

const char *CImageNrv::ApplyMetaForFrame(QOR_INT32 frameIndex, bool force) {
    NRVSEGMENTINFO *s = GetSegment(frameIndex, true);
    if (!s)
        return "Invalid frame number";
    if (force || s != pCurrSeg)
        return ApplyMetaData(s);
    return nullptr;
}

const char *CImageNrv::ApplyMetaData(NRVSEGMENTINFO *pSeg) {
    if (!pSeg)
        return "Invalid frame number";
    CMetaData *md = &pSeg->meta;

    const QOR_INT32 w = md->GetMetaInt("WIDTH", 0, 0, false);
    const QOR_INT32 h = md->GetMetaInt("HEIGHT", 0, 0, false);
    if (w < 1 || h < 1 || w > MAX_DIMENSION || h > MAX_DIMENSION)
        return "Invalid frame size";

    colorModelEnum model = CM_UNDEF;
    const char *cf = md->GetMetaStr("COLOUR_FORMAT", nullptr);
    if (!cf) {
        model = CM_RGB;
    } else if (std::strcmp(cf, "Bayer") == 0) {
        model = CM_RGGB;
    } else {
        for (int m = 1; m <= 7; ++m)
            if (strcasecmp(cf, kColourNames[m]) == 0)
                model = static_cast<colorModelEnum>(m);
        if (model == CM_UNDEF)
            return "Invalid colour format";
    }

    packingModeEnum packing;
    QOR_INT32 groups[4] = {0, 0, 0, 0};
    const char *pf = md->GetMetaStr("PIXEL_FORMAT", nullptr);
    if (!pf || strcasecmp(pf, "unpackedR") == 0) {
        packing = PACKM_UNPACKEDR;
    } else if (strcasecmp(pf, "unpackedL") == 0) {
        packing = PACKM_UNPACKEDL;
    } else if (strncasecmp(pf, "grouppacked ", 12) == 0) {
        packing = PACKM_GROUPPACK;
        const char *p = pf + 12;
        int count = 0;
        for (; count < 4; ++count) {
            while (std::isspace(static_cast<unsigned char>(*p)))
                ++p;
            char *after = nullptr;
            long long g = std::strtoll(p, &after, 10);
            if (after == p)
                break;
            /* Group sizes the writer can produce are 1 to 99; others would only make line sizes explode. */
            if (g < 1 || g > kMaxGroupSize)
                return "Invalid group packing value";
            groups[count] = static_cast<QOR_INT32>(g);
            p = after;
        }
        if (count == 0)
            return "Invalid group packing value";
        for (int i = count; i < 4; ++i)
            groups[i] = groups[count - 1];
    } else {
        return "Invalid pixel format";
    }

    /* Everything is checked before the image changes: a refused segment leaves the description as it was. */
    const QOR_INT32 n = GetColorModelInfo(model)->Nchannels;
    for (QOR_INT32 c = 0; c < n; ++c) {
        const QOR_INT32 bd = md->GetMetaInt("BITDEPTH", 8, c, true);
        if (bd < 1 || bd > 31)
            return "Invalid pixel format";
    }

    const QOR_INT32 oldN = GetNColChannels();
    COLCHANNEL old[4];
    std::memcpy(old, chnl, sizeof(old));

    pCurrSeg = pSeg;
    width = w;
    height = h;
    colorModel = model;
    if (md->Find("SUBSAMPLING_HOR") || md->Find("SUBSAMPLING_VER") || md->Find("SUBSAMPLING"))
        subsMode = DetectNrvSubsampling(this, md);
    else if (model == CM_YUV || model == CM_YUVA)
        subsMode = SUBS_444;
    else if (model == CM_RGGB)
        subsMode = SUBS_RGGB;
    else if (!GetColorModelInfo(model)->isSubsSupport)
        subsMode = SUBS_UNDEF; /* grey and RGB planes are full size, whatever an earlier segment held */
    pixelFormat = packing;
    std::memcpy(pixelFormatParam, groups, sizeof(groups));

    bool changed = n != oldN;
    for (QOR_INT32 c = 0; c < n; ++c) {
        chnl[c].bitDepth = static_cast<QOR_UINT8>(md->GetMetaInt("BITDEPTH", 8, c, true));
        chnl[c].isSigned = md->GetMetaInt("SIGNED", 0, c, true) != 0;
        chnl[c].chnlWidth = (w + GetXSampling(c) - 1) / GetXSampling(c);
        chnl[c].chnlHeight = (h + GetYSampling(c) - 1) / GetYSampling(c);
        if (chnl[c].chnlWidth != old[c].chnlWidth || chnl[c].chnlHeight != old[c].chnlHeight)
            changed = true;
    }
    for (QOR_INT32 c = n; c < 4; ++c) {
        chnl[c].chnlWidth = chnl[c].chnlHeight = 0;
        chnl[c].bitDepth = 0;
        chnl[c].isSigned = false;
    }
    if (changed)
        UnloadData();
    return nullptr;
}

SUBS_xxx CImageNrv::GetSubsampling(CMetaData *pMD) {
    return DetectNrvSubsampling(this, pMD ? pMD : (pCurrSeg ? &pCurrSeg->meta : nullptr));
}

SUBS_xxx CImageNrv::DetectNrvSubsampling(CImageBase *pImData, CMetaData *pMD) {
    if (!pMD)
        return SUBS_UNDEF;
    if (!pMD->Find("SUBSAMPLING_HOR") && !pMD->Find("SUBSAMPLING_VER")) {
        const char *word = pMD->GetMetaStr("SUBSAMPLING", nullptr);
        if (word)
            for (const auto &w : kOldSubsWords)
                if (std::strcmp(word, w.word) == 0)
                    return w.mode;
        return SUBS_UNDEF;
    }
    const QOR_INT32 n = pImData ? pImData->GetNColChannels() : 0;
    if (n < 1 || n > 8)
        return SUBS_UNDEF;
    QOR_UINT32 sh = 0, sv = 0, ph = 0, pv = 0;
    for (QOR_INT32 c = 0; c < n; ++c) {
        sh |= (static_cast<QOR_UINT32>(pMD->GetMetaInt("SUBSAMPLING_HOR", 1, c, true)) & 0xFu) << (4 * c);
        sv |= (static_cast<QOR_UINT32>(pMD->GetMetaInt("SUBSAMPLING_VER", 1, c, true)) & 0xFu) << (4 * c);
        ph |= PhaseCode(pMD->GetMetaDouble("PHASE_OFFSET_HOR", 0.0, c, true)) << (4 * c);
        pv |= PhaseCode(pMD->GetMetaDouble("PHASE_OFFSET_VER", 0.0, c, true)) << (4 * c);
    }
    const CM_xxx model = pImData->colorModel;
    if (model == CM_RGGB) {
        if (sh != 0x2222 || sv != 0x2222)
            return SUBS_UNDEF;
        for (const auto &b : kBayerCodes)
            if (ph == b.ph && pv == b.pv)
                return b.mode;
        return SUBS_UNDEF;
    }
    if (model == CM_YUV || model == CM_YUVA) {
        if (sh == 0x111 && sv == 0x111 && ph == 0 && pv == 0)
            return SUBS_444;
        if (sh == 0x221 && sv == 0x111 && pv == 0 && (ph == 0 || ph == 0x110))
            return SUBS_422;
        if (sh == 0x221 && sv == 0x221 && ((ph == 0 && pv == 0) || (pv == 0x110 && (ph == 0 || ph == 0x110))))
            return SUBS_420;
    }
    return SUBS_UNDEF;
}

/* ---------------------------------------------------------------- geometry */

CImageBase *CImageNrv::SaveImage(NRVSAVEFORMAT *pFormat) {
    return pFormat && pFormat->pImData ? pFormat->pImData : this;
}

PACKM_xxx CImageNrv::GetPacking(NRVSAVEFORMAT *pFormat) { return pFormat ? pFormat->pixelFormat : pixelFormat; }

QOR_INT32 CImageNrv::ContainerBytes(QOR_INT32 bitDepth) { return bitDepth <= 8 ? 1 : (bitDepth <= 16 ? 2 : 4); }

const char *CImageNrv::ColourFormatName(QOR_INT32 model) {
    return model >= 1 && model <= 7 ? kColourNames[model] : nullptr;
}

QOR_UINT32 CImageNrv::GetNFilePlanes(NRVSAVEFORMAT *pFormat) {
    const QOR_INT32 n = SaveImage(pFormat)->GetNColChannels();
    if (pFormat) {
        QOR_INT32 sum = 0;
        for (QOR_UINT32 p = 0; p < 3; ++p) {
            sum += pFormat->planeFormat[p];
            if (sum >= n)
                return p + 1;
        }
        return 4;
    }
    QOR_INT32 count = pCurrSeg ? pCurrSeg->meta.GetMetaValCount("PLANE_FORMAT") : 0;
    if (count == 0)
        return static_cast<QOR_UINT32>(n);
    /* More than four planes can never be valid; five stands for all of them and keeps the walks short. */
    return static_cast<QOR_UINT32>(count > 5 ? 5 : count);
}

QOR_INT32 CImageNrv::GetNChannelsInPlane(QOR_INT32 plane, NRVSAVEFORMAT *pFormat) {
    if (pFormat)
        return plane >= 0 && plane < 4 ? pFormat->planeFormat[plane] : 0;
    if (!pCurrSeg || !pCurrSeg->meta.Find("PLANE_FORMAT"))
        return 1;
    return pCurrSeg->meta.GetMetaInt("PLANE_FORMAT", 1, plane, true);
}

QOR_INT32 CImageNrv::GetPlaneBaseChannel(QOR_INT32 plane, NRVSAVEFORMAT *pFormat) {
    QOR_INT64 sum = 0;
    for (QOR_INT32 p = 0; p < plane && p < 5; ++p)
        sum += GetNChannelsInPlane(p, pFormat);
    return static_cast<QOR_INT32>(sum > 64 ? 64 : (sum < -64 ? -64 : sum));
}

QOR_INT32 CImageNrv::GetLineAlign(QOR_INT32 plane, NRVSAVEFORMAT *pFormat) {
    if (pFormat)
        return pFormat->lineAlign;
    return pCurrSeg ? pCurrSeg->meta.GetMetaInt("LINE_ALIGN", 1, plane, true) : 1;
}

QOR_INT32 CImageNrv::GetGroupSize(QOR_INT32 plane, NRVSAVEFORMAT *pFormat) {
    const QOR_INT32 *g = pFormat ? pFormat->pixelFormatParam : pixelFormatParam;
    return g[plane < 0 ? 0 : (plane > 3 ? 3 : plane)];
}

QOR_INT64 CImageNrv::LineSizeOf(CImageBase *pIm, QOR_INT32 b, QOR_INT32 n, packingModeEnum packing, QOR_INT32 group,
                                QOR_INT32 align) {
    const QOR_INT32 N = pIm->GetNColChannels();
    if (N == 0 || n < 1 || b < 0 || static_cast<QOR_INT64>(b) + n > N)
        return 0;
    for (QOR_INT32 k = 1; k < n; ++k)
        if (pIm->GetXSampling(b + k) != pIm->GetXSampling(b))
            return 0;
    const QOR_INT64 w = pIm->chnl[b].chnlWidth;
    if (w <= 0)
        return 0;
    QOR_INT64 size = 0;
    if (packing == PACKM_UNPACKEDR || packing == PACKM_UNPACKEDL) {
        QOR_INT64 perPixel = 0;
        for (QOR_INT32 k = 0; k < n; ++k)
            perPixel += ContainerBytes(pIm->chnl[b + k].bitDepth);
        size = w * perPixel;
    } else if (packing == PACKM_GROUPPACK) {
        const QOR_INT64 g = group <= 0 ? 1 : group;
        QOR_INT64 sumDepth = 0;
        for (QOR_INT32 k = 0; k < n; ++k)
            sumDepth += pIm->chnl[b + k].bitDepth;
        /* Bytes of the group that starts at sample `start` of the pattern, computed without walking it. */
        auto groupBytes = [&](QOR_INT64 start) {
            QOR_INT64 bits = (g / n) * sumDepth;
            for (QOR_INT64 k = 0; k < g % n; ++k)
                bits += pIm->chnl[b + (start + k) % n].bitDepth;
            return (bits + 7) / 8;
        };
        const QOR_INT64 P = n / Gcd(n, g) * g; /* lcm(n, g) */
        QOR_INT64 patternBytes = 0;
        for (QOR_INT64 j = 0; j < P / g; ++j)
            patternBytes += groupBytes(j * g);
        const QOR_INT64 S = w * n;
        size = (S / P) * patternBytes;
        const QOR_INT64 rem = S % P;
        for (QOR_INT64 j = 0; j < (rem + g - 1) / g; ++j)
            size += groupBytes(j * g);
    } else {
        return 0;
    }
    if (align >= 2)
        size = (size + align - 1) / align * align;
    return size;
}

QOR_INT64 CImageNrv::GetLineSize(QOR_INT32 plane, NRVSAVEFORMAT *pFormat) {
    return LineSizeOf(SaveImage(pFormat), GetPlaneBaseChannel(plane, pFormat), GetNChannelsInPlane(plane, pFormat),
                      GetPacking(pFormat), GetGroupSize(plane, pFormat), GetLineAlign(plane, pFormat));
}

QOR_INT64 CImageNrv::GetFrameSize(NRVSAVEFORMAT *pFormat) {
    CImageBase *im = SaveImage(pFormat);
    const QOR_UINT32 P = GetNFilePlanes(pFormat);
    QOR_INT64 total = 0;
    for (QOR_UINT32 p = 0; p < P; ++p) {
        QOR_INT32 b = GetPlaneBaseChannel(static_cast<QOR_INT32>(p), pFormat);
        if (b < 0 || b >= 4)
            continue;
        total += GetLineSize(static_cast<QOR_INT32>(p), pFormat) * im->chnl[b].chnlHeight;
    }
    return total;
}

bool CImageNrv::CheckValidMetaPlaneFormat(NRVSAVEFORMAT *pFormat) {
    CImageBase *im = SaveImage(pFormat);
    const QOR_INT32 N = im->GetNColChannels();
    if (N == 0)
        return true;
    QOR_INT32 counts[4];
    QOR_INT32 P = 0;
    if (pFormat) {
        QOR_INT32 sum = 0;
        while (P < 4 && sum < N) {
            counts[P] = pFormat->planeFormat[P];
            if (counts[P] <= 0)
                return false;
            sum += counts[P++];
        }
    } else {
        if (!pCurrSeg || !pCurrSeg->meta.Find("PLANE_FORMAT"))
            return false;
        QOR_INT32 V = pCurrSeg->meta.GetMetaValCount("PLANE_FORMAT");
        if (V < 1 || V > 4)
            return false;
        for (; P < V; ++P)
            counts[P] = pCurrSeg->meta.GetMetaInt("PLANE_FORMAT", 0, P, false);
    }
    QOR_INT32 base = 0;
    for (QOR_INT32 p = 0; p < P; ++p) {
        if (counts[p] <= 0 || counts[p] > N - base)
            return false;
        for (QOR_INT32 k = 1; k < counts[p]; ++k)
            if (im->chnl[base + k].chnlWidth != im->chnl[base].chnlWidth ||
                im->chnl[base + k].chnlHeight != im->chnl[base].chnlHeight)
                return false;
        base += counts[p];
    }
    return base == N;
}

const char *CImageNrv::CheckPlane(CImageBase *pIm, QOR_INT32 b, QOR_INT32 n) {
    const QOR_INT32 N = pIm->GetNColChannels();
    if (n < 1 || b < 0 || static_cast<QOR_INT64>(b) + n > N)
        return "Invalid plane format";
    for (QOR_INT32 k = 1; k < n; ++k) {
        const COLCHANNEL &c = pIm->chnl[b + k], &c0 = pIm->chnl[b];
        if (pIm->GetXSampling(b + k) != pIm->GetXSampling(b) || pIm->GetYSampling(b + k) != pIm->GetYSampling(b) ||
            c.chnlWidth != c0.chnlWidth || c.chnlHeight != c0.chnlHeight)
            return "Inconsistent subsampling within plane";
    }
    return nullptr;
}

bool CImageNrv::EnsureLineBuffer(QOR_INT64 size) {
    if (size <= lineBufSize)
        return true;
    void *p = std::realloc(lineBuf, static_cast<size_t>(size));
    if (!p)
        return false;
    lineBuf = static_cast<QOR_UINT8 *>(p);
    lineBufSize = size;
    return true;
}

const char *CImageNrv::LoadFileData(QOR_INT32 frameIndex) {
    if (!IsHeaderLoaded() || !pSegInfo || !fileName)
        return "File header not loaded";
    if (GetNColChannels() == 0)
        return "Invalid color model";
    if (GetNFilePlanes(nullptr) < 1)
        return "Invalid plane format";
    NRVSEGMENTINFO *seg = nullptr;
    if (GetSegmentIndex(frameIndex, nullptr, &seg) < 0)
        return "Invalid frame number";
    FILE *f = DataFile();
    if (!f)
        return "Error opening file";
    clearerr(f);

    const char *res = nullptr;
    if (seg != pCurrSeg)
        res = ApplyMetaData(seg);
    QOR_INT64 listedSize = 0;
    const QOR_INT64 pos = res ? -1 : GetFrameFilePos(frameIndex, &listedSize);
    const QOR_INT32 N = GetNColChannels();
    const QOR_UINT32 P = GetNFilePlanes(nullptr);
    if (!res && (P < 1))
        res = "Invalid plane format";
    if (!res && (pixelFormat == PACKM_UNDEF || pixelFormat > PACKM_GROUPPACK))
        res = "Invalid packing mode";
    /* The planes described must be exactly the channels of the model. */
    if (!res) {
        QOR_INT64 total = 0;
        for (QOR_UINT32 p = 0; p < P; ++p) {
            QOR_INT32 n = GetNChannelsInPlane(static_cast<QOR_INT32>(p), nullptr);
            res = CheckPlane(this, GetPlaneBaseChannel(static_cast<QOR_INT32>(p), nullptr), n);
            if (res)
                break;
            total += n;
        }
        if (!res && total != N)
            res = "Invalid plane format";
    }
    /* The frame decoded must lie inside the frame listed for it, so planes never outgrow the file. */
    if (!res && GetFrameSize(nullptr) > listedSize)
        res = "Invalid frame size";
    if (!res && (pos < 0 || fseeko(f, pos, SEEK_SET) != 0))
        res = "Invalid image data offset";

    for (QOR_UINT32 p = 0; !res && p < P; ++p) {
        const QOR_INT32 n = GetNChannelsInPlane(static_cast<QOR_INT32>(p), nullptr);
        const QOR_INT32 b = GetPlaneBaseChannel(static_cast<QOR_INT32>(p), nullptr);
        for (QOR_INT32 k = 0; k < n && !res; ++k) {
            COLCHANNEL &c = chnl[b + k];
            const QOR_INT64 samples = PlaneSamples(c.chnlWidth, c.chnlHeight);
            if (samples <= 0) {
                res = "Invalid plane format";
            } else if (!c.data) {
                c.data = new (std::nothrow) PIXEL[static_cast<size_t>(samples)];
                if (!c.data)
                    res = "Out of memory";
            }
        }
        const QOR_INT64 ls = GetLineSize(static_cast<QOR_INT32>(p), nullptr);
        if (!res && ls <= 0)
            res = "Invalid plane format";
        if (!res && !EnsureLineBuffer(ls))
            res = "Out of memory";
        const QOR_INT32 w = chnl[b].chnlWidth;
        const QOR_INT32 g = pixelFormatParam[p > 3 ? 3 : p] <= 0 ? 1 : pixelFormatParam[p > 3 ? 3 : p];
        for (QOR_INT32 y = 0; !res && y < chnl[b].chnlHeight; ++y) {
            if (std::fread(lineBuf, 1, static_cast<size_t>(ls), f) != static_cast<size_t>(ls)) {
                res = "Error reading file";
                break;
            }
            const QOR_INT64 rowOff = static_cast<QOR_INT64>(y) * w;
            if (pixelFormat == PACKM_GROUPPACK) {
                CBitStreamRW bs;
                bs.SetPos(lineBuf);
                QOR_INT64 count = 0;
                for (QOR_INT32 x = 0; x < w; ++x)
                    for (QOR_INT32 k = 0; k < n; ++k) {
                        COLCHANNEL &c = chnl[b + k];
                        const QOR_INT8 d = static_cast<QOR_INT8>(c.bitDepth);
                        c.data[rowOff + x] = c.isSigned ? bs.ReadBitsSig(d) : static_cast<PIXEL>(bs.ReadBitsUns(d));
                        if (++count % g == 0)
                            bs.AdvanceToByteBoundary();
                    }
            } else {
                const QOR_UINT8 *q = lineBuf;
                for (QOR_INT32 x = 0; x < w; ++x)
                    for (QOR_INT32 k = 0; k < n; ++k) {
                        COLCHANNEL &c = chnl[b + k];
                        const int cb = ContainerBytes(c.bitDepth);
                        const QOR_UINT64 raw = LoadLE(q, cb);
                        q += cb;
                        QOR_INT64 v;
                        if (pixelFormat == PACKM_UNPACKEDR) {
                            v = c.isSigned ? SignExtend(raw, 8 * cb) : static_cast<QOR_INT64>(raw);
                        } else {
                            const int shift = 8 * cb - c.bitDepth;
                            v = c.isSigned ? (SignExtend(raw, 8 * cb) >> shift) : static_cast<QOR_INT64>(raw >> shift);
                        }
                        c.data[rowOff + x] = static_cast<PIXEL>(v);
                    }
            }
        }
    }
    if (res)
        UnloadData();
    return res;
}

/* ---------------------------------------------------------------- writing */

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImageBase *pIm) {
    if (!pFmt)
        return nullptr;
    std::memset(pFmt, 0, sizeof(*pFmt));
    pFmt->pixelFormat = PACKM_UNPACKEDR;
    for (auto &p : pFmt->planeFormat)
        p = 1;
    pFmt->lineAlign = 1;
    pFmt->pMD = nullptr;
    pFmt->pImData = pIm;
    return nullptr;
}

const char *CImageNrv::GetSaveFormat(NRVSAVEFORMAT *pFmt, CImageNrv *pIm) {
    if (!pFmt)
        return nullptr;
    std::memset(pFmt, 0, sizeof(*pFmt));
    pFmt->pImData = pIm;
    if (!pIm)
        return nullptr;
    pFmt->pixelFormat = pIm->pixelFormat;
    std::memcpy(pFmt->pixelFormatParam, pIm->pixelFormatParam, sizeof(pFmt->pixelFormatParam));
    const QOR_UINT32 P = pIm->GetNFilePlanes(nullptr);
    for (QOR_UINT32 p = 0; p < P && p < 4; ++p)
        pFmt->planeFormat[p] = static_cast<QOR_INT8>(pIm->GetNChannelsInPlane(static_cast<QOR_INT32>(p), nullptr));
    pFmt->lineAlign = pIm->pCurrSeg ? pIm->pCurrSeg->meta.GetMetaInt("LINE_ALIGN", 1, 0, false) : 1;
    pFmt->pMD = pIm->pCurrSeg ? &pIm->pCurrSeg->meta : nullptr;
    return nullptr;
}

const char *CImageNrv::SaveFileStart(const char *filename, void *pExtra, void **pSC) {
    if (pSC)
        *pSC = nullptr;
    NRVSAVEFORMAT *fmt = static_cast<NRVSAVEFORMAT *>(pExtra);
    CImageBase *im = SaveImage(fmt);
    if (!im->IsHeaderLoaded() || !im->IsDataLoaded())
        return "No image data to save";
    if (!pSegInfo && !AddNewSegment(0))
        return "Out of memory";
    if (fmt && fmt->pixelFormat == PACKM_GROUPPACK)
        for (QOR_UINT32 p = 0; p < GetNFilePlanes(fmt); ++p)
            if (fmt->pixelFormatParam[p] > kMaxGroupSize)
                return "Invalid group packing value";
    if (!filename || !pSC)
        return "Error creating file";
    NRVSAVECONTEXT *ctx = new (std::nothrow) NRVSAVECONTEXT;
    if (!ctx)
        return "Out of memory";
    ctx->f = QOR_CreateFile(filename, "wb");
    if (!ctx->f) {
        delete ctx;
        return "Error creating file";
    }
    ctx->path = filename;
    ctx->failed = false;
    for (auto &e : ctx->soTableSave)
        e = -1;
    ctx->seg.segmentOffset = 0;
    ctx->segmentStarted = false;
    if (fmt) {
        ctx->pExtra = fmt;
    } else {
        /* Without a format the image saves itself as it describes itself; lines and metadata use this one. */
        GetSaveFormat(&ctx->ownFormat, this);
        if (ctx->ownFormat.pixelFormat == PACKM_UNDEF)
            ctx->ownFormat.pixelFormat = PACKM_UNPACKEDR;
        if (!CheckValidMetaPlaneFormat(nullptr))
            for (auto &p : ctx->ownFormat.planeFormat)
                p = 1;
        ctx->pExtra = &ctx->ownFormat;
    }
    *pSC = ctx;
    return nullptr;
}

const char *CImageNrv::SaveNrvSegmentStart(NRVSAVECONTEXT *ctx) {
    static const char zeros[kHeaderSize] = {0};
    ctx->seg.segmentOffset = ftello(ctx->f);
    if (ctx->seg.segmentOffset < 0 || std::fwrite(zeros, 1, kHeaderSize, ctx->f) != kHeaderSize)
        return kWriteError;
    ctx->seg.segmentSize = 0;
    ctx->seg.Nframes = 0;
    for (auto &e : ctx->soTableSave)
        e = -1;
    ctx->segmentStarted = true;
    return nullptr;
}

const char *CImageNrv::StartSegment(void *pSC, bool, bool) {
    NRVSAVECONTEXT *ctx = static_cast<NRVSAVECONTEXT *>(pSC);
    if (!ctx)
        return "Internal error";
    CMetaData *src = ctx->pExtra && ctx->pExtra->pMD ? ctx->pExtra->pMD : (pCurrSeg ? &pCurrSeg->meta : nullptr);
    if (src != &ctx->seg.meta) {
        if (src)
            ctx->seg.meta.CopyFrom(src);
        else
            ctx->seg.meta.Unload();
    }
    if (ctx->segmentStarted && ctx->seg.segmentSize > 0) {
        const char *res = SaveNrvSegmentEnd(ctx);
        if (res)
            return res;
    } else if (ctx->segmentStarted) {
        return nullptr; /* the placeholder of this still empty segment is already written */
    }
    return SaveNrvSegmentStart(ctx);
}

namespace {

/* One step of a save into the current segment, which is started first when it is not yet. */
template <class Step> const char *SegmentStep(CImageNrv *im, void *pSC, Step step) {
    NRVSAVECONTEXT *ctx = static_cast<NRVSAVECONTEXT *>(pSC);
    return imageio::SaveStep(
        ctx,
        [&]() -> const char * {
            if (!ctx)
                return "Internal error";
            if (!ctx->segmentStarted) {
                const char *res = im->StartSegment(ctx);
                if (res)
                    return res;
            }
            return step(ctx);
        },
        kWriteError);
}

} // namespace

const char *CImageNrv::SaveFileHeader(void *pSC) {
    return SegmentStep(this, pSC, [&](NRVSAVECONTEXT *ctx) -> const char * {
        CMetaData copy;
        if (!copy.CopyFrom(&ctx->seg.meta))
            return "Out of memory";
        RebuildBaseMetaData(ctx->pExtra, &copy);
        return SaveNrvMetaData(ctx, &copy);
    });
}

const char *CImageNrv::SaveNrvMetaData(NRVSAVECONTEXT *ctx, CMetaData *pMD) {
    CImageBase *im = SaveImage(ctx->pExtra);
    if (!GetColorModelInfo(im->colorModel))
        return "Invalid color model";
    const QOR_INT64 start = ftello(ctx->f);
    if (start < 0)
        return kWriteError;
    ctx->soTableSave[SOTE_METAOFFS] = start - ctx->seg.segmentOffset;
    for (MDITEM *it = pMD->list; it; it = it->next) {
        if (IsDropped(it->name))
            continue;
        if (std::fprintf(ctx->f, "%s=%s\n", it->name, it->sVal) < 0)
            return kWriteError;
    }
    const QOR_INT64 end = ftello(ctx->f);
    if (end < 0)
        return kWriteError;
    ctx->soTableSave[SOTE_METASIZE] = end - start;
    ctx->seg.segmentSize = end - ctx->seg.segmentOffset;
    return nullptr;
}

const char *CImageNrv::SaveFileData(void *pSC) {
    return SegmentStep(this, pSC, [&](NRVSAVECONTEXT *ctx) { return SaveNrvFrameData(ctx); });
}

const char *CImageNrv::SaveNrvFrameData(NRVSAVECONTEXT *ctx) {
    NRVSAVEFORMAT *fmt = ctx->pExtra;
    CImageBase *im = SaveImage(fmt);
    const QOR_UINT32 P = GetNFilePlanes(fmt);
    if (P < 1)
        return "Invalid plane format";
    if (!GetColorModelInfo(im->colorModel))
        return "Invalid color model";
    const PACKM_xxx packing = GetPacking(fmt);
    if (packing == PACKM_UNDEF || packing > PACKM_GROUPPACK)
        return "Invalid packing mode";
    if (!im->IsDataLoaded())
        return "No image data to save";
    for (QOR_UINT32 p = 0; p < P; ++p) {
        const char *res = CheckPlane(im, GetPlaneBaseChannel(static_cast<QOR_INT32>(p), fmt),
                                     GetNChannelsInPlane(static_cast<QOR_INT32>(p), fmt));
        if (res)
            return res;
    }
    const QOR_INT64 start = ftello(ctx->f);
    if (start < 0)
        return kWriteError;
    if (ctx->soTableSave[SOTE_PIXELSOFFS] == -1)
        ctx->soTableSave[SOTE_PIXELSOFFS] = start - ctx->seg.segmentOffset;

    for (QOR_UINT32 p = 0; p < P; ++p) {
        const QOR_INT32 n = GetNChannelsInPlane(static_cast<QOR_INT32>(p), fmt);
        const QOR_INT32 b = GetPlaneBaseChannel(static_cast<QOR_INT32>(p), fmt);
        const QOR_INT64 ls = GetLineSize(static_cast<QOR_INT32>(p), fmt);
        if (ls <= 0)
            return "Invalid plane format";
        if (!EnsureLineBuffer(ls))
            return "Out of memory";
        const QOR_INT32 w = im->chnl[b].chnlWidth;
        const QOR_INT32 gs = GetGroupSize(static_cast<QOR_INT32>(p), fmt);
        const QOR_INT32 g = gs <= 0 ? 1 : gs;
        for (QOR_INT32 y = 0; y < im->chnl[b].chnlHeight; ++y) {
            std::memset(lineBuf, 0, static_cast<size_t>(ls));
            const QOR_INT64 rowOff = static_cast<QOR_INT64>(y) * w;
            if (packing == PACKM_GROUPPACK) {
                CBitStreamRW bs;
                bs.SetPos(lineBuf);
                QOR_INT64 count = 0;
                for (QOR_INT32 x = 0; x < w; ++x)
                    for (QOR_INT32 k = 0; k < n; ++k) {
                        const COLCHANNEL &c = im->chnl[b + k];
                        bs.WriteBitsSig(c.data[rowOff + x], static_cast<QOR_INT8>(c.bitDepth));
                        if (++count % g == 0)
                            bs.AdvanceToByteBoundary();
                    }
            } else {
                QOR_UINT8 *q = lineBuf;
                for (QOR_INT32 x = 0; x < w; ++x)
                    for (QOR_INT32 k = 0; k < n; ++k) {
                        const COLCHANNEL &c = im->chnl[b + k];
                        const int cb = ContainerBytes(c.bitDepth);
                        QOR_UINT64 v =
                            static_cast<QOR_UINT64>(static_cast<QOR_INT64>(ClipSample(c.data[rowOff + x], c)));
                        if (packing == PACKM_UNPACKEDL)
                            v <<= (8 * cb - c.bitDepth);
                        StoreLE(q, v, cb);
                        q += cb;
                    }
            }
            if (std::fwrite(lineBuf, 1, static_cast<size_t>(ls), ctx->f) != static_cast<size_t>(ls))
                return kWriteError;
        }
    }
    const QOR_INT64 end = ftello(ctx->f);
    if (end < 0)
        return kWriteError;
    ctx->soTableSave[SOTE_PIXELSSIZE] = end - ctx->seg.segmentOffset - ctx->soTableSave[SOTE_PIXELSOFFS];
    ctx->seg.segmentSize = end - ctx->seg.segmentOffset;
    ctx->seg.Nframes++;
    return nullptr;
}

const char *CImageNrv::SaveNrvSegmentEnd(NRVSAVECONTEXT *ctx) {
    if (ctx->soTableSave[SOTE_METAOFFS] == -1)
        return "Meta data not saved";
    if (ctx->soTableSave[SOTE_PIXELSOFFS] == -1)
        return "Pixel data not saved";
    char hdr[kHeaderSize + 1];
    int n = std::snprintf(hdr, sizeof(hdr), "NRV1\n%02d", 4);
    for (int i = 0; i < 4; ++i)
        n += std::snprintf(hdr + n, sizeof(hdr) - static_cast<size_t>(n), " %013lld",
                           static_cast<long long>(ctx->soTableSave[i]));
    n += std::snprintf(hdr + n, sizeof(hdr) - static_cast<size_t>(n), "\n");
    if (n != kHeaderSize || fseeko(ctx->f, ctx->seg.segmentOffset, SEEK_SET) != 0 ||
        std::fwrite(hdr, 1, kHeaderSize, ctx->f) != kHeaderSize ||
        fseeko(ctx->f, ctx->seg.segmentOffset + ctx->seg.segmentSize, SEEK_SET) != 0)
        return kWriteError;
    ctx->segmentStarted = false;
    return nullptr;
}

const char *CImageNrv::SaveFileEnd(void *pSC) {
    NRVSAVECONTEXT *ctx = static_cast<NRVSAVECONTEXT *>(pSC);
    if (!ctx)
        return "Internal error";
    if (!ctx->f)
        return kWriteError; /* ended already, and failed */
    const char *res = SaveNrvSegmentEnd(ctx);
    if (res && std::strcmp(res, kWriteError) != 0)
        return res; /* nothing written yet: the file stays open for the caller to go on or abort */
    /* Data that did not reach the file is a failure that keeps the context, like any other; the partial file goes. */
    if (!imageio::EndOutput(&ctx->f, ctx->path, ctx->failed || res))
        return kWriteError;
    delete ctx;
    return nullptr;
}

void CImageNrv::SaveFileAbort(void *pSC) { imageio::AbortSave(static_cast<NRVSAVECONTEXT *>(pSC)); }

void CImageNrv::RebuildBaseMetaData(NRVSAVEFORMAT *pFormat, CMetaData *pMD) {
    CMetaData *md = pMD ? pMD : (pFormat && pFormat->pMD ? pFormat->pMD : (pCurrSeg ? &pCurrSeg->meta : nullptr));
    CImageBase *im = SaveImage(pFormat);
    const COLORMODELINFO *info = GetColorModelInfo(im->colorModel);
    if (!md || !info)
        return;
    md->UpdateInt("WIDTH", im->width, IFEX_REPLACE);
    md->UpdateInt("HEIGHT", im->height, IFEX_REPLACE);
    md->UpdateStr("COLOUR_FORMAT", kColourNames[im->colorModel], IFEX_REPLACE);

    const SubsRow *row = nullptr;
    bool onlySampling = false;
    if (im->colorModel == CM_RGGB) {
        for (const auto &r : kBayerRows)
            if (r.mode == im->subsMode)
                row = &r;
        if (!row && im->subsMode != SUBS_UNDEF) {
            row = &kBayerRows[0];
            onlySampling = true;
        }
    } else if (im->colorModel == CM_YUV) {
        for (const auto &r : kYuvRows)
            if (r.mode == im->subsMode)
                row = &r;
    }
    if (row) {
        md->UpdateStr("SUBSAMPLING_HOR", row->hor, IFEX_REPLACE);
        md->UpdateStr("SUBSAMPLING_VER", row->ver, IFEX_REPLACE);
        if (row->phaseHor && !onlySampling) {
            md->UpdateStr("PHASE_OFFSET_HOR", row->phaseHor, IFEX_REPLACE);
            md->UpdateStr("PHASE_OFFSET_VER", row->phaseVer, IFEX_REPLACE);
        }
    }

    char depth[64] = "", sign[64] = "";
    for (QOR_INT32 c = 0; c < info->Nchannels; ++c) {
        size_t dl = std::strlen(depth), sl = std::strlen(sign);
        std::snprintf(depth + dl, sizeof(depth) - dl, "%s%u", c ? " " : "", im->chnl[c].bitDepth);
        std::snprintf(sign + sl, sizeof(sign) - sl, "%s%d", c ? " " : "", im->chnl[c].isSigned ? 1 : 0);
    }
    md->UpdateStr("BITDEPTH", depth, IFEX_REPLACE);
    md->UpdateStr("SIGNED", sign, IFEX_REPLACE);

    char planes[64] = "";
    if (pFormat) {
        const QOR_UINT32 P = GetNFilePlanes(pFormat);
        for (QOR_UINT32 p = 0; p < P && p < 4; ++p) {
            size_t l = std::strlen(planes);
            std::snprintf(planes + l, sizeof(planes) - l, "%s%d", p ? " " : "", pFormat->planeFormat[p]);
        }
        md->UpdateStr("PLANE_FORMAT", planes, IFEX_REPLACE);
    } else if (!(md->Find("PLANE_FORMAT") && CheckValidMetaPlaneFormat(nullptr))) {
        for (QOR_INT32 c = 0; c < info->Nchannels; ++c) {
            size_t l = std::strlen(planes);
            std::snprintf(planes + l, sizeof(planes) - l, "%s1", c ? " " : "");
        }
        md->UpdateStr("PLANE_FORMAT", planes, IFEX_REPLACE);
    }
    const PACKM_xxx packing = GetPacking(pFormat);
    if (packing == PACKM_UNPACKEDR) {
        md->UpdateStr("PIXEL_FORMAT", "unpackedR", IFEX_REPLACE);
    } else if (packing == PACKM_UNPACKEDL) {
        md->UpdateStr("PIXEL_FORMAT", "unpackedL", IFEX_REPLACE);
    } else if (packing == PACKM_GROUPPACK) {
        char text[128] = "grouppacked";
        const QOR_UINT32 P = GetNFilePlanes(pFormat);
        for (QOR_UINT32 p = 0; p < P && p < 4; ++p) {
            size_t l = std::strlen(text);
            /* A size of 0 or less packs as 1; written as such so that the file reads back. */
            const QOR_INT32 g = GetGroupSize(static_cast<QOR_INT32>(p), pFormat);
            std::snprintf(text + l, sizeof(text) - l, " %d", (g <= 0 ? 1 : g) % 100);
        }
        md->UpdateStr("PIXEL_FORMAT", text, IFEX_REPLACE);
    }

    md->UpdateStrFmt("SENSOR_EXPOSURE_TIME", IFEX_REPLACE, "%u", im->exposureInfo.time);
    md->UpdateDouble("SENSOR_GAIN", im->exposureInfo.gain, IFEX_REPLACE);
    md->UpdateStrFmt("FRAME_SIZE", IFEX_REPLACE, "%lld", static_cast<long long>(GetFrameSize(pFormat)));
    const QOR_INT32 align = pFormat ? pFormat->lineAlign : GetLineAlign(0, nullptr);
    if (align > 1)
        md->UpdateInt("LINE_ALIGN", align, IFEX_REPLACE);
    else
        DelAll(md, "LINE_ALIGN");
}

void CImageNrv::UpgradeMetaData(CMetaData *pMD) {
    if (!pMD)
        return;
    const QOR_INT32 iso = pMD->GetMetaInt("ISO_GAIN", 0, 0, false);
    if (pMD->Find("ISO_GAIN") && iso > 0) {
        pMD->UpdateInt("SENSOR_BASE_ISO", 100, IFEX_FAIL);
        const double base = pMD->GetMetaDouble("SENSOR_BASE_ISO", 100.0, 0, false);
        pMD->UpdateInt("CAPTURE_ISO", static_cast<int>(std::trunc(base * iso)), IFEX_FAIL);
    }
    if (pMD->Find("SENSOR_DENSITY") && pMD->Find("SENSOR_PIXEL_SIZE")) {
        const double w = (pMD->GetMetaDouble("SENSOR_PIXEL_SIZE", 1.0, 0, false) -
                          pMD->GetMetaDouble("SENSOR_PIXEL_DEAD_SPACE", 0.0, 0, false)) *
                         pMD->GetMetaDouble("SENSOR_DENSITY", 0.0, 0, false);
        if (w > 1)
            pMD->UpdateDouble("SENSOR_WELL_DEPTH", w, IFEX_FAIL);
    }
    const QOR_INT32 N = GetNColChannels();
    if ((pMD->Find("GAMMA_BLACK_POINT") || pMD->Find("GAMMA_WHITE_POINT")) &&
        (!pMD->Find("CHANNEL_DISPLAY_MIN") || !pMD->Find("CHANNEL_DISPLAY_MAX")) && N > 0) {
        const bool rgbLike =
            colorModel == CM_RGB || colorModel == CM_RGBA || colorModel == CM_RGGB || colorModel == CM_RGBW;
        const QOR_INT32 ref = rgbLike && N > 1 ? 1 : 0;
        const int r = chnl[ref].bitDepth;
        const bool s = chnl[ref].isSigned;
        const double black = pMD->GetMetaDouble("GAMMA_BLACK_POINT", s ? -std::ldexp(1.0, r - 1) : 0.0, 0, false);
        const double white =
            pMD->GetMetaDouble("GAMMA_WHITE_POINT", s ? std::ldexp(1.0, r - 1) - 1 : std::ldexp(1.0, r) - 1, 0, false);
        if (black != 0 || white != 0) {
            const bool needMin = !pMD->Find("CHANNEL_DISPLAY_MIN"), needMax = !pMD->Find("CHANNEL_DISPLAY_MAX");
            for (QOR_INT32 c = 0; c < N; ++c) {
                const int d = chnl[c].bitDepth;
                const double scale = std::ldexp(1.0, d - r);
                if (needMin)
                    pMD->UpdateStrFmt("CHANNEL_DISPLAY_MIN", IFEX_APPEND, "%lld",
                                      static_cast<long long>(std::trunc(black * scale)));
                if (needMax)
                    pMD->UpdateStrFmt("CHANNEL_DISPLAY_MAX", IFEX_APPEND, "%lld",
                                      static_cast<long long>(std::trunc(white * scale)));
            }
        }
    }
    static const char *const kPhase[2][2] = {{"HOR_PHASE_OFFSET", "PHASE_OFFSET_HOR"},
                                             {"VER_PHASE_OFFSET", "PHASE_OFFSET_VER"}};
    for (const auto &ph : kPhase) {
        if (!pMD->Find(ph[0]))
            continue;
        if (pMD->Find(ph[1]))
            DelAll(pMD, ph[0]);
        else
            pMD->Rename(ph[0], ph[1]);
    }
    pMD->Rename("NOMINAL_RANGE", "CHANNEL_NOMINAL_RANGE");
    if (pMD->Find("CHANNEL_NOMINAL_RANGE")) {
        const QOR_INT32 m = pMD->GetMetaValCount("CHANNEL_NOMINAL_RANGE");
        const QOR_INT32 nc = N < 4 ? N : 4;
        if (!pMD->Find("CHANNEL_FULL_MIN") && m > 1)
            for (QOR_INT32 c = 0; c < nc && 2 * c + 1 < m; ++c)
                pMD->UpdateStrFmt(
                    "CHANNEL_FULL_MIN", IFEX_APPEND, "%lld",
                    static_cast<long long>(std::trunc(std::ldexp(1.0, chnl[c].bitDepth) *
                                                      pMD->GetMetaDouble("CHANNEL_NOMINAL_RANGE", 0.0, 2 * c, false))));
        if (!pMD->Find("CHANNEL_FULL_MAX") && m > 0)
            for (QOR_INT32 c = 0; c < nc && 2 * c < m; ++c)
                pMD->UpdateStrFmt("CHANNEL_FULL_MAX", IFEX_APPEND, "%lld",
                                  static_cast<long long>(
                                      std::trunc(std::ldexp(1.0, chnl[c].bitDepth) *
                                                 pMD->GetMetaDouble("CHANNEL_NOMINAL_RANGE", 0.0, 2 * c + 1, true))));
        DelAll(pMD, "CHANNEL_NOMINAL_RANGE");
    }
}

/* ---------------------------------------------------------------- segments, conversion */

NRVSEGMENTINFO *CImageNrv::NewSegment() { return new (std::nothrow) NRVSEGMENTINFO; }

void CImageNrv::AddSegment(NRVSEGMENTINFO *pSeg) {
    if (!pSeg)
        return;
    DropSegmentIndex();
    pSeg->next = nullptr;
    if (!pSegInfo) {
        pSegInfo = pSeg;
        return;
    }
    NRVSEGMENTINFO *s = pSegInfo;
    while (s->next)
        s = s->next;
    s->next = pSeg;
}

bool CImageNrv::AddNewSegment(QOR_INT32 Nframes) {
    NRVSEGMENTINFO *s = NewSegment();
    if (!s)
        return false;
    s->Nframes = Nframes;
    AddSegment(s);
    pCurrSeg = s;
    return true;
}

QOR_INT32 CImageNrv::ConvertFrom(CImageNrv *pSrc, colorModelEnum newColorModel, subsamplingModeEnum newSubsMode,
                                 bool onlyCheckIfAvail) {
    const QOR_INT32 r = CImageBase::ConvertFrom(pSrc, newColorModel, newSubsMode, onlyCheckIfAvail);
    if (r != 0 || onlyCheckIfAvail)
        return r;
    pixelFormat = pSrc->pixelFormat;
    std::memcpy(pixelFormatParam, pSrc->pixelFormatParam, sizeof(pixelFormatParam));
    if (!pSegInfo && !AddNewSegment(0))
        return 2;
    if (pSrc->pCurrSeg)
        pCurrSeg->meta.CopyFrom(&pSrc->pCurrSeg->meta);
    else
        pCurrSeg->meta.Unload();
    RebuildBaseMetaData(nullptr, nullptr);
    return 0;
}

void CImageNrv::SwapWith(CImageNrv *pOther) {
    if (!pOther || pOther == this)
        return;
    CImageBase::SwapWith(pOther);
    std::swap(pixelFormat, pOther->pixelFormat);
    for (int i = 0; i < 4; ++i)
        std::swap(pixelFormatParam[i], pOther->pixelFormatParam[i]);
    std::swap(pSegInfo, pOther->pSegInfo);
    std::swap(pCurrSeg, pOther->pCurrSeg);
    DropSegmentIndex();
    pOther->DropSegmentIndex();
}
