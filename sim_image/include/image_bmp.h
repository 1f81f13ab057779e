#ifndef NORVA_IMAGE_BMP_H
#define NORVA_IMAGE_BMP_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "image_base.h"

/** Windows bitmaps: 1, 4, 8 and 24 bits, uncompressed, RLE8 or RLE4 read into 8-bit RGB; written as 24-bit. */
class CImageBmp : public CImageBase {
public:
    enum compressionTypeEnum {
        COMPR_NONE = 0,
        COMPR_RLE8 = 1,
        COMPR_RLE4 = 2,
    };
    /* The two header records, laid out as in the file (the file header packed: dwSize at offset 2). The loader
     * reads and the writer writes them field by field, little-endian, whatever the host's byte order. Members
     * of the packed record are copied, not bound to references. */
#pragma pack(push, 1)
    struct bmpFileHead {
        QOR_UINT16 wType;
        QOR_UINT32 dwSize;
        QOR_UINT16 wRes1;
        QOR_UINT16 wRes2;
        QOR_UINT32 dwOffBits;
    };
#pragma pack(pop)
    struct bmpInfoHead {
        QOR_UINT32 dwSize;
        QOR_INT32 dwWidth;
        QOR_INT32 dwHeight;
        QOR_UINT16 wPlanes;
        QOR_UINT16 wBitCount;
        QOR_UINT32 dwCompression;
        QOR_UINT32 dwSizeImage;
        QOR_INT32 dwXPelsPerMeter;
        QOR_INT32 dwYPelsPerMeter;
        QOR_UINT32 dwClrUsed;
        QOR_UINT32 dwClrImportant;
    };
    typedef bmpFileHead BMPFILEHEAD;
    typedef bmpInfoHead BMPINFOHEAD;
    struct bmpSaveFormatStr {
        double mul[3];
        QOR_INT32 off[3];
    };
    struct bmpSaveContextStr {
        FILE *f;
        bmpSaveFormatStr *pExtra;
        /* Format built from the image when the caller gave none. */
        bmpSaveFormatStr ownFormat;
        /* The path the file was created at, and whether a step failed: a file that did not come out whole is
         * removed when the save ends. */
        std::string path;
        bool failed;
    };

    QOR_UINT8 *pPalette;
    BMPFILEHEAD fhdr;
    BMPINFOHEAD ihdr;

    CImageBmp();
    ~CImageBmp() override;

    void UnloadHeader() override;
    const char *LoadFileHeader(const char *filename, void *pExtra) override;
    const char *LoadFileData(QOR_INT32 frameIndex) override;
    const char *SaveFileStart(const char *filename, void *pExtra, void **pSC) override;
    const char *SaveFileHeader(void *pSC) override;
    const char *SaveFileData(void *pSC) override;
    const char *SaveFileEnd(void *pSC) override;
    void SaveFileAbort(void *pSC) override;

    static bool GetChannelMapToRGB(colorModelEnum colorModel, QOR_INT32 *pMap3);

    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImageBase *pIm);
    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImageNrv *pIm);
    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImagePxm *pIm);
    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImageYuv *pIm);
    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImagePlRaw *pIm);
    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImageNRaw *pIm);
    static const char *GetSaveFormat(bmpSaveFormatStr *pFmt, CImageAptinaRaw *pIm);

private:
    /* Entries held in pPalette; indexes at or past it read entry 0. */
    QOR_UINT32 paletteEntries;
    /* Rows stored top row first (negative height in the file). */
    bool topDown;
    const char *DecodeRle(FILE *f);
};

static_assert(sizeof(CImageBmp::BMPFILEHEAD) == 14, "file header record is the 14 bytes of the file");
static_assert(offsetof(CImageBmp::BMPFILEHEAD, dwSize) == 2 && offsetof(CImageBmp::BMPFILEHEAD, wRes1) == 6 &&
                  offsetof(CImageBmp::BMPFILEHEAD, wRes2) == 8 && offsetof(CImageBmp::BMPFILEHEAD, dwOffBits) == 10,
              "file header fields at their file offsets");
static_assert(sizeof(CImageBmp::BMPINFOHEAD) == 40, "info header record is the 40 bytes of the file");
static_assert(offsetof(CImageBmp::BMPINFOHEAD, dwWidth) == 4 && offsetof(CImageBmp::BMPINFOHEAD, wPlanes) == 12 &&
                  offsetof(CImageBmp::BMPINFOHEAD, wBitCount) == 14 &&
                  offsetof(CImageBmp::BMPINFOHEAD, dwCompression) == 16 &&
                  offsetof(CImageBmp::BMPINFOHEAD, dwClrUsed) == 32 &&
                  offsetof(CImageBmp::BMPINFOHEAD, dwClrImportant) == 36,
              "info header fields at their offsets behind the file header");

typedef CImageBmp::bmpSaveFormatStr BMPSAVEFORMAT;
typedef CImageBmp::bmpSaveContextStr BMPSAVECONTEXT;
constexpr auto COMPR_NONE = CImageBmp::COMPR_NONE;
constexpr auto COMPR_RLE8 = CImageBmp::COMPR_RLE8;
constexpr auto COMPR_RLE4 = CImageBmp::COMPR_RLE4;

#endif
