#ifndef NORVA_IMAGE_PLRAW_H
#define NORVA_IMAGE_PLRAW_H

#include <cstdio>
#include <string>

#include "image_base.h"

/** Plain raw files: headerless interleaved RGB or full Bayer mosaics, little-endian samples, described by the name. */
class CImagePlRaw : public CImageBase {
public:
    struct plrawLoadFormatStr {
        QOR_INT32 width;
        QOR_INT32 height;
        QOR_INT8 bitDepth;
        colorModelEnum colorModel;
        subsamplingModeEnum subsMode;
    };
    struct plrawSaveFormatStr {
        QOR_INT8 bitDepth;
        QOR_INT32 rangeMin[4];
        QOR_INT32 rangeMax[4];
    };
    struct plrawSaveContextStr {
        FILE *f;
        plrawSaveFormatStr *pExtra;
        /* The path the file was created at, and whether a step failed: a file that did not come out whole is
         * removed when the save ends. */
        std::string path;
        bool failed;
    };
    struct plrawFormatSpecStr {
        const char *format;
        colorModelEnum colorModel;
        subsamplingModeEnum subsMode;
        QOR_INT8 defaultBd;
    };

    QOR_INT64 frameSize;

    /** Deepest sample the loader and the writer take. */
    static const QOR_INT32 MAX_BIT_DEPTH = 30;

    CImagePlRaw();
    ~CImagePlRaw() override;

    void UnloadHeader() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;
    void SaveFileAbort(void *pSC) override;

    static const char *GetLoadFormat(plrawLoadFormatStr *pFmt, const char *filename, const char **pFormatPart);
    const char *GetFormatString(const plrawSaveFormatStr *pFmt);

    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImageBase *pIm);
    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImageNrv *pIm);
    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImagePxm *pIm);
    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImageYuv *pIm);
    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImagePlRaw *pIm);
    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImageNRaw *pIm);
    static const char *GetSaveFormat(plrawSaveFormatStr *pFmt, CImageBmp *pIm);

    static const plrawFormatSpecStr plrawFormatSpecs[5];
};

typedef CImagePlRaw::plrawLoadFormatStr PLRAWLOADFORMAT;
typedef CImagePlRaw::plrawSaveFormatStr PLRAWSAVEFORMAT;
typedef CImagePlRaw::plrawSaveContextStr PLRAWSAVECONTEXT;

#endif
