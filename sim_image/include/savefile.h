#ifndef NORVA_SAVEFILE_H
#define NORVA_SAVEFILE_H

#include <pthread.h>
#include <cstdio>

#include "qor_errors.h"
#include "qor_types.h"
#include "sim_image.h"

/* File sink for captured frames: a plain binary file or an NRV file of frames. Logs under "Savefile". */

struct SaveFile {
    FILE *saveTo;
    sSimImageOut *pSimImage;
    QOR_UINT32 ui32TimeWritten;
    pthread_mutex_t fileLock;
    QOR_BOOL8 bInitiliasedLock;
    /* The plain file's path and whether a write into it failed: a file that did not come out whole is removed
     * when it is closed. */
    char *pszFilename;
    QOR_BOOL8 bWriteFailed;
};

QOR_BOOL SaveFile_useSaveLocks(void);
QOR_RESULT SaveFile_init(SaveFile *pFile);
QOR_RESULT SaveFile_open(SaveFile *pFile, const char *filename);
QOR_RESULT SaveFile_openNRV(SaveFile *pFile, const char *filename, const SimImageInfo *info);
QOR_RESULT SaveFile_write(SaveFile *pFile, const void *ptr, size_t size);
QOR_RESULT SaveFile_writeFrame(SaveFile *pFile, const void *ptr, size_t stride, size_t size, QOR_UINT32 lines);
QOR_RESULT SaveFile_close(SaveFile *pFile);
QOR_RESULT SaveFile_destroy(SaveFile *pFile);

/* Packed Bayer captures to per-cell order (TL, TR, BL, BR of every 2x2 cell); the output is allocated with
 * malloc and freed by the caller. imageSize holds {width, height}. */
QOR_RESULT convertToPlanarBayer8(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT8 **pOutput,
                                 QOR_SIZE *pOutsize);
QOR_RESULT convertToPlanarBayer10(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                  QOR_SIZE *pOutsize);
QOR_RESULT convertToPlanarBayer12(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                  QOR_SIZE *pOutsize);
QOR_RESULT convertToPlanarBayerTiff10(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                      QOR_SIZE *pOutsize);
QOR_RESULT convertToPlanarBayerTiff12(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT16 **pOutput,
                                      QOR_SIZE *pOutsize);
QOR_RESULT convertToPlanarBayer(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT8 uiBayerDepth,
                                void **pOutput, QOR_SIZE *pOutsize);
QOR_RESULT convertToPlanarBayerTiff(QOR_UINT16 *imageSize, const void *pInput, QOR_SIZE stride, QOR_UINT8 uiBayerDepth,
                                    void **pOutput, QOR_SIZE *pOutsize);

#endif
