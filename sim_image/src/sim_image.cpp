#include "sim_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "SimImage";

/* Which channel feeds each sample of a 2x2 cell (top-left, top-right, bottom-left, bottom-right). */
struct BayerPlacement {
    SUBS_xxx mode;
    sSimImageColourModel model;
    int cell[4];
};
const BayerPlacement kPlacements[] = {
    {SUBS_RGGB, SimImage_RGGB, {0, 1, 2, 3}},
    {SUBS_GRBG, SimImage_GRBG, {1, 0, 3, 2}},
    {SUBS_GBRG, SimImage_GBRG, {2, 3, 0, 1}},
    {SUBS_BGGR, SimImage_BGGR, {3, 2, 1, 0}},
};

const BayerPlacement *PlacementOfMode(SUBS_xxx mode) {
    for (const auto &p : kPlacements)
        if (p.mode == mode)
            return &p;
    return mode > SUBS_BGGR ? &kPlacements[0] : nullptr;
}

/* Channel pairs exchanged after a frame is copied in, so that channel 0 always ends with R (or blue, for RGB). */
struct SwapRule {
    sSimImageColourModel model;
    int pairs[2][2];
    int nPairs;
};
const SwapRule kSwaps[] = {
    {SimImage_RGGB, {{0, 0}, {0, 0}}, 0},
    {SimImage_GRBG, {{0, 1}, {2, 3}}, 2},
    {SimImage_GBRG, {{0, 2}, {1, 3}}, 2},
    {SimImage_BGGR, {{0, 3}, {1, 2}}, 2},
};

bool IsBayerModel(sSimImageColourModel m) { return m >= SimImage_RGGB && m <= SimImage_BGGR; }

bool IsRgbModel(sSimImageColourModel m) { return m >= SimImage_RGB24 && m <= SimImage_RGB64; }

/* Bounded writer of the reader's buffer: never writes past it, counts what would have been written. */
struct BufferFill {
    QOR_UINT16 *buf;
    QOR_SIZE capacity; /* samples */
    QOR_SIZE pos;
    void put(PIXEL v) {
        if (pos < capacity)
            buf[pos] = static_cast<QOR_UINT16>(v);
        ++pos;
    }
};

} // namespace

/* ---------------------------------------------------------------- segment compatibility */

bool operator!=(CMetaData &a, CMetaData &b) {
    static const char *const kSame[] = {"WIDTH", "HEIGHT", "COLOUR_FORMAT"};
    for (const char *name : kSame)
        if (a.GetMetaInt(name) != b.GetMetaInt(name))
            return true;
    const char *cf = a.GetMetaStr("COLOUR_FORMAT", nullptr);
    int n = 0;
    if (cf && std::strncmp(cf, "RGGB", 4) == 0)
        n = 4;
    else if (cf && std::strncmp(cf, "RGB", 3) == 0)
        n = 3;
    if (n == 0)
        return true;
    static const char *const kPerChannel[] = {"SUBSAMPLING_HOR", "SUBSAMPLING_VER", "PHASE_OFFSET_HOR",
                                              "PHASE_OFFSET_VER"};
    for (int i = 0; i < n; ++i) {
        for (const char *name : kPerChannel)
            if (a.GetMetaDouble(name, 1.0, i, false) != b.GetMetaDouble(name, 1.0, i, false))
                return true;
        if (a.GetMetaInt("BITDEPTH", 8, i, false) != b.GetMetaInt("BITDEPTH", 8, i, false))
            return true;
    }
    return false;
}

QOR_RESULT checkMutiSegments(CImageNrv &image) {
    CMetaData *ref = image.GetMetaForFrame(0);
    if (!ref) {
        QOR_LOG_ERROR(kTag, "could not load meta data for frame %d segment %d\n", 0, 0);
        return QOR_RES_FAILED;
    }
    /* The segments are walked once, so that a file of many segments costs time in proportion to them. */
    const QOR_INT64 total = image.GetNFrames();
    QOR_INT64 counted = image.pSegInfo ? image.pSegInfo->Nframes : 0;
    QOR_INT32 i = 1;
    for (NRVSEGMENTINFO *seg = image.pSegInfo ? image.pSegInfo->next : nullptr; seg && counted < total;
         seg = seg->next, ++i) {
        /* The description of the segment's first frame: a segment without frames defers to the next one. */
        NRVSEGMENTINFO *holder = seg;
        while (holder && holder->Nframes == 0)
            holder = holder->next;
        if (!holder) {
            QOR_LOG_ERROR(kTag, "could not load meta data for frame %d segment %d\n", static_cast<int>(counted), i);
            return QOR_RES_FAILED;
        }
        if (holder->meta != *ref)
            return QOR_RES_NOT_SUPPORTED;
        counted += seg->Nframes;
    }
    return QOR_RES_OK;
}

/* ---------------------------------------------------------------- reader */

QOR_RESULT SimImageIn_init(sSimImageIn *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    std::memset(pImage, 0, sizeof(*pImage));
    return QOR_RES_OK;
}

QOR_RESULT SimImageIn_loadNRV(sSimImageIn *pImage, const char *pszFilename) {
    if (!pImage || !pszFilename)
        return QOR_RES_INVALID_PARAM;
    if (pImage->loadFromNRV || pImage->pBuffer) {
        QOR_LOG_ERROR(kTag, "object already has open image - close before opening again\n");
        return QOR_RES_ALREADY;
    }
    CImageNrv *nrv = new (std::nothrow) CImageNrv;
    if (!nrv)
        return QOR_RES_NO_MEMORY;
    QOR_RESULT ret = QOR_RES_OK;
    const char *msg = nrv->LoadFileHeader(pszFilename, nullptr);
    if (msg) {
        QOR_LOG_ERROR(kTag, "failed to load NRV header from '%s': %s\n", pszFilename, msg);
        delete nrv;
        return QOR_RES_FAILED;
    }
    pImage->nFrames = static_cast<QOR_UINT32>(nrv->GetNFrames());
    if (nrv->GetNSegments() > 1 && checkMutiSegments(*nrv) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "incompatible multi-segment image: load only from 1st segment\n");
        pImage->nFrames = static_cast<QOR_UINT32>(nrv->GetNFrames(0, nullptr));
    }
    do {
        msg = nrv->LoadFileData(0);
        if (msg) {
            QOR_LOG_ERROR(kTag, "failed to load NRV data from '%s'-frame %d: %s\n", pszFilename, 0, msg);
            ret = QOR_RES_FAILED;
            break;
        }
        if (!nrv->GetMetaForFrame(0)) {
            QOR_LOG_ERROR(kTag, "could not load meta data for frame %d in file '%s'\n", 0, pszFilename);
            ret = QOR_RES_FAILED;
            break;
        }
        if (nrv->colorModel != CM_RGB && nrv->colorModel != CM_RGGB) {
            // A fixed diagnostic on standard error, not a log line: callers read it there.
            std::fprintf(stderr, "can only load Bayer NRV, RGB or RGBA files\n");
            ret = QOR_RES_NOT_SUPPORTED;
            break;
        }
        /* The plane size comes from the planes as loaded: a raw "SUBSAMPLING_HOR" could be 0, or describe
         * planes that the colour model does not have, and the buffer must fit what a conversion writes. */
        const QOR_INT32 planeW = nrv->chnl[0].chnlWidth;
        const QOR_INT32 planeH = nrv->chnl[0].chnlHeight;
        pImage->info.ui8BitDepth = nrv->chnl[0].bitDepth;
        const QOR_INT32 n = nrv->GetNColChannels();
        for (QOR_INT32 c = 1; c < n && ret == QOR_RES_OK; ++c)
            if (nrv->chnl[c].bitDepth != nrv->chnl[0].bitDepth) {
                QOR_LOG_ERROR(kTag, "can only load NRV files with same bit depth for all channels\n");
                ret = QOR_RES_NOT_SUPPORTED;
            }
        if (ret)
            break;
        pImage->info.stride = static_cast<QOR_SIZE>(planeW) * 8;
        pImage->pBuffer = static_cast<QOR_UINT16 *>(std::malloc(static_cast<QOR_SIZE>(planeH) * pImage->info.stride));
        if (!pImage->pBuffer) {
            QOR_LOG_ERROR(kTag, "failed to allocate internal buffer\n");
            ret = QOR_RES_NO_MEMORY;
            break;
        }
        if (nrv->colorModel == CM_RGGB) {
            const BayerPlacement *pl = nrv->subsMode >= SUBS_RGGB ? PlacementOfMode(nrv->subsMode) : nullptr;
            if (!pl) {
                QOR_LOG_ERROR(kTag, "Mode not supported!\n");
                ret = QOR_RES_NOT_SUPPORTED;
                break;
            }
            pImage->info.eColourModel = pl->model;
            pImage->info.ui32Width = static_cast<QOR_UINT32>(planeW) * 2;
            pImage->info.ui32Height = static_cast<QOR_UINT32>(planeH) * 2;
            pImage->info.isBGR = 0;
        } else {
            pImage->info.eColourModel = SimImage_RGB64;
            pImage->info.isBGR = 1;
            pImage->info.ui32Width = static_cast<QOR_UINT32>(planeW);
            pImage->info.ui32Height = static_cast<QOR_UINT32>(planeH);
        }
    } while (false);
    if (ret != QOR_RES_OK) {
        delete nrv;
        return ret;
    }
    pImage->loadFromNRV = nrv;
    return QOR_RES_OK;
}

QOR_RESULT SimImageIn_convertFrame(sSimImageIn *pImage, QOR_INT32 i32frameIndex) {
    if (!pImage || i32frameIndex < 0)
        return QOR_RES_INVALID_PARAM;
    if (!pImage->loadFromNRV || !pImage->pBuffer) {
        QOR_LOG_ERROR(kTag, "file should be open before converting frame\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (static_cast<QOR_UINT32>(i32frameIndex) >= pImage->nFrames) {
        QOR_LOG_ERROR(kTag, "file only has %u frame(s), cannot convert frame %d\n", pImage->nFrames, i32frameIndex);
        return QOR_RES_INVALID_PARAM;
    }
    CImageNrv *nrv = pImage->loadFromNRV;
    const char *msg = nrv->LoadFileData(i32frameIndex);
    if (msg) {
        QOR_LOG_ERROR(kTag, "failed to load NRV data from frame %d: %s\n", i32frameIndex, msg);
        return QOR_RES_FAILED;
    }
    const bool bayer = IsBayerModel(pImage->info.eColourModel);
    const QOR_SIZE bufBytes = pImage->info.stride * pImage->info.ui32Height / (bayer ? 2 : 1);
    BufferFill out{pImage->pBuffer, bufBytes / sizeof(QOR_UINT16), 0};
    const char *func;
    if (nrv->colorModel == CM_RGGB) {
        func = "SimImageIn_ConvertBayer";
        const BayerPlacement *pl = PlacementOfMode(nrv->subsMode);
        if (!pl)
            return QOR_RES_NOT_SUPPORTED;
        const COLCHANNEL *t0 = &nrv->chnl[pl->cell[0]], *t1 = &nrv->chnl[pl->cell[1]];
        const COLCHANNEL *b0 = &nrv->chnl[pl->cell[2]], *b1 = &nrv->chnl[pl->cell[3]];
        for (QOR_INT32 r = 0; r < t0->chnlHeight; ++r) {
            for (QOR_INT32 k = 0; k < t0->chnlWidth; ++k) {
                const QOR_INT64 i = static_cast<QOR_INT64>(r) * t0->chnlWidth + k;
                out.put(t0->data[i]);
                out.put(t1->data[i]);
            }
            for (QOR_INT32 k = 0; k < b0->chnlWidth; ++k) {
                const QOR_INT64 i = static_cast<QOR_INT64>(r) * b0->chnlWidth + k;
                out.put(b0->data[i]);
                out.put(b1->data[i]);
            }
        }
    } else if (nrv->colorModel == CM_RGB) {
        func = "SimImageIn_ConvertRGB";
        const QOR_INT64 n = CImageBase::PlaneSamples(nrv->chnl[0].chnlWidth, nrv->chnl[0].chnlHeight);
        for (QOR_INT64 i = 0; i < n; ++i) {
            out.put(nrv->chnl[0].data[i]);
            out.put(nrv->chnl[1].data[i]);
            out.put(nrv->chnl[2].data[i]);
            out.put(0);
        }
    } else {
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_SIZE written = out.pos * sizeof(QOR_UINT16);
    if (written != bufBytes) {
        LOG_Error(func, __LINE__, kTag, "last offset = %zu in %zuB allocated\n", written, bufBytes);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT SimImageIn_close(sSimImageIn *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    delete pImage->loadFromNRV;
    std::free(pImage->pBuffer);
    std::memset(pImage, 0, sizeof(*pImage));
    return QOR_RES_OK;
}

QOR_RESULT SimImageIn_checkMultiSegment(const char *pszFilename, unsigned *pNSegments, unsigned *pNTotalFrames) {
    if (!pszFilename)
        return QOR_RES_INVALID_PARAM;
    CImageNrv *nrv = new (std::nothrow) CImageNrv;
    if (!nrv)
        return QOR_RES_NO_MEMORY;
    const char *msg = nrv->LoadFileHeader(pszFilename, nullptr);
    if (msg) {
        QOR_LOG_ERROR(kTag, "failed to load NRV header from '%s': %s\n", pszFilename, msg);
        delete nrv;
        return QOR_RES_FAILED;
    }
    QOR_RESULT ret = QOR_RES_OK;
    if (nrv->GetNSegments() >= 1) {
        ret = checkMutiSegments(*nrv);
        if (ret != QOR_RES_OK)
            QOR_LOG_WARNING(kTag, "incompatible multi-segment image: load only from 1st segment\n");
    }
    if (pNSegments)
        *pNSegments = static_cast<unsigned>(nrv->GetNSegments());
    if (pNTotalFrames)
        *pNTotalFrames = static_cast<unsigned>(nrv->GetNFrames());
    delete nrv;
    return ret;
}

/* ---------------------------------------------------------------- writer */

QOR_RESULT SimImageOut_init(sSimImageOut *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    std::memset(pImage, 0, sizeof(*pImage));
    return QOR_RES_OK;
}

QOR_RESULT SimImageOut_create(sSimImageOut *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    CM_xxx model;
    SUBS_xxx subs;
    const sSimImageColourModel m = pImage->info.eColourModel;
    if (IsRgbModel(m)) {
        model = CM_RGB;
        subs = SUBS_UNDEF;
        pImage->nPlanes = 3;
    } else if (IsBayerModel(m)) {
        static const SUBS_xxx kSubs[] = {SUBS_RGGB, SUBS_GRBG, SUBS_GBRG, SUBS_BGGR};
        model = CM_RGGB;
        subs = kSubs[m - SimImage_RGGB];
        pImage->nPlanes = 4;
    } else {
        QOR_LOG_ERROR(kTag, "unsupported format\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT8 bd = pImage->info.ui8BitDepth;
    CImageNrv *nrv = new (std::nothrow) CImageNrv;
    if (!nrv)
        return QOR_RES_FAILED;
    const QOR_INT8 depths[4] = {static_cast<QOR_INT8>(bd), static_cast<QOR_INT8>(bd), static_cast<QOR_INT8>(bd),
                                static_cast<QOR_INT8>(bd)};
    if (bd < 1 || bd > 31 || pImage->info.ui32Width > static_cast<QOR_UINT32>(CImageBase::MAX_DIMENSION) ||
        pImage->info.ui32Height > static_cast<QOR_UINT32>(CImageBase::MAX_DIMENSION) ||
        !nrv->CreateNewImage(static_cast<QOR_INT32>(pImage->info.ui32Width),
                             static_cast<QOR_INT32>(pImage->info.ui32Height), model, subs, depths, nullptr)) {
        delete nrv;
        return QOR_RES_FAILED;
    }
    NRVSAVEFORMAT *fmt = new (std::nothrow) NRVSAVEFORMAT;
    if (!fmt) {
        delete nrv;
        return QOR_RES_FAILED;
    }
    std::memset(fmt, 0, sizeof(*fmt));
    fmt->pixelFormat = PACKM_UNPACKEDR;
    for (int i = 0; i < pImage->nPlanes; ++i)
        fmt->planeFormat[i] = 1;
    nrv->exposureInfo.time = pImage->info.ui32ExposureTime;
    nrv->exposureInfo.gain = pImage->info.fGain;
    pImage->saveToNRV = nrv;
    pImage->saveFormat = fmt;
    pImage->saveContext = nullptr;
    return QOR_RES_OK;
}

QOR_RESULT SimImageOut_open(sSimImageOut *pImage, const char *pszFilename) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    if (!pImage->saveToNRV || !pImage->saveFormat) {
        QOR_LOG_ERROR(kTag, "file should have been created beforehand\n");
        return QOR_RES_INVALID_PARAM;
    }
    CImageNrv *nrv = pImage->saveToNRV;
    void *ctx = nullptr;
    const char *msg = nrv->SaveFileStart(pszFilename, pImage->saveFormat, &ctx);
    if (msg) {
        QOR_LOG_ERROR(kTag, "CImageNrv::SaveFilestart %s\n", msg);
        return QOR_RES_FAILED;
    }
    msg = nrv->StartSegment(ctx);
    if (msg) {
        QOR_LOG_ERROR(kTag, "CImageNrv::StartSegment %s\n", msg);
    } else {
        msg = nrv->SaveFileHeader(ctx);
        if (msg)
            QOR_LOG_ERROR(kTag, "CImageNrv::SaveFileHeader %s\n", msg);
    }
    if (msg) {
        const char *endMsg = nrv->SaveFileEnd(ctx);
        if (endMsg) {
            QOR_LOG_ERROR(kTag, "CImageNrv::SaveFileEnd %s\n", endMsg);
            nrv->SaveFileAbort(ctx); /* the end failed: the file is still open, close it here */
        }
        return QOR_RES_FAILED;
    }
    pImage->saveContext = ctx;
    return QOR_RES_OK;
}

QOR_RESULT SimImageOut_addFrame(sSimImageOut *pImage, const void *pData, QOR_SIZE size) {
    if (!pImage || !pData)
        return QOR_RES_INVALID_PARAM;
    CImageNrv *nrv = pImage->saveToNRV;
    if (!nrv) {
        QOR_LOG_ERROR(kTag, "Image not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const QOR_UINT8 *in = static_cast<const QOR_UINT8 *>(pData);
    const QOR_UINT8 bd = pImage->info.ui8BitDepth;
    const QOR_SIZE s = (bd + 7u) / 8u;
    const sSimImageColourModel m = pImage->info.eColourModel;
    QOR_SIZE count = 0;
    int nCh = 0;
    enum { BAYER8, BAYER16, RGB24, RGB32_8, RGB32_10, RGB64 } layout;

    if (IsBayerModel(m)) {
        if (nrv->GetNColChannels() != 4) {
            QOR_LOG_ERROR(kTag, "unexpected number of channels\n");
            return QOR_RES_FAILED;
        }
        if (bd > 16) {
            QOR_LOG_ERROR(kTag, "unsupported format\n");
            return QOR_RES_NOT_SUPPORTED;
        }
        /* Depths below 8 are stored one byte per sample, like 8. */
        layout = bd <= 8 ? BAYER8 : BAYER16;
        const QOR_SIZE rec = 4 * (bd <= 8 ? 1 : 2);
        if (size % rec != 0)
            return QOR_RES_NOT_SUPPORTED;
        count = size / rec;
        nCh = 4;
    } else if (IsRgbModel(m)) {
        if (nrv->GetNColChannels() != 3) {
            QOR_LOG_ERROR(kTag, "unexpected number of channels\n");
            return QOR_RES_FAILED;
        }
        nCh = 3;
        if (m == SimImage_RGB24) {
            if (size % 3 != 0) {
                QOR_LOG_ERROR(kTag, "unexpected size\n");
                return QOR_RES_NOT_SUPPORTED;
            }
            layout = RGB24;
            count = size / 3;
        } else {
            const QOR_SIZE bpp = m == SimImage_RGB32 ? 4 : 8;
            if ((size * 3 / 4) % (3 * s) != 0) {
                QOR_LOG_ERROR(kTag, "unexpected size\n");
                return QOR_RES_NOT_SUPPORTED;
            }
            if (bd <= 8)
                count = size / bpp;
            else
                count = static_cast<QOR_SIZE>(pImage->info.ui32Width) * pImage->info.ui32Height;
            /* The frame given must hold every pixel that is read from it. */
            if (size < count * bpp) {
                QOR_LOG_ERROR(kTag, "unexpected size\n");
                return QOR_RES_NOT_SUPPORTED;
            }
            layout = m == SimImage_RGB64 ? RGB64 : (bd <= 8 ? RGB32_8 : RGB32_10);
        }
    } else {
        QOR_LOG_ERROR(kTag, "unsupported format\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    for (int c = 0; c < nCh; ++c) {
        const QOR_INT64 cap = CImageBase::PlaneSamples(nrv->chnl[c].chnlWidth, nrv->chnl[c].chnlHeight);
        if (static_cast<QOR_INT64>(count) > cap) {
            QOR_LOG_ERROR(kTag, "trying to copy more (%zd) than the channel %d can cope with (%d)\n",
                          static_cast<ssize_t>(count), c, static_cast<int>(cap));
            return QOR_RES_FAILED;
        }
    }
    for (QOR_SIZE i = 0; i < count; ++i) {
        switch (layout) {
        case BAYER8:
            for (int k = 0; k < 4; ++k)
                nrv->chnl[k].data[i] = in[4 * i + k];
            break;
        case BAYER16:
            for (int k = 0; k < 4; ++k) {
                QOR_UINT16 v;
                std::memcpy(&v, in + 8 * i + 2 * k, 2);
                nrv->chnl[k].data[i] = v;
            }
            break;
        case RGB24:
            for (int k = 0; k < 3; ++k)
                nrv->chnl[k].data[i] = in[3 * i + k];
            break;
        case RGB32_8:
            for (int k = 0; k < 3; ++k)
                nrv->chnl[k].data[i] = in[4 * i + k];
            break;
        case RGB32_10: {
            const QOR_UINT32 w = static_cast<QOR_UINT32>(in[4 * i]) | static_cast<QOR_UINT32>(in[4 * i + 1]) << 8 |
                                 static_cast<QOR_UINT32>(in[4 * i + 2]) << 16 |
                                 static_cast<QOR_UINT32>(in[4 * i + 3]) << 24;
            for (int k = 0; k < 3; ++k)
                nrv->chnl[k].data[i] = static_cast<PIXEL>((w >> (10 * k)) & 0x3FFu);
            break;
        }
        case RGB64:
            for (int k = 0; k < 3; ++k) {
                QOR_UINT16 v;
                std::memcpy(&v, in + 8 * i + 2 * k, 2);
                nrv->chnl[k].data[i] = v;
            }
            break;
        }
    }
    if (IsBayerModel(m)) {
        for (const auto &rule : kSwaps)
            if (rule.model == m)
                for (int p = 0; p < rule.nPairs; ++p)
                    std::swap(nrv->chnl[rule.pairs[p][0]].data, nrv->chnl[rule.pairs[p][1]].data);
    } else if (!pImage->info.isBGR) {
        std::swap(nrv->chnl[0].data, nrv->chnl[2].data);
    }
    return QOR_RES_OK;
}

QOR_RESULT SimImageOut_write(sSimImageOut *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    if (!pImage->saveToNRV || !pImage->saveContext)
        return QOR_RES_NOT_INITIALISED;
    const char *msg = pImage->saveToNRV->SaveFileData(pImage->saveContext);
    if (msg) {
        QOR_LOG_ERROR(kTag, "CImageNrv::SaveFileData %s\n", msg);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT SimImageOut_close(sSimImageOut *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    if (!pImage->saveToNRV || !pImage->saveFormat || !pImage->saveContext)
        return QOR_RES_NOT_INITIALISED;
    const char *msg = pImage->saveToNRV->SaveFileEnd(pImage->saveContext);
    if (msg) {
        QOR_LOG_ERROR(kTag, "CImageNrv::SaveFileEnd %s\n", msg);
        return QOR_RES_FAILED;
    }
    delete pImage->saveToNRV;
    delete pImage->saveFormat;
    pImage->saveToNRV = nullptr;
    pImage->saveFormat = nullptr;
    pImage->saveContext = nullptr;
    return QOR_RES_OK;
}

QOR_RESULT SimImageOut_clean(sSimImageOut *pImage) {
    if (!pImage)
        return QOR_RES_INVALID_PARAM;
    if (pImage->saveToNRV && pImage->saveContext && pImage->saveFormat) {
        QOR_LOG_ERROR(kTag, "a sSimImageOut was not closed! closing...\n");
        SimImageOut_close(pImage);
    }
    /* A file whose end failed is still open: close it rather than lose its descriptor. */
    if (pImage->saveContext && pImage->saveToNRV)
        pImage->saveToNRV->SaveFileAbort(pImage->saveContext);
    delete pImage->saveToNRV;
    delete pImage->saveFormat;
    return SimImageOut_init(pImage);
}
