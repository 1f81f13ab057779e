#ifndef NORVA_IMAGE_FILE_IO_H
#define NORVA_IMAGE_FILE_IO_H

/* File and geometry helpers shared by the plain image formats (not part of the library's interface). */

#include <cstdio>
#include <cstring>
#include <string>

#include "image_base.h"
#include "norvacommon/regular_file.h"

namespace imageio {

/** Size of an open file in bytes, or -1; the position is left at the start. */
QOR_INT64 FileSize(FILE *f);
/** Size of a named file in bytes, or -1 when it cannot be opened. */
QOR_INT64 FileSize(const char *filename);
/** Moves to a 64-bit offset; false when the offset is negative or the seek fails. */
bool SeekTo(FILE *f, QOR_INT64 offset);
/** True for a width and height that a loader may size planes from (1 to the library's limit). */
bool ValidSize(QOR_INT64 w, QOR_INT64 h);
/** Allocates every missing plane of the image's channels at its channel size; false when one cannot be. */
bool AllocPlanes(CImageBase &im);
/** Sets every sample of the image's channel planes to 0 (planes not yet allocated are skipped). */
void ZeroPlanes(CImageBase &im);
/** Copies a file name into the image's fileName; false when out of memory. */
bool SetFileName(CImageBase &im, const char *filename);

/** Ends the file of a save context: true when all its data reached the file. Otherwise, or when `failed` (a step
 *  of the save failed), the partial file is removed (never a device). The stream is closed and *pF null after. */
bool EndOutput(FILE **pF, const std::string &path, bool failed);

/** The end of a save: ends the context's file (see EndOutput) and deletes the context. Returns null when all its
 *  data reached the file, else `writeError` and the context stays for AbortSave. A null context ends nothing. */
template <class Context> const char *EndSave(Context *ctx, const char *writeError) {
    if (!ctx)
        return nullptr;
    if (!EndOutput(&ctx->f, ctx->path, ctx->failed))
        return writeError;
    delete ctx;
    return nullptr;
}

/** An abandoned save: its file is removed and the context deleted (a null context is ignored). */
template <class Context> void AbortSave(Context *ctx) {
    if (!ctx)
        return;
    EndOutput(&ctx->f, ctx->path, true);
    delete ctx;
}

/** Runs one step of a save (`body` returns null or a message) and marks the context failed when the step fails
 *  with a message that `spoils` accepts (any message when it is null): its file is then removed at the end. */
template <class Context, class Body> const char *SaveStep(Context *ctx, Body body, const char *spoils = nullptr) {
    const char *res = body();
    if (res && ctx && (!spoils || std::strcmp(res, spoils) == 0))
        ctx->failed = true;
    return res;
}

/** Decimal number at s (digits only), saturating at maxVal + 1 so long digit runs stay defined. */
QOR_INT64 ReadNumber(const char *s, const char **pEnd, QOR_INT64 maxVal);

/** Size and depth tokens found in a path ("640x480", "10bit", "10-bit"). */
struct NameTokens {
    QOR_INT32 width = 0, height = 0;
    QOR_INT32 bitDepth = 0;        /* 0: none given */
    bool badDepth = false;         /* the last depth token named more bits than the loader takes */
    QOR_INT64 firstCandidate = -1; /* offset of the earliest format token in the path */
};
/** Scans a lower-case path copy from the left for size and depth tokens (a later one overrides an earlier one);
 *  sizes are blanked in the copy. maxDepth is the deepest sample the loader reads. */
void ScanNameTokens(char *lowerPath, QOR_INT32 maxDepth, NameTokens *pTok);
/** Offset of the file name part in a path: behind the last "\\", else the last "/", else 0. */
QOR_INT64 NamePartOffset(const char *path);

/** The 2x2 Bayer cell channel at (row parity, column parity) for a Bayer subsampling, or -1. */
inline int BayerChannel(QOR_INT32 subs, QOR_INT32 y, QOR_INT32 x) {
    if (subs < CImageBase::SUBS_RGGB || subs > CImageBase::SUBS_BGGR)
        return -1;
    return (subs - CImageBase::SUBS_RGGB) ^ (2 * (y & 1) + (x & 1));
}

} // namespace imageio

#endif
