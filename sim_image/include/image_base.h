#ifndef NORVA_IMAGE_BASE_H
#define NORVA_IMAGE_BASE_H

#include "qor_types.h"

/* The image classes of the file library. Operations report failure with a fixed English message text
 * (null is success) or a boolean; they never log and never throw. */

typedef QOR_INT32 PIXEL;

/* Every class of the library is declared here so that save-format overloads can name each other. */
class CImageBase;
class CImageNrv;
class CImagePxm;
class CImageYuv;
class CImagePlRaw;
class CImageNRaw;
class CImageAptinaRaw;
class CImageBmp;

class CImageBase {
public:
    enum colorModelEnum {
        CM_UNDEF = 0,
        CM_GRAY = 1,
        CM_RGB = 2,
        CM_RGBA = 3,
        CM_RGGB = 4,
        CM_RGBW = 5,
        CM_YUV = 6,
        CM_YUVA = 7,
    };
    enum subsamplingModeEnum {
        SUBS_UNDEF = 0,
        SUBS_444 = 1,
        SUBS_422 = 2,
        SUBS_420 = 3,
        SUBS_RGGB = 4,
        SUBS_GRBG = 5,
        SUBS_GBRG = 6,
        SUBS_BGGR = 7,
    };
    enum imagePropertiesEnum {
        PROPERTY_SUPPORT_VIDEO = 0,
        PROPERTY_IS_VIDEO = 1,
    };

    struct colorChannelDataStr {
        PIXEL *data;
        QOR_INT32 chnlWidth;
        QOR_INT32 chnlHeight;
        QOR_UINT8 bitDepth;
        bool isSigned;
    };
    struct exposureInfoStr {
        QOR_UINT32 time;
        double gain;
    };
    struct colorModelInfoStr {
        colorModelEnum model;
        QOR_INT32 Nchannels;
        bool isBayer;
        bool isSubsSupport;
        const char *channelNames[4];
    };

    QOR_INT32 width;
    QOR_INT32 height;
    colorChannelDataStr chnl[4];
    exposureInfoStr exposureInfo;
    colorModelEnum colorModel;
    subsamplingModeEnum subsMode;
    char *fileName;

    CImageBase();
    virtual ~CImageBase();
    CImageBase(const CImageBase &) = delete;
    CImageBase &operator=(const CImageBase &) = delete;

    virtual bool IsHeaderLoaded();
    virtual bool IsDataLoaded();
    virtual void UnloadHeader();
    virtual void UnloadData();
    virtual QOR_INT32 GetProperty(imagePropertiesEnum property);
    virtual QOR_INT32 GetNFrames();
    virtual const char *LoadFileHeader(const char *filename, void *pExtra);
    virtual const char *LoadFileData(QOR_INT32 frameIndex);
    virtual const char *SaveFileStart(const char *filename, void *pExtra, void **pSC);
    virtual const char *SaveFileHeader(void *pSC);
    virtual const char *SaveFileData(void *pSC);
    virtual const char *SaveFileEnd(void *pSC);

    void Unload();
    static const colorModelInfoStr *GetColorModelInfo(QOR_INT32 model);
    QOR_INT32 GetNColChannels() const;
    QOR_INT32 GetXSampling(QOR_INT32 colChannel) const;
    QOR_INT32 GetYSampling(QOR_INT32 colChannel) const;

    bool CreateNewImage(QOR_INT32 width, QOR_INT32 height, colorModelEnum colorModel, subsamplingModeEnum subsampling,
                        const QOR_INT8 *chnlBitDepths, const PIXEL *chnlDefVal);
    const char *SaveSingleFrameImage(const char *filename, void *pExtra);
    QOR_INT32 ConvertFrom(CImageBase *pSrc, colorModelEnum newColorModel, subsamplingModeEnum newSubsMode,
                          bool onlyCheckIfAvail);
    void SwapWith(CImageBase *pOther);

    static QOR_UINT8 GetBayerFlip(subsamplingModeEnum bayerSubsampling);
    static QOR_UINT8 GetBayerFlip(subsamplingModeEnum src, subsamplingModeEnum dst);

    static QOR_INT32 ChBitDepth(QOR_INT32 pixel, QOR_INT8 oldBitDepth, QOR_INT8 newBitDepth);
    static void ChBitDepth(QOR_INT32 *pSrc, QOR_INT32 *pDst, QOR_INT32 Npixels, QOR_INT8 oldBitDepth,
                           QOR_INT8 newBitDepth);
    void ChangeChannelBitDepth(QOR_INT32 channel, QOR_INT8 newBitDepth);
    void OffsetChannelValues(QOR_INT32 channel, QOR_INT32 addValue);
    QOR_UINT32 ClipChannelValues(QOR_INT32 channel, QOR_INT32 minVal, QOR_INT32 maxVal, bool countClipOnly);
    QOR_UINT32 ClipChannelValuesToBD(QOR_INT32 channel, bool countClipOnly);

    /** Drops a save context whose end failed, or a save given up: closes its file, removes the partial file
     *  (never a device) and frees the context (nothing for classes without). A SaveFileEnd that fails (a step
     *  failed, or data did not reach the file) keeps the context for this call, its partial file already gone. */
    virtual void SaveFileAbort(void *pSC);

    /** Value range of a channel from its bit depth and signedness (64-bit so that 31-bit depths fit). */
    static void GetChannelRange(const colorChannelDataStr &c, QOR_INT64 *pMin, QOR_INT64 *pMax);
    /** Samples of a plane of the given size, or -1 when a side is not positive. */
    static QOR_INT64 PlaneSamples(QOR_INT32 w, QOR_INT32 h);

    /** Largest width or height any loader accepts; larger values come only from damaged files. */
    static const QOR_INT32 MAX_DIMENSION = 32768;
};

typedef CImageBase::colorModelEnum CM_xxx;
typedef CImageBase::subsamplingModeEnum SUBS_xxx;
typedef CImageBase::colorChannelDataStr COLCHANNEL;
typedef CImageBase::exposureInfoStr EXPOSUREINFO;
typedef CImageBase::colorModelInfoStr COLORMODELINFO;
typedef CImageBase::imagePropertiesEnum PROPERTY_xxx;

constexpr auto CM_UNDEF = CImageBase::CM_UNDEF;
constexpr auto CM_GRAY = CImageBase::CM_GRAY;
constexpr auto CM_RGB = CImageBase::CM_RGB;
constexpr auto CM_RGBA = CImageBase::CM_RGBA;
constexpr auto CM_RGGB = CImageBase::CM_RGGB;
constexpr auto CM_RGBW = CImageBase::CM_RGBW;
constexpr auto CM_YUV = CImageBase::CM_YUV;
constexpr auto CM_YUVA = CImageBase::CM_YUVA;
constexpr auto SUBS_UNDEF = CImageBase::SUBS_UNDEF;
constexpr auto SUBS_444 = CImageBase::SUBS_444;
constexpr auto SUBS_422 = CImageBase::SUBS_422;
constexpr auto SUBS_420 = CImageBase::SUBS_420;
constexpr auto SUBS_RGGB = CImageBase::SUBS_RGGB;
constexpr auto SUBS_GRBG = CImageBase::SUBS_GRBG;
constexpr auto SUBS_GBRG = CImageBase::SUBS_GBRG;
constexpr auto SUBS_BGGR = CImageBase::SUBS_BGGR;
constexpr auto PROPERTY_SUPPORT_VIDEO = CImageBase::PROPERTY_SUPPORT_VIDEO;
constexpr auto PROPERTY_IS_VIDEO = CImageBase::PROPERTY_IS_VIDEO;

#endif
