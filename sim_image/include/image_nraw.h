#ifndef NORVA_IMAGE_NRAW_H
#define NORVA_IMAGE_NRAW_H

#include "image_base.h"
#include "image_metadata.h"

/** NRAW camera captures: a 124-byte header, then frames of Bayer, planar YUV 4:2:2 or RGB pixels from 1024. Read only. */
class CImageNRaw : public CImageBase {
public:
    enum imageTypesEnum {
        IT_BAYER = 0,
        IT_YUV422 = 1,
        IT_RGB565 = 2,
        IT_RGB444 = 3,
        IT_RGB888 = 4,
        IT_UNDEF = 65535,
    };
    enum bayerTypesEnum {
        BT_RGGB = 0,
        BT_GRBG = 1,
        BT_GBRG = 2,
        BT_BGGR = 3,
        BT_UNDEF = 65535,
    };
    struct nrawHeaderStr {
        char signature[4];
        QOR_UINT16 width;
        QOR_UINT16 height;
        QOR_UINT16 bitDepth;
        QOR_UINT16 bytesPerSample;
        QOR_UINT16 bayerType;
        QOR_UINT16 headerVersion;
        QOR_UINT16 sensorCfgNum;
        QOR_UINT16 imageType;
        QOR_UINT8 reserved[12];
        QOR_UINT32 chipID;
        char fwVersion[14];
        char make[30];
        char model[32];
        QOR_UINT16 components;
        QOR_UINT16 numFrames;
        QOR_UINT16 opticalBlack[4];
    };

    CMetaData meta;
    /* Bytes of one frame as stored for the image type (packed RGB types take fewer than three samples per
     * pixel); 64-bit, since 16-bit sizes of 4-byte samples pass 2 GiB. */
    QOR_INT64 frameSize;
    QOR_INT32 fileOffsetFrame1;
    imageTypesEnum nrawImageType;
    QOR_UINT8 bytesPerSample;

    static const QOR_INT32 HEADER_SIZE = 124;
    static const QOR_INT32 DATA_OFFSET = 1024;

    CImageNRaw();
    ~CImageNRaw() override;

    void UnloadHeader() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;

    static bool DetectFormat(const char *filename);
};

typedef CImageNRaw::nrawHeaderStr NRAWHEADER;

#endif
