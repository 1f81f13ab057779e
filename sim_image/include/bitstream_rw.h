#ifndef NORVA_BITSTREAM_RW_H
#define NORVA_BITSTREAM_RW_H

#include "qor_types.h"

/** Values of 1 to 31 bits packed least significant bit first into a caller's byte buffer. */
class CBitStreamRW {
public:
    QOR_UINT8 *pStream;
    QOR_UINT8 bitPos;

    void SetPos(QOR_UINT8 *pStreamData);
    void WriteBitsUns(QOR_UINT32 val, QOR_INT8 Nbits);
    void WriteBitsSig(QOR_INT32 val, QOR_INT8 Nbits);
    QOR_UINT32 ReadBitsUns(QOR_INT8 Nbits);
    QOR_INT32 ReadBitsSig(QOR_INT8 Nbits);
    void AdvanceToByteBoundary();
};

#endif
