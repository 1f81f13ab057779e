#include "image_base.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

const COLORMODELINFO kColorModels[] = {
    {CM_GRAY, 1, false, false, {"Y", nullptr, nullptr, nullptr}},
    {CM_RGB, 3, false, false, {"R", "G", "B", nullptr}},
    {CM_RGBA, 4, false, false, {"R", "G", "B", "A"}},
    {CM_RGGB, 4, true, true, {"R", "G1", "G2", "B"}},
    {CM_RGBW, 4, true, true, {"R", "G", "B", "W"}},
    {CM_YUV, 3, false, true, {"Y", "U", "V", nullptr}},
    {CM_YUVA, 4, false, true, {"Y", "U", "V", "A"}},
};

/* Magnitude bits of a signed depth: d for unsigned, |d| - 1 for signed. */
int MagnitudeBits(QOR_INT8 d) { return d > 0 ? d : -static_cast<int>(d) - 1; }

} // namespace

CImageBase::CImageBase()
    : width(0), height(0), exposureInfo{0, 0.0}, colorModel(CM_UNDEF), subsMode(SUBS_UNDEF), fileName(nullptr) {
    std::memset(chnl, 0, sizeof(chnl));
    Unload();
}

CImageBase::~CImageBase() {
    /* Virtual calls from a destructor reach this class only; derived classes clean up in their own. */
    CImageBase::UnloadHeader();
    CImageBase::UnloadData();
}

bool CImageBase::IsHeaderLoaded() { return colorModel != CM_UNDEF; }

bool CImageBase::IsDataLoaded() {
    QOR_INT32 n = GetNColChannels();
    if (n < 1)
        return false;
    for (QOR_INT32 c = 0; c < n; ++c)
        if (!chnl[c].data)
            return false;
    return true;
}

void CImageBase::UnloadHeader() {
    std::free(fileName);
    fileName = nullptr;
    width = height = 0;
    for (auto &c : chnl) {
        c.chnlWidth = c.chnlHeight = 0;
        c.bitDepth = 0;
        c.isSigned = false;
    }
    colorModel = CM_UNDEF;
    subsMode = SUBS_UNDEF;
}

void CImageBase::UnloadData() {
    for (auto &c : chnl) {
        delete[] c.data;
        c.data = nullptr;
    }
}

QOR_INT32 CImageBase::GetProperty(imagePropertiesEnum) { return 0; }
QOR_INT32 CImageBase::GetNFrames() { return 1; }
const char *CImageBase::LoadFileHeader(const char *, void *) { return "Internal error"; }
const char *CImageBase::LoadFileData(QOR_INT32) { return "Internal error"; }
const char *CImageBase::SaveFileStart(const char *, void *, void **) { return "Internal error"; }
const char *CImageBase::SaveFileHeader(void *) { return "Internal error"; }
const char *CImageBase::SaveFileData(void *) { return "Internal error"; }
const char *CImageBase::SaveFileEnd(void *) { return "Internal error"; }
void CImageBase::SaveFileAbort(void *) {}

void CImageBase::Unload() {
    UnloadHeader();
    UnloadData();
}

const COLORMODELINFO *CImageBase::GetColorModelInfo(QOR_INT32 model) {
    for (const auto &m : kColorModels)
        if (m.model == model)
            return &m;
    return nullptr;
}

QOR_INT32 CImageBase::GetNColChannels() const {
    const COLORMODELINFO *info = GetColorModelInfo(colorModel);
    return info ? info->Nchannels : 0;
}

QOR_INT32 CImageBase::GetXSampling(QOR_INT32 colChannel) const {
    switch (subsMode) {
    case SUBS_RGGB:
    case SUBS_GRBG:
    case SUBS_GBRG:
    case SUBS_BGGR:
        return 2;
    case SUBS_422:
    case SUBS_420:
        return colChannel == 0 ? 1 : 2;
    default:
        return 1;
    }
}

QOR_INT32 CImageBase::GetYSampling(QOR_INT32 colChannel) const {
    switch (subsMode) {
    case SUBS_RGGB:
    case SUBS_GRBG:
    case SUBS_GBRG:
    case SUBS_BGGR:
        return 2;
    case SUBS_420:
        return colChannel == 0 ? 1 : 2;
    default:
        return 1;
    }
}

QOR_INT64 CImageBase::PlaneSamples(QOR_INT32 w, QOR_INT32 h) {
    if (w <= 0 || h <= 0)
        return -1;
    return static_cast<QOR_INT64>(w) * h;
}

bool CImageBase::CreateNewImage(QOR_INT32 newWidth, QOR_INT32 newHeight, colorModelEnum newColorModel,
                                subsamplingModeEnum subsampling, const QOR_INT8 *chnlBitDepths,
                                const PIXEL *chnlDefVal) {
    Unload();
    const COLORMODELINFO *info = GetColorModelInfo(newColorModel);
    if (!info || newWidth <= 0 || newHeight <= 0 || newWidth > MAX_DIMENSION || newHeight > MAX_DIMENSION)
        return false;
    width = newWidth;
    height = newHeight;
    colorModel = newColorModel;
    subsMode = subsampling;
    for (QOR_INT32 c = 0; c < info->Nchannels; ++c) {
        COLCHANNEL &ch = chnl[c];
        ch.chnlWidth = (width + GetXSampling(c) - 1) / GetXSampling(c);
        ch.chnlHeight = (height + GetYSampling(c) - 1) / GetYSampling(c);
        QOR_INT8 d = chnlBitDepths ? chnlBitDepths[c] : 8;
        ch.isSigned = d < 0;
        ch.bitDepth = static_cast<QOR_UINT8>(d < 0 ? -d : d);
        QOR_INT64 n = PlaneSamples(ch.chnlWidth, ch.chnlHeight);
        ch.data = new (std::nothrow) PIXEL[n];
        if (!ch.data) {
            Unload();
            return false;
        }
        PIXEL v = chnlDefVal ? chnlDefVal[c] : 0;
        for (QOR_INT64 i = 0; i < n; ++i)
            ch.data[i] = v;
    }
    return true;
}

const char *CImageBase::SaveSingleFrameImage(const char *filename, void *pExtra) {
    void *sc = nullptr;
    const char *res = SaveFileStart(filename, pExtra, &sc);
    if (res)
        return res;
    res = SaveFileHeader(sc);
    if (!res)
        res = SaveFileData(sc);
    const char *endRes = SaveFileEnd(sc);
    /* A context whose end failed still holds its file: nobody else can reach it here, so drop it. */
    if (endRes)
        SaveFileAbort(sc);
    return res ? res : endRes;
}

QOR_INT32 CImageBase::ConvertFrom(CImageBase *pSrc, colorModelEnum newColorModel, subsamplingModeEnum newSubsMode,
                                  bool onlyCheckIfAvail) {
    bool avail = pSrc && pSrc->colorModel == CM_GRAY && newColorModel == CM_RGGB;
    if (onlyCheckIfAvail)
        return avail ? 0 : 1;
    Unload();
    if (!avail || newSubsMode < SUBS_RGGB || newSubsMode > SUBS_BGGR || !pSrc->chnl[0].data)
        return 1;
    const COLCHANNEL &g = pSrc->chnl[0];
    QOR_INT8 d = static_cast<QOR_INT8>(g.isSigned ? -g.bitDepth : g.bitDepth);
    QOR_INT8 depths[4] = {d, d, d, d};
    if (!CreateNewImage(pSrc->width, pSrc->height, CM_RGGB, newSubsMode, depths, nullptr))
        return 2;
    QOR_INT64 fill[4] = {0, 0, 0, 0};
    QOR_INT64 cap = PlaneSamples(chnl[0].chnlWidth, chnl[0].chnlHeight);
    for (QOR_INT32 y = 0; y < g.chnlHeight; ++y) {
        for (QOR_INT32 x = 0; x < g.chnlWidth; ++x) {
            int c = (newSubsMode - 4) ^ (2 * (y % 2) + (x % 2));
            /* Odd sizes give uneven counts per channel; never write past a plane. */
            if (fill[c] < cap)
                chnl[c].data[fill[c]++] = g.data[static_cast<QOR_INT64>(y) * g.chnlWidth + x];
        }
    }
    return 0;
}

void CImageBase::SwapWith(CImageBase *pOther) {
    if (!pOther || pOther == this)
        return;
    std::swap(width, pOther->width);
    std::swap(height, pOther->height);
    for (int c = 0; c < 4; ++c)
        std::swap(chnl[c], pOther->chnl[c]);
    std::swap(colorModel, pOther->colorModel);
    std::swap(subsMode, pOther->subsMode);
    std::swap(fileName, pOther->fileName);
}

QOR_UINT8 CImageBase::GetBayerFlip(subsamplingModeEnum bayerSubsampling) {
    switch (bayerSubsampling) {
    case SUBS_GRBG:
        return 1;
    case SUBS_GBRG:
        return 2;
    case SUBS_BGGR:
        return 3;
    default:
        return 0;
    }
}

QOR_UINT8 CImageBase::GetBayerFlip(subsamplingModeEnum src, subsamplingModeEnum dst) {
    return GetBayerFlip(src) ^ GetBayerFlip(dst);
}

QOR_INT32 CImageBase::ChBitDepth(QOR_INT32 pixel, QOR_INT8 oldBitDepth, QOR_INT8 newBitDepth) {
    if (oldBitDepth == newBitDepth)
        return pixel;
    int s = MagnitudeBits(newBitDepth) - MagnitudeBits(oldBitDepth);
    if (s >= 0) {
        /* Multiplication keeps negative samples defined; the result wraps like the shift would. */
        return static_cast<QOR_INT32>(static_cast<QOR_UINT32>(pixel) << (s > 31 ? 31 : s));
    }
    s = -s;
    return pixel >> (s > 31 ? 31 : s);
}

void CImageBase::ChBitDepth(QOR_INT32 *pSrc, QOR_INT32 *pDst, QOR_INT32 Npixels, QOR_INT8 oldBitDepth,
                            QOR_INT8 newBitDepth) {
    if (!pSrc || !pDst || oldBitDepth == newBitDepth)
        return;
    for (QOR_INT32 i = 0; i < Npixels; ++i)
        pDst[i] = ChBitDepth(pSrc[i], oldBitDepth, newBitDepth);
}

void CImageBase::ChangeChannelBitDepth(QOR_INT32 channel, QOR_INT8 newBitDepth) {
    QOR_INT32 n = GetNColChannels();
    /* Depth 0 names no channel format (neither signed nor unsigned bits); it is ignored like the others. */
    if (newBitDepth < -32 || newBitDepth > 31 || newBitDepth == 0 || channel >= n)
        return;
    QOR_INT32 first = channel < 0 ? 0 : channel, last = channel < 0 ? n - 1 : channel;
    for (QOR_INT32 c = first; c <= last; ++c) {
        COLCHANNEL &ch = chnl[c];
        QOR_INT8 oldD = static_cast<QOR_INT8>(ch.isSigned ? -ch.bitDepth : ch.bitDepth);
        if (oldD == newBitDepth)
            continue;
        if (ch.data) {
            QOR_INT64 cnt = PlaneSamples(ch.chnlWidth, ch.chnlHeight);
            for (QOR_INT64 i = 0; i < cnt; ++i)
                ch.data[i] = ChBitDepth(ch.data[i], oldD, newBitDepth);
        }
        ch.isSigned = newBitDepth <= 0;
        ch.bitDepth = static_cast<QOR_UINT8>(newBitDepth < 0 ? -newBitDepth : newBitDepth);
    }
}

void CImageBase::OffsetChannelValues(QOR_INT32 channel, QOR_INT32 addValue) {
    QOR_INT32 n = GetNColChannels();
    if (channel >= n)
        return;
    QOR_INT32 first = channel < 0 ? 0 : channel, last = channel < 0 ? n - 1 : channel;
    for (QOR_INT32 c = first; c <= last; ++c) {
        COLCHANNEL &ch = chnl[c];
        if (!ch.data)
            continue;
        QOR_INT64 cnt = PlaneSamples(ch.chnlWidth, ch.chnlHeight);
        for (QOR_INT64 i = 0; i < cnt; ++i)
            ch.data[i] = static_cast<PIXEL>(static_cast<QOR_UINT32>(ch.data[i]) + static_cast<QOR_UINT32>(addValue));
    }
}

void CImageBase::GetChannelRange(const COLCHANNEL &c, QOR_INT64 *pMin, QOR_INT64 *pMax) {
    int d = c.bitDepth > 32 ? 32 : c.bitDepth;
    if (c.isSigned) {
        *pMin = d > 0 ? -(static_cast<QOR_INT64>(1) << (d - 1)) : 0;
        *pMax = d > 0 ? (static_cast<QOR_INT64>(1) << (d - 1)) - 1 : 0;
    } else {
        *pMin = 0;
        *pMax = (static_cast<QOR_INT64>(1) << d) - 1;
    }
}

QOR_UINT32 CImageBase::ClipChannelValues(QOR_INT32 channel, QOR_INT32 minVal, QOR_INT32 maxVal, bool countClipOnly) {
    QOR_INT32 n = GetNColChannels();
    if (channel >= n || n == 0)
        return 0;
    QOR_INT32 first = channel < 0 ? 0 : channel, last = channel < 0 ? n - 1 : channel;
    QOR_UINT32 count = 0;
    for (QOR_INT32 c = first; c <= last; ++c) {
        COLCHANNEL &ch = chnl[c];
        if (!ch.data)
            continue;
        QOR_INT64 lo = minVal, hi = maxVal;
        if (minVal == 0 && maxVal == 0)
            GetChannelRange(ch, &lo, &hi);
        QOR_INT64 cnt = PlaneSamples(ch.chnlWidth, ch.chnlHeight);
        for (QOR_INT64 i = 0; i < cnt; ++i) {
            QOR_INT64 v = ch.data[i];
            if (v < lo) {
                ++count;
                if (!countClipOnly)
                    ch.data[i] = static_cast<PIXEL>(lo);
            } else if (v > hi) {
                ++count;
                if (!countClipOnly)
                    ch.data[i] = static_cast<PIXEL>(hi);
            }
        }
    }
    return count;
}

QOR_UINT32 CImageBase::ClipChannelValuesToBD(QOR_INT32 channel, bool countClipOnly) {
    return ClipChannelValues(channel, 0, 0, countClipOnly);
}
