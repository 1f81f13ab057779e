#ifndef NORVA_LSHGRID_H
#define NORVA_LSHGRID_H

/*
 * Lens-shading grids: the correction gain over a coarse grid of vertices, one float plane per position of the
 * 2 x 2 colour-filter cell, with their binary file format, text and grey-map dumps and test patterns.
 * Log tag "LSH_OUT".
 *
 * Grid file (little-endian): "LSH\0", version 1, width, height, tile size (unsigned 32-bit each), then the
 * four planes of width x height 32-bit floats, row after row.
 */

#include "qor_errors.h"
#include "qor_types.h"

typedef float LSH_FLOAT;

typedef struct LSH_GRID {
    /** Distance between two vertices in colour-filter cells; a power of two. */
    QOR_UINT16 ui16TileSize;
    /** Vertices per row. */
    QOR_UINT16 ui16Width;
    /** Rows of vertices. */
    QOR_UINT16 ui16Height;
    /** One plane per colour-filter position, width x height values row by row; null when not allocated. */
    LSH_FLOAT *apMatrix[4];
} LSH_GRID;

/** Largest width or height a grid file may declare. */
#define LSH_MAX_GRID_SIZE 32768u

#ifdef __cplusplus
extern "C" {
#endif

/** Allocates the four planes zeroed: 18 when the grid already holds planes, 22 for a tile that is not 2^n. */
QOR_RESULT LSH_AllocateMatrix(LSH_GRID *pLSH, QOR_UINT16 ui16Width, QOR_UINT16 ui16Height, QOR_UINT16 ui16TileSize);
/** A grid of (ceil(width / tile) + 1) x (ceil(height / tile) + 1) vertices covering an image of that size. */
QOR_RESULT LSH_CreateMatrix(LSH_GRID *pLSH, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height, QOR_UINT16 ui16TileSize);
/** Fills plane c with a bilinear ramp between the corners top-left, top-right, bottom-left, bottom-right. */
QOR_RESULT LSH_FillLinear(LSH_GRID *pLSH, int c, const LSH_FLOAT aCorners[4]);
/** Fills plane c with a bowl: the corner values in the corners, aCorners[4] in the centre. */
QOR_RESULT LSH_FillBowl(LSH_GRID *pLSH, int c, const LSH_FLOAT aCorners[5]);
/** Frees the four planes and sets them to null; the sizes stay. */
void LSH_Free(LSH_GRID *pLSH);
QOR_RESULT LSH_Save_bin(const LSH_GRID *pLSH, const char *filename);
/**
 * Reads a grid file. The header is checked against the file's size before anything is allocated; a grid holding
 * NaN or an infinity is refused with QOR_RES_NOT_SUPPORTED. On success planes the grid held before are freed and
 * replaced; on failure the grid is left as it was.
 */
QOR_RESULT LSH_Load_bin(LSH_GRID *pLSH, const char *filename);
QOR_RESULT LSH_Save_txt(const LSH_GRID *pLSH, const char *filename);
/**
 * A plain grey map ("P2") of width x (4 x height): the four planes stacked, scaled between the smallest and the
 * largest finite values; NaN and -infinity print 0, +infinity 255.
 */
QOR_RESULT LSH_Save_pgm(const LSH_GRID *pLSH, const char *filename);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_LSHGRID_H */
