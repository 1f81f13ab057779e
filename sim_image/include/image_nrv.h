#ifndef NORVA_IMAGE_NRV_H
#define NORVA_IMAGE_NRV_H

#include <cstdio>
#include <string>
#include <vector>

#include "bitstream_rw.h"
#include "image_base.h"
#include "image_metadata.h"

/** The NRV container: segments of a 64-byte ASCII header, a metadata text section and frames of planes. */
class CImageNrv : public CImageBase {
public:
    enum packingModeEnum {
        PACKM_UNDEF = 0,
        PACKM_UNPACKEDR = 1,
        PACKM_UNPACKEDL = 2,
        PACKM_GROUPPACK = 3,
    };
    enum soTableEntriesEnum {
        SOTE_METAOFFS = 0,
        SOTE_METASIZE = 1,
        SOTE_PIXELSOFFS = 2,
        SOTE_PIXELSSIZE = 3,
    };

    struct nrvSegmentInfoStr {
        QOR_INT64 segmentOffset;
        QOR_INT64 segmentSize;
        QOR_INT64 *frameOffsets;
        QOR_INT32 NframeOffsets;
        QOR_INT32 Nframes;
        CMetaData meta;
        nrvSegmentInfoStr *next;
        /* End of the pixel section relative to the segment start: no frame reaches past it. */
        QOR_INT64 pixelsEnd;

        nrvSegmentInfoStr();
        ~nrvSegmentInfoStr();
        nrvSegmentInfoStr(const nrvSegmentInfoStr &) = delete;
        nrvSegmentInfoStr &operator=(const nrvSegmentInfoStr &) = delete;
    };

    struct nrvSaveFormatStr {
        packingModeEnum pixelFormat;
        QOR_INT32 pixelFormatParam[4];
        QOR_INT8 planeFormat[4];
        QOR_INT32 lineAlign;
        CMetaData *pMD;
        CImageBase *pImData;
    };

    struct nrvSaveContextStr {
        FILE *f;
        QOR_INT64 soTableSave[4];
        nrvSegmentInfoStr seg;
        nrvSaveFormatStr *pExtra;
        /* Format built from the image when the caller gave none, so lines and metadata agree. */
        nrvSaveFormatStr ownFormat;
        bool segmentStarted;
        /* The path the file was created at, and whether a step failed: a file that did not come out whole is
         * removed when the save ends. */
        std::string path;
        bool failed;
    };

    packingModeEnum pixelFormat;
    QOR_INT32 pixelFormatParam[4];
    nrvSegmentInfoStr *pSegInfo;
    nrvSegmentInfoStr *pCurrSeg;

    /** Most table entries a segment header can declare (two decimal digits). */
    static const QOR_INT32 MAX_TABLE_ENTRIES = 99;
    /** Largest metadata section read whole. */
    static const QOR_INT64 MAX_META_SIZE = 268435456;

    CImageNrv();
    ~CImageNrv() override;

    void UnloadHeader() override;
    QOR_INT32 GetProperty(imagePropertiesEnum property) override;
    QOR_INT32 GetNFrames() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;

    /** Closes the file of a save context that cannot be ended properly and frees the context. */
    void SaveFileAbort(void *pSC) override;

    QOR_INT32 GetNFrames(QOR_INT32 segmentIndex, QOR_INT32 *pFirstFrame);
    QOR_INT32 GetNSegments();
    nrvSegmentInfoStr *GetSegment(QOR_INT32 index, bool isFrameIndex);
    QOR_INT32 GetSegmentIndex(QOR_INT32 frameIndex, QOR_INT32 *pFrameWithinSeg, nrvSegmentInfoStr **ppSeg);
    QOR_INT64 GetFrameFilePos(QOR_INT32 frameIndex, QOR_INT64 *pFrameSize);
    CMetaData *GetMetaForFrame(QOR_INT32 frameIndex);
    const char *ApplyMetaData(nrvSegmentInfoStr *pSeg);
    const char *ApplyMetaForFrame(QOR_INT32 frameIndex, bool force);

    subsamplingModeEnum GetSubsampling(CMetaData *pMD);
    static subsamplingModeEnum DetectNrvSubsampling(CImageBase *pImData, CMetaData *pMD);

    QOR_UINT32 GetNFilePlanes(nrvSaveFormatStr *pFormat);
    QOR_INT32 GetNChannelsInPlane(QOR_INT32 plane, nrvSaveFormatStr *pFormat);
    QOR_INT32 GetPlaneBaseChannel(QOR_INT32 plane, nrvSaveFormatStr *pFormat);
    QOR_INT64 GetLineSize(QOR_INT32 plane, nrvSaveFormatStr *pFormat);
    QOR_INT64 GetFrameSize(nrvSaveFormatStr *pFormat);
    bool CheckValidMetaPlaneFormat(nrvSaveFormatStr *pFormat);

    const char *StartSegment(void *pSC, bool inherit = false, bool force = false);
    void RebuildBaseMetaData(nrvSaveFormatStr *pFormat, CMetaData *pMD);
    void UpgradeMetaData(CMetaData *pMD);

    QOR_INT32 ConvertFrom(CImageNrv *pSrc, colorModelEnum newColorModel, subsamplingModeEnum newSubsMode,
                          bool onlyCheckIfAvail);
    void SwapWith(CImageNrv *pOther);

    static nrvSegmentInfoStr *NewSegment();
    void AddSegment(nrvSegmentInfoStr *pSeg);
    bool AddNewSegment(QOR_INT32 Nframes);

    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImageBase *pIm);
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImageNrv *pIm);
    /* The other classes' images: defined with each class. */
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImagePxm *pIm);
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImageYuv *pIm);
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImagePlRaw *pIm);
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImageNRaw *pIm);
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImageAptinaRaw *pIm);
    static const char *GetSaveFormat(nrvSaveFormatStr *pFmt, CImageBmp *pIm);

    /**
     * Segments looked at by frame lookups since the object was made: a frame's segment is found by binary search,
     * so playing a file of many segments stays linear in its frames (tests and benchmarks check it here).
     */
    QOR_UINT64 GetSegmentVisits() const { return segmentVisits; }

    /** Channel container size in bytes for unpacked lines. */
    static QOR_INT32 ContainerBytes(QOR_INT32 bitDepth);
    /** Word of a colour model in "COLOUR_FORMAT", or null. */
    static const char *ColourFormatName(QOR_INT32 model);

private:
    const char *LoadNrvSegmentHeader(FILE *f, QOR_INT64 segStart, QOR_INT64 fileSize, nrvSegmentInfoStr *pSeg);
    const char *SaveNrvSegmentStart(nrvSaveContextStr *pSC);
    const char *SaveNrvSegmentEnd(nrvSaveContextStr *pSC);
    const char *SaveNrvMetaData(nrvSaveContextStr *pSC, CMetaData *pMD);
    const char *SaveNrvFrameData(nrvSaveContextStr *pSC);
    const char *CheckPlane(CImageBase *pIm, QOR_INT32 base, QOR_INT32 n);
    QOR_INT64 LineSizeOf(CImageBase *pIm, QOR_INT32 base, QOR_INT32 n, packingModeEnum packing, QOR_INT32 group,
                         QOR_INT32 align);
    QOR_INT32 GetLineAlign(QOR_INT32 plane, nrvSaveFormatStr *pFormat);
    QOR_INT32 GetGroupSize(QOR_INT32 plane, nrvSaveFormatStr *pFormat);
    packingModeEnum GetPacking(nrvSaveFormatStr *pFormat);
    CImageBase *SaveImage(nrvSaveFormatStr *pFormat);
    bool EnsureLineBuffer(QOR_INT64 size);
    /** The file frames are read from, opened once and kept while the header stays loaded. */
    FILE *DataFile();
    void CloseDataFile();
    /** Builds the segment index when the list changed since it was built; false when it cannot be built. */
    bool IndexSegments();
    void DropSegmentIndex();

    QOR_UINT8 *lineBuf;
    QOR_INT64 lineBufSize;
    FILE *dataFile;
    const char *dataFileName; /* the fileName dataFile was opened for */
    /* The segments in file order and the first frame of each (one more entry: the frame total), built from the
     * list on first use and dropped whenever the list changes. */
    std::vector<nrvSegmentInfoStr *> segIndex;
    std::vector<QOR_INT64> segFirstFrame;
    bool segIndexValid;
    QOR_UINT64 segmentVisits;
};

typedef CImageNrv::packingModeEnum PACKM_xxx;
typedef CImageNrv::nrvSegmentInfoStr NRVSEGMENTINFO;
typedef CImageNrv::nrvSaveFormatStr NRVSAVEFORMAT;
typedef CImageNrv::nrvSaveContextStr NRVSAVECONTEXT;
constexpr auto PACKM_UNDEF = CImageNrv::PACKM_UNDEF;
constexpr auto PACKM_UNPACKEDR = CImageNrv::PACKM_UNPACKEDR;
constexpr auto PACKM_UNPACKEDL = CImageNrv::PACKM_UNPACKEDL;
constexpr auto PACKM_GROUPPACK = CImageNrv::PACKM_GROUPPACK;
constexpr auto SOTE_METAOFFS = CImageNrv::SOTE_METAOFFS;
constexpr auto SOTE_METASIZE = CImageNrv::SOTE_METASIZE;
constexpr auto SOTE_PIXELSOFFS = CImageNrv::SOTE_PIXELSOFFS;
constexpr auto SOTE_PIXELSSIZE = CImageNrv::SOTE_PIXELSSIZE;

#endif
