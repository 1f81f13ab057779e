#ifndef NORVACOMMON_DPF_MAP_H
#define NORVACOMMON_DPF_MAP_H

#include "qor_errors.h"
#include "qor_types.h"

/*
 * Defect-map files: fixed 32-bit little-endian records without header, x in bits 0-12 and y in bits
 * 16-28, every other bit zero. Coordinates are columns and rows of the image the pipeline receives
 * (relative to the capture window, not to the sensor).
 */

/** Most records a defect-map file may hold (4 MiB of records); a longer file is refused before reading. */
#define DPF_MAP_MAX_RECORDS (1u << 20)

/**
 * Reads a defect-map file into a new array of 2 x *pNDefects values (x, y of each record, in file
 * order) that the caller owns and frees with free(). *ppDefect must be null on entry. A file without
 * any whole record is no map: 0 is returned with *pNDefects 0 and *ppDefect null.
 * Results: 0; 11 a null argument; 18 *ppDefect already set; 3 the file cannot be opened (or is no
 * regular file); 1 a record with bits outside the mask; 2 memory, or more than DPF_MAP_MAX_RECORDS records.
 */
QOR_RESULT DPF_Load_bin(QOR_UINT16 **ppDefect, QOR_UINT32 *pNDefects, const char *pszFilenane);

#endif /* NORVACOMMON_DPF_MAP_H */
