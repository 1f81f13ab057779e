#include "bitstream_rw.h"

namespace {
QOR_UINT32 Mask(int n) { return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u); }
} // namespace

void CBitStreamRW::SetPos(QOR_UINT8 *pStreamData) {
    pStream = pStreamData;
    bitPos = 0;
}

void CBitStreamRW::WriteBitsUns(QOR_UINT32 val, QOR_INT8 Nbits) {
    if (Nbits <= 0)
        return;
    int n = Nbits > 31 ? 31 : Nbits;
    val &= Mask(n);
    if (bitPos == 0)
        *pStream = 0;
    int room = 8 - bitPos;
    *pStream = static_cast<QOR_UINT8>(*pStream | ((val << bitPos) & 0xFFu));
    if (n < room) {
        bitPos = static_cast<QOR_UINT8>(bitPos + n);
        return;
    }
    val >>= room;
    n -= room;
    ++pStream;
    while (n >= 8) {
        *pStream++ = static_cast<QOR_UINT8>(val & 0xFFu);
        val >>= 8;
        n -= 8;
    }
    if (n > 0)
        *pStream = static_cast<QOR_UINT8>(val & Mask(n));
    bitPos = static_cast<QOR_UINT8>(n);
}

void CBitStreamRW::WriteBitsSig(QOR_INT32 val, QOR_INT8 Nbits) { WriteBitsUns(static_cast<QOR_UINT32>(val), Nbits); }

QOR_UINT32 CBitStreamRW::ReadBitsUns(QOR_INT8 Nbits) {
    if (Nbits <= 0)
        return 0;
    int n = Nbits > 31 ? 31 : Nbits;
    int room = 8 - bitPos;
    QOR_UINT32 v = static_cast<QOR_UINT32>(*pStream) >> bitPos;
    if (n < room) {
        bitPos = static_cast<QOR_UINT8>(bitPos + n);
        return v & Mask(n);
    }
    int got = room;
    ++pStream;
    int rest = n - room;
    while (rest >= 8) {
        v |= static_cast<QOR_UINT32>(*pStream++) << got;
        got += 8;
        rest -= 8;
    }
    if (rest > 0)
        v |= (static_cast<QOR_UINT32>(*pStream) & Mask(rest)) << got;
    bitPos = static_cast<QOR_UINT8>(rest);
    return v & Mask(n);
}

QOR_INT32 CBitStreamRW::ReadBitsSig(QOR_INT8 Nbits) {
    QOR_UINT32 v = ReadBitsUns(Nbits);
    int n = Nbits > 31 ? 31 : (Nbits <= 0 ? 1 : Nbits);
    if (v & (1u << (n - 1)))
        v |= ~Mask(n);
    return static_cast<QOR_INT32>(v);
}

void CBitStreamRW::AdvanceToByteBoundary() {
    if (bitPos != 0) {
        ++pStream;
        bitPos = 0;
    }
}
