#ifndef NORVA_IMAGE_PXM_H
#define NORVA_IMAGE_PXM_H

#include <cstdio>
#include <string>

#include "image_base.h"
#include "image_metadata.h"

/** Portable grey and pixel maps (P2, P3, P5, P6); a grey map may carry a Bayer mosaic split into RGGB planes. */
class CImagePxm : public CImageBase {
public:
    enum pxmTypeEnum {
        PPTYPE_UNDEF = 0,
        PPTYPE_PPMB = 1,
        PPTYPE_PPMT = 2,
        PPTYPE_PGMB = 3,
        PPTYPE_PGMT = 4,
    };
    enum pxmLoadBitDepthEnum {
        LOADBD_SIGNED = 0,
        LOADBD_DOWNSIZE = 1,
    };
    struct pxmLoadFormatStr {
        colorModelEnum forceColorModel;
        subsamplingModeEnum forceSubsampling;
        bool useBayerCells;
        pxmLoadBitDepthEnum loadBd;
    };
    struct pxmSaveFormatStr {
        pxmTypeEnum fileFormat;
        bool useBayerCells;
    };
    struct pxmSaveContextStr {
        FILE *f;
        pxmSaveFormatStr *pExtra;
        QOR_INT32 maxVal;
        /* The path the file was created at, and whether a step failed: a file that did not come out whole is
         * removed when the save ends. */
        std::string path;
        bool failed;
    };

    QOR_INT32 foffsetData;
    void *pExtra;
    QOR_INT8 pixelOnLoadResize;
    pxmTypeEnum fileFormat;
    CMetaData meta;

    static const QOR_INT32 MAX_COMMENT = 1000;

    CImagePxm();
    ~CImagePxm() override;

    void UnloadHeader() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;
    void SaveFileAbort(void *pSC) override;

    void ParseComment(FILE *f, char **ppMetaItemBuf);

    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImageBase *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImageNrv *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImagePxm *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImageYuv *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImagePlRaw *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImageNRaw *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImageAptinaRaw *pIm);
    static const char *GetSaveFormat(pxmSaveFormatStr *pFmt, CImageBmp *pIm);

private:
    QOR_INT32 BitDepthOfFile() const;
};

typedef CImagePxm::pxmLoadFormatStr PXMLOADFORMAT;
typedef CImagePxm::pxmSaveFormatStr PXMSAVEFORMAT;
typedef CImagePxm::pxmSaveContextStr PXMSAVECONTEXT;
constexpr auto PPTYPE_UNDEF = CImagePxm::PPTYPE_UNDEF;
constexpr auto PPTYPE_PPMB = CImagePxm::PPTYPE_PPMB;
constexpr auto PPTYPE_PPMT = CImagePxm::PPTYPE_PPMT;
constexpr auto PPTYPE_PGMB = CImagePxm::PPTYPE_PGMB;
constexpr auto PPTYPE_PGMT = CImagePxm::PPTYPE_PGMT;
constexpr auto LOADBD_SIGNED = CImagePxm::LOADBD_SIGNED;
constexpr auto LOADBD_DOWNSIZE = CImagePxm::LOADBD_DOWNSIZE;

#endif
