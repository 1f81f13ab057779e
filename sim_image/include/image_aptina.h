#ifndef NORVA_IMAGE_APTINA_H
#define NORVA_IMAGE_APTINA_H

#include "image_base.h"

/** Aptina raw captures: packed 10-bit GRBG frames in a ".raw" file, described by "<name>_info.txt". Read only. */
class CImageAptinaRaw : public CImageBase {
public:
    enum rawPixelFormats {
        RPF_UNDEF = 0,
        RPF_BAYER10 = 1,
    };

    QOR_INT32 Nframes;
    QOR_INT32 frameSize;
    rawPixelFormats pixelFormat;

    CImageAptinaRaw();
    ~CImageAptinaRaw() override;

    void UnloadHeader() override;
    QOR_INT32 GetProperty(imagePropertiesEnum property) override;
    QOR_INT32 GetNFrames() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;

    static bool DetectFormat(const char *filename);
};

#endif
