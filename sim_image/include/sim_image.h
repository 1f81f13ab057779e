#ifndef NORVA_SIM_IMAGE_H
#define NORVA_SIM_IMAGE_H

#include "image_nrv.h"
#include "qor_errors.h"
#include "qor_types.h"

/* Data-generator image input and capture output over NRV files. Logs under "SimImage". */

enum sSimImageColourModel : QOR_INT32 {
    SimImage_RGB24 = 0,
    SimImage_RGB32 = 1,
    SimImage_RGB64 = 2,
    SimImage_RGGB = 3,
    SimImage_GRBG = 4,
    SimImage_GBRG = 5,
    SimImage_BGGR = 6,
};

struct SimImageInfo {
    QOR_UINT8 ui8BitDepth;
    QOR_UINT32 ui32Width;
    QOR_UINT32 ui32Height;
    QOR_SIZE stride;
    sSimImageColourModel eColourModel;
    QOR_UINT32 ui32ExposureTime;
    double fGain;
    QOR_BOOL8 isBGR;
};

struct sSimImageIn {
    SimImageInfo info;
    QOR_UINT32 nFrames;
    CImageNrv *loadFromNRV;
    QOR_UINT16 *pBuffer;
};

struct sSimImageOut {
    SimImageInfo info;
    QOR_INT8 nPlanes;
    CImageNrv *saveToNRV;
    NRVSAVEFORMAT *saveFormat;
    void *saveContext;
};

QOR_RESULT SimImageIn_init(sSimImageIn *pImage);
QOR_RESULT SimImageIn_loadNRV(sSimImageIn *pImage, const char *pszFilename);
QOR_RESULT SimImageIn_convertFrame(sSimImageIn *pImage, QOR_INT32 i32frameIndex);
QOR_RESULT SimImageIn_close(sSimImageIn *pImage);
QOR_RESULT SimImageIn_checkMultiSegment(const char *pszFilename, unsigned *pNSegments, unsigned *pNTotalFrames);

QOR_RESULT SimImageOut_init(sSimImageOut *pImage);
QOR_RESULT SimImageOut_create(sSimImageOut *pImage);
QOR_RESULT SimImageOut_open(sSimImageOut *pImage, const char *pszFilename);
QOR_RESULT SimImageOut_addFrame(sSimImageOut *pImage, const void *pData, QOR_SIZE size);
QOR_RESULT SimImageOut_write(sSimImageOut *pImage);
QOR_RESULT SimImageOut_close(sSimImageOut *pImage);
QOR_RESULT SimImageOut_clean(sSimImageOut *pImage);

/** True when two segment descriptions are not compatible frames of one sequence. */
bool operator!=(CMetaData &a, CMetaData &b);
/** 0 when every segment of a loaded file matches its first frame's description, else 3 or 22. */
QOR_RESULT checkMutiSegments(CImageNrv &image);

#endif
