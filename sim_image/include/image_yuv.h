#ifndef NORVA_IMAGE_YUV_H
#define NORVA_IMAGE_YUV_H

#include <cstdio>
#include <string>

#include "image_base.h"

/** Headerless YUV files: frames back to back, planar, 4:4:4 interleaved or packed 4:2:2, described by the name. */
class CImageYuv : public CImageBase {
public:
    enum planeFormatsStr {
        PLANEFMT_PLANAR = 0,
        PLANEFMT_INTER_YUV = 1,
        PLANEFMT_INTER_YUYV = 2,
        PLANEFMT_INTER_YVYU = 3,
        PLANEFMT_INTER_UYVY = 4,
        PLANEFMT_INTER_VYUY = 5,
    };
    struct yuvLoadFormatStr {
        QOR_INT32 width;
        QOR_INT32 height;
        subsamplingModeEnum subsMode;
        QOR_INT8 bitDepth;
        planeFormatsStr planeFormat;
        bool msbAligned;
    };
    struct yuvSaveFormatStr {
        planeFormatsStr planeFormat;
        bool msbAligned;
    };
    struct yuvSaveContextStr {
        FILE *f;
        yuvSaveFormatStr *pExtra;
        /* The path the file was created at, and whether a step failed: a file that did not come out whole is
         * removed when the save ends. */
        std::string path;
        bool failed;
    };
    struct yuvFormatSpecStr {
        const char *format;
        subsamplingModeEnum subsMode;
        planeFormatsStr planeFmt;
        bool msbAligned;
        QOR_INT8 defaultBd;
    };

    QOR_INT64 frameSize;
    QOR_INT32 Nframes;
    planeFormatsStr planeFormat;
    bool msbAligned;

    /** Deepest sample the files hold: two bytes per sample. */
    static const QOR_INT32 MAX_BIT_DEPTH = 16;

    CImageYuv();
    ~CImageYuv() override;

    void UnloadHeader() override;
    QOR_INT32 GetProperty(imagePropertiesEnum property) override;
    QOR_INT32 GetNFrames() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;
    void SaveFileAbort(void *pSC) override;

    static const char *GetLoadFormat(yuvLoadFormatStr *pFmt, const char *filename, const char **pFormatPart);
    const char *GetFormatString(const yuvSaveFormatStr *pFmt);

    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImageBase *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImageNrv *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImageYuv *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImagePxm *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImagePlRaw *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImageNRaw *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImageAptinaRaw *pIm);
    static const char *GetSaveFormat(yuvSaveFormatStr *pFmt, CImageBmp *pIm);

    static const yuvFormatSpecStr yuvFormatSpecs[24];
};

typedef CImageYuv::yuvLoadFormatStr YUVLOADFORMAT;
typedef CImageYuv::yuvSaveFormatStr YUVSAVEFORMAT;
typedef CImageYuv::yuvSaveContextStr YUVSAVECONTEXT;
typedef CImageYuv::planeFormatsStr PLANEFMT_xxx;
constexpr auto PLANEFMT_PLANAR = CImageYuv::PLANEFMT_PLANAR;
constexpr auto PLANEFMT_INTER_YUV = CImageYuv::PLANEFMT_INTER_YUV;
constexpr auto PLANEFMT_INTER_YUYV = CImageYuv::PLANEFMT_INTER_YUYV;
constexpr auto PLANEFMT_INTER_YVYU = CImageYuv::PLANEFMT_INTER_YVYU;
constexpr auto PLANEFMT_INTER_UYVY = CImageYuv::PLANEFMT_INTER_UYVY;
constexpr auto PLANEFMT_INTER_VYUY = CImageYuv::PLANEFMT_INTER_VYUY;

#endif
