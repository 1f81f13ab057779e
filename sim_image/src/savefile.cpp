#include "savefile.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "Savefile";

/* Sample x of one packed line, for each input layout. */
QOR_UINT16 Sample8(const QOR_UINT8 *line, QOR_SIZE x) { return line[x]; }

QOR_UINT16 Sample10(const QOR_UINT8 *line, QOR_SIZE x) {
    const QOR_UINT8 *w = line + 4 * (x / 3);
    const QOR_UINT32 word = static_cast<QOR_UINT32>(w[0]) | static_cast<QOR_UINT32>(w[1]) << 8 |
                            static_cast<QOR_UINT32>(w[2]) << 16 | static_cast<QOR_UINT32>(w[3]) << 24;
    return static_cast<QOR_UINT16>((word >> (10 * (x % 3))) & 0x3FFu);
}

QOR_UINT16 Sample12(const QOR_UINT8 *line, QOR_SIZE x) {
    const QOR_SIZE bit = 12 * x;
    const QOR_UINT8 *b = line + bit / 8;
    const QOR_UINT32 v = static_cast<QOR_UINT32>(b[0]) | static_cast<QOR_UINT32>(b[1]) << 8;
    return static_cast<QOR_UINT16>((v >> (bit % 8)) & 0xFFFu);
}

QOR_UINT16 SampleTiff10(const QOR_UINT8 *line, QOR_SIZE x) {
    const QOR_UINT8 *b = line + 5 * (x / 4);
    switch (x % 4) {
    case 0:
        return static_cast<QOR_UINT16>(b[0] * 4 + b[1] / 64);
    case 1:
        return static_cast<QOR_UINT16>((b[1] % 64) * 16 + b[2] / 16);
    case 2:
        return static_cast<QOR_UINT16>((b[2] % 16) * 64 + b[3] / 4);
    default:
        return static_cast<QOR_UINT16>((b[3] % 4) * 256 + b[4]);
    }
}

QOR_UINT16 SampleTiff12(const QOR_UINT8 *line, QOR_SIZE x) {
    const QOR_UINT8 *b = line + 3 * (x / 2);
    return x % 2 == 0 ? static_cast<QOR_UINT16>(b[0] * 16 + b[1] / 16)
                      : static_cast<QOR_UINT16>((b[1] % 16) * 256 + b[2]);
}

struct Layout {
    QOR_UINT16 (*sample)(const QOR_UINT8 *, QOR_SIZE);
    bool capture; /* capture layouts: stride in 32-bit words, zero-filled output */
    int outBytes; /* bytes per output sample */
    QOR_SIZE (*rowBytes)(QOR_SIZE width);
};

QOR_SIZE Row8(QOR_SIZE w) { return w; }
QOR_SIZE Row10(QOR_SIZE w) { return (w + 2) / 3 * 4; }
QOR_SIZE Row12(QOR_SIZE w) { return (w * 12 + 31) / 32 * 4; }
QOR_SIZE RowTiff10(QOR_SIZE w) { return (w * 10 + 7) / 8; }
QOR_SIZE RowTiff12(QOR_SIZE w) { return (w * 12 + 7) / 8; }

const Layout kBayer8 = {Sample8, true, 1, Row8};
const Layout kBayer10 = {Sample10, true, 2, Row10};
const Layout kBayer12 = {Sample12, true, 2, Row12};
const Layout kTiff10 = {SampleTiff10, false, 2, RowTiff10};
const Layout kTiff12 = {SampleTiff12, false, 2, RowTiff12};

QOR_RESULT Convert(const Layout &lay, const QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, void **pOutput,
                   QOR_SIZE *pOutsize) {
    if (!imageSize || !pInput || !pOutput || !pOutsize) {
        QOR_LOG_ERROR(kTag, "imageSize, pInput, pOutput or pOutsize is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_SIZE width = imageSize[0], height = imageSize[1];
    if (lay.capture && stride % 4 != 0) {
        QOR_LOG_ERROR(kTag, "size is not a multiple of 32b\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (height % 2 != 0) {
        QOR_LOG_ERROR(kTag, "function does not work with odd height\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    /* Whole 2x2 cells only; and every line must hold its samples, so no read goes past the input. */
    if (width % 2 != 0) {
        QOR_LOG_ERROR(kTag, "function does not work with odd width\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (height > 0 && stride < lay.rowBytes(width)) {
        QOR_LOG_ERROR(kTag, "stride %zu is too small for a line of %zu samples\n", stride, width);
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_SIZE outSize = width * height * static_cast<QOR_SIZE>(lay.outBytes);
    *pOutsize = outSize;
    void *out = lay.capture ? std::calloc(outSize ? outSize : 1, 1) : std::malloc(outSize ? outSize : 1);
    if (!out) {
        QOR_LOG_ERROR(kTag, lay.capture ? "outputBuffer is NULL\n" : "*pOutput is NULL\n");
        return QOR_RES_NO_MEMORY;
    }
    const QOR_UINT8 *in = static_cast<const QOR_UINT8 *>(pInput);
    QOR_UINT8 *out8 = static_cast<QOR_UINT8 *>(out);
    QOR_UINT16 *out16 = static_cast<QOR_UINT16 *>(out);
    for (QOR_SIZE r = 0; 2 * r + 1 < height; ++r) {
        const QOR_UINT8 *even = in + 2 * r * stride;
        const QOR_UINT8 *odd = even + stride;
        QOR_SIZE o = r * 2 * width;
        QOR_SIZE produced = 0;
        for (QOR_SIZE k = 0; k < width / 2; ++k) {
            const QOR_UINT16 cell[4] = {lay.sample(even, 2 * k), lay.sample(even, 2 * k + 1), lay.sample(odd, 2 * k),
                                        lay.sample(odd, 2 * k + 1)};
            for (QOR_UINT16 v : cell) {
                if (lay.outBytes == 1)
                    out8[o++] = static_cast<QOR_UINT8>(v);
                else
                    out16[o++] = v;
                ++produced;
            }
        }
        if (produced != 2 * width) {
            QOR_LOG_ERROR(kTag, "did not save the correct number of pixels %d vs %d\n", static_cast<int>(produced),
                          static_cast<int>(2 * width));
            std::free(out);
            return QOR_RES_FAILED;
        }
    }
    *pOutput = out;
    return QOR_RES_OK;
}

QOR_RESULT CheckFile(const SaveFile *pFile) {
    if (!pFile->bInitiliasedLock) {
        QOR_LOG_ERROR(kTag, "file not initialised!\n");
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

/* Holds the record's mutex for one file operation, released on every path. */
class FileLock {
public:
    explicit FileLock(SaveFile *f) : f_(f) { pthread_mutex_lock(&f_->fileLock); }
    ~FileLock() { pthread_mutex_unlock(&f_->fileLock); }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    SaveFile *f_;
};

/* Ends an NRV writer whatever state it is in and frees it; returns the result of ending the file. */
QOR_RESULT EndSimImage(sSimImageOut *p) {
    QOR_RESULT ret = QOR_RES_OK;
    if (p->saveToNRV && p->saveFormat && p->saveContext) {
        ret = SimImageOut_close(p);
        if (ret != QOR_RES_OK)
            QOR_LOG_ERROR(kTag, "failed to close NRV file (returned %d)\n", ret);
    }
    SimImageOut_clean(p);
    delete p;
    return ret;
}

} // namespace

QOR_BOOL SaveFile_useSaveLocks(void) { return QOR_TRUE; }

QOR_RESULT SaveFile_init(SaveFile *pFile) {
    if (!pFile) {
        QOR_LOG_ERROR(kTag, "pFile is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pthread_mutex_init(&pFile->fileLock, nullptr) != 0)
        return QOR_RES_FAILED;
    pFile->saveTo = nullptr;
    pFile->pSimImage = nullptr;
    pFile->ui32TimeWritten = 0;
    pFile->pszFilename = nullptr;
    pFile->bWriteFailed = QOR_FALSE;
    pFile->bInitiliasedLock = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT SaveFile_open(SaveFile *pFile, const char *filename) {
    if (!pFile || !filename) {
        QOR_LOG_ERROR(kTag, "pFile or filename is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    /* The initialised flag is checked first: the other fields of an uninitialised record mean nothing. */
    if (QOR_RESULT r = CheckFile(pFile))
        return r;
    if (pFile->saveTo || pFile->pSimImage) {
        QOR_LOG_ERROR(kTag, "file already opened\n");
        return QOR_RES_IN_USE;
    }
    FileLock lock(pFile);
    pFile->pszFilename = strdup(filename);
    if (!pFile->pszFilename)
        return QOR_RES_NO_MEMORY;
    pFile->bWriteFailed = QOR_FALSE;
    pFile->saveTo = QOR_CreateFile(filename, "wb");
    if (!pFile->saveTo) {
        QOR_LOG_ERROR(kTag, "failed to open file '%s'\n", filename);
        std::free(pFile->pszFilename);
        pFile->pszFilename = nullptr;
        return QOR_RES_FAILED;
    }
    pFile->ui32TimeWritten = 0;
    return QOR_RES_OK;
}

QOR_RESULT SaveFile_openNRV(SaveFile *pFile, const char *filename, const SimImageInfo *info) {
    if (!pFile || !filename || !info) {
        QOR_LOG_ERROR(kTag, "pFile or filename or info is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckFile(pFile))
        return r;
    if (pFile->saveTo || pFile->pSimImage) {
        QOR_LOG_ERROR(kTag, "pFile->saveTo or pFile->pSimImage is not NULL (file already opened)\n");
        return QOR_RES_IN_USE;
    }
    FileLock lock(pFile);
    sSimImageOut *p = new (std::nothrow) sSimImageOut;
    QOR_RESULT ret = p ? SimImageOut_init(p) : QOR_RES_NO_MEMORY;
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create Sim Image object (returned %d)\n", ret);
        delete p;
        return ret;
    }
    p->info = *info;
    ret = SimImageOut_create(p);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to create NRV file for saving (returned %d)\n", ret);
        EndSimImage(p);
        return ret;
    }
    ret = SimImageOut_open(p, filename);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to open NRV file for saving (returned %d)\n", ret);
        EndSimImage(p);
        return ret;
    }
    pFile->pSimImage = p;
    pFile->ui32TimeWritten = 0;
    return QOR_RES_OK;
}

QOR_RESULT SaveFile_write(SaveFile *pFile, const void *ptr, size_t size) {
    if (!pFile || !ptr || size == 0) {
        QOR_LOG_ERROR(kTag, "pFile or ptr is NULL (or size is 0)\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckFile(pFile))
        return r;
    FileLock lock(pFile);
    if (!pFile->saveTo && !pFile->pSimImage) {
        QOR_LOG_ERROR(kTag, "pFile->saveTo and pFile->pSimImage is NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (pFile->saveTo) {
        const size_t w = std::fwrite(ptr, 1, size, pFile->saveTo);
        if (w != size) {
            pFile->bWriteFailed = QOR_TRUE;
            QOR_LOG_ERROR(kTag, "failed to write to file (written %zd/%zdB)\n", static_cast<ssize_t>(w),
                          static_cast<ssize_t>(size));
            return QOR_RES_FAILED;
        }
    } else {
        QOR_RESULT ret = SimImageOut_addFrame(pFile->pSimImage, ptr, size);
        if (ret != QOR_RES_OK) {
            /* Writing now would store the previous frame's planes again under this frame's place. */
            QOR_LOG_ERROR(kTag, "failed to add a frame (returned %d)\n", ret);
            return ret;
        }
        ret = SimImageOut_write(pFile->pSimImage);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to write a frame (returned %d\n", ret);
            return ret;
        }
    }
    pFile->ui32TimeWritten++;
    return QOR_RES_OK;
}

QOR_RESULT SaveFile_writeFrame(SaveFile *pFile, const void *ptr, size_t stride, size_t size, QOR_UINT32 lines) {
    if (!pFile || !ptr || stride == 0 || size == 0 || lines == 0) {
        QOR_LOG_ERROR(kTag, "pFile(%p) or ptr(%p) or is NULL (or stride, size or lines is 0)\n",
                      static_cast<const void *>(pFile), ptr);
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckFile(pFile))
        return r;
    if (stride < size) {
        QOR_LOG_ERROR(kTag, "size > stride\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    FileLock lock(pFile);
    if (!pFile->saveTo && !pFile->pSimImage) {
        QOR_LOG_ERROR(kTag, "pFile->saveTo and pFile->pSimImage are NULL\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const QOR_UINT8 *in = static_cast<const QOR_UINT8 *>(ptr);
    if (pFile->saveTo) {
        for (QOR_UINT32 i = 0; i < lines; ++i) {
            const size_t w = std::fwrite(in + static_cast<size_t>(i) * stride, 1, size, pFile->saveTo);
            if (w != size) {
                pFile->bWriteFailed = QOR_TRUE;
                QOR_LOG_ERROR(kTag, "failed to write to file (%zd/%zdB written)\n", static_cast<ssize_t>(w),
                              static_cast<ssize_t>(size));
                return QOR_RES_FAILED;
            }
        }
    } else {
        if (size > SIZE_MAX / lines)
            return QOR_RES_NO_MEMORY;
        /* Rows without padding are already one frame; only padded rows are gathered first. */
        QOR_UINT8 *buf = nullptr;
        if (stride != size) {
            buf = static_cast<QOR_UINT8 *>(std::malloc(size * lines));
            if (!buf) {
                QOR_LOG_ERROR(kTag, "failed to allocate %zu bytes to gather a frame\n", size * lines);
                return QOR_RES_NO_MEMORY;
            }
            for (QOR_UINT32 i = 0; i < lines; ++i)
                std::memcpy(buf + static_cast<size_t>(i) * size, in + static_cast<size_t>(i) * stride, size);
        }
        QOR_RESULT ret = SimImageOut_addFrame(pFile->pSimImage, buf ? buf : in, size * lines);
        std::free(buf);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to add a frame (returned %d)\n", ret);
            return ret;
        }
        ret = SimImageOut_write(pFile->pSimImage);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to write a frame (returned %d\n", ret);
            return QOR_RES_FAILED;
        }
    }
    pFile->ui32TimeWritten++;
    return QOR_RES_OK;
}

QOR_RESULT SaveFile_close(SaveFile *pFile) {
    if (!pFile) {
        QOR_LOG_ERROR(kTag, "pFile is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckFile(pFile))
        return r;
    FileLock lock(pFile);
    QOR_RESULT ret = QOR_RES_OK;
    if (pFile->saveTo) {
        /* Data that did not all reach the file is reported, and the partial file removed. */
        if (QOR_CloseCreatedFile(pFile->saveTo, pFile->pszFilename, pFile->bWriteFailed) != 0) {
            QOR_LOG_ERROR(kTag, "failed to close file\n");
            ret = QOR_RES_FAILED;
        }
        pFile->saveTo = nullptr;
        std::free(pFile->pszFilename);
        pFile->pszFilename = nullptr;
    }
    if (pFile->pSimImage) {
        /* The writer is freed and its file closed in every case; a file that could not be ended is reported. */
        ret = EndSimImage(pFile->pSimImage);
        pFile->pSimImage = nullptr;
    }
    return ret;
}

QOR_RESULT SaveFile_destroy(SaveFile *pFile) {
    if (!pFile) {
        QOR_LOG_ERROR(kTag, "pFile is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (!pFile->bInitiliasedLock)
        return QOR_RES_OK;
    QOR_RESULT ret = SaveFile_close(pFile);
    pthread_mutex_destroy(&pFile->fileLock);
    pFile->bInitiliasedLock = QOR_FALSE;
    return ret;
}

QOR_RESULT convertToPlanarBayer8(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT8 **pOutput,
                                 QOR_SIZE *pOutsize) {
    return Convert(kBayer8, imageSize, pInput, stride, reinterpret_cast<void **>(pOutput), pOutsize);
}

QOR_RESULT convertToPlanarBayer10(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                  QOR_SIZE *pOutsize) {
    return Convert(kBayer10, imageSize, pInput, stride, reinterpret_cast<void **>(pOutput), pOutsize);
}

QOR_RESULT convertToPlanarBayer12(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                  QOR_SIZE *pOutsize) {
    return Convert(kBayer12, imageSize, pInput, stride, reinterpret_cast<void **>(pOutput), pOutsize);
}

QOR_RESULT convertToPlanarBayerTiff10(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                      QOR_SIZE *pOutsize) {
    return Convert(kTiff10, imageSize, pInput, stride, reinterpret_cast<void **>(pOutput), pOutsize);
}

QOR_RESULT convertToPlanarBayerTiff12(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                      QOR_SIZE *pOutsize) {
    return Convert(kTiff12, imageSize, pInput, stride, reinterpret_cast<void **>(pOutput), pOutsize);
}

QOR_RESULT convertToPlanarBayer(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT8 uiBayerDepth,
                                void **pOutput, QOR_SIZE *pOutsize) {
    switch (uiBayerDepth) {
    case 8:
        return Convert(kBayer8, imageSize, pInput, stride, pOutput, pOutsize);
    case 10:
        return Convert(kBayer10, imageSize, pInput, stride, pOutput, pOutsize);
    case 12:
        return Convert(kBayer12, imageSize, pInput, stride, pOutput, pOutsize);
    default:
        QOR_LOG_ERROR(kTag, "bayer depth %u is not supported\n", uiBayerDepth);
        return QOR_RES_NOT_SUPPORTED;
    }
}

QOR_RESULT convertToPlanarBayerTiff(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT8 uiBayerDepth,
                                    void **pOutput, QOR_SIZE *pOutsize) {
    switch (uiBayerDepth) {
    case 10:
        return Convert(kTiff10, imageSize, pInput, stride, pOutput, pOutsize);
    case 12:
        return Convert(kTiff12, imageSize, pInput, stride, pOutput, pOutsize);
    default:
        QOR_LOG_ERROR(kTag, "bayer depth %u is not supported\n", uiBayerDepth);
        return QOR_RES_NOT_SUPPORTED;
    }
}
