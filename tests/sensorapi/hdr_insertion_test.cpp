// Writing an RGB64 image into an HDR insertion buffer: channel order, rescaling to 16 bits, the output
// stride of the 64-bit BGR layout, and the refusals that leave the buffer untouched.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ci/ci_converter.h"
#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/pixel_transform.h"
#include "sim_image.h"

namespace {

/** An RGB64 image of w x h pixels (four 16-bit samples each) with some padding at the end of each row. */
struct RgbImage {
    RgbImage(QOR_UINT32 w, QOR_UINT32 h, unsigned depth, bool bgr) {
        memset(&image, 0, sizeof(image));
        image.info.ui32Width = w;
        image.info.ui32Height = h;
        image.info.ui8BitDepth = static_cast<QOR_UINT8>(depth);
        image.info.eColourModel = SimImage_RGB64;
        image.info.isBGR = bgr ? QOR_TRUE : QOR_FALSE;
        image.info.stride = (w * 4 + 2) * sizeof(QOR_UINT16);
        samples.assign((w * 4 + 2) * h, 0xEEEE);
        image.pBuffer = samples.data();
    }
    void set(QOR_UINT32 x, QOR_UINT32 y, QOR_UINT16 s0, QOR_UINT16 s1, QOR_UINT16 s2) {
        QOR_UINT16 *p = samples.data() + y * (image.info.stride / 2) + 4 * x;
        p[0] = s0;
        p[1] = s1;
        p[2] = s2;
    }
    sSimImageIn image;
    std::vector<QOR_UINT16> samples;
};

QOR_UINT32 outputStride(QOR_UINT32 width) {
    PIXELTYPE type;
    EXPECT_EQ(PixelTransformRGB(&type, BGR_161616_64), QOR_RES_OK);
    CI_SIZEINFO info;
    EXPECT_EQ(CI_ALLOC_RGBSizeInfo(&type, width, 1, nullptr, &info), QOR_RES_OK);
    return info.ui32Stride;
}

struct Output {
    Output(QOR_UINT32 size) : bytes(size, 0xAB) {
        buffer.id = 7;
        buffer.data = bytes.data();
        buffer.ui32Size = size;
    }
    QOR_UINT16 value(QOR_UINT32 stride, QOR_UINT32 x, QOR_UINT32 y, unsigned c) const {
        QOR_UINT16 v;
        memcpy(&v, bytes.data() + y * stride + 8 * x + 2 * c, 2);
        return v;
    }
    std::vector<QOR_UINT8> bytes;
    CI_BUFFER buffer;
};

} // namespace

TEST(HDRInsertion, ChannelOrderAndRescaling) {
    const struct {
        const char *name;
        bool bgr;
        bool rescale;
        unsigned depth;
        QOR_UINT16 in[3];
        QOR_UINT16 out[4];
    } cases[] = {
        {"RGB copied blue first", false, false, 10, {1, 2, 3}, {3, 2, 1, 0}},
        {"BGR copied as it is", true, false, 10, {1, 2, 3}, {1, 2, 3, 0}},
        {"10 bits full scale", false, true, 10, {0x3FF, 0x200, 0}, {0, 0x8020, 0xFFFF, 0}},
        {"12 bits", true, true, 12, {0xFFF, 0x800, 1}, {0xFFFF, 0x8008, 0x0010, 0}},
        {"16 bits unchanged", false, true, 16, {0x1234, 0xFFFF, 0x8001}, {0x8001, 0xFFFF, 0x1234, 0}},
        {"below 8 bits the low bits stay 0", false, true, 4, {0xF, 0x8, 0x1}, {0x1000, 0x8000, 0xF000, 0}},
    };
    for (const auto &c : cases) {
        const QOR_UINT32 w = 3, h = 2;
        RgbImage img(w, h, c.depth, c.bgr);
        img.set(2, 1, c.in[0], c.in[1], c.in[2]);
        img.set(0, 0, c.in[0], c.in[1], c.in[2]);
        const QOR_UINT32 stride = outputStride(w);
        ASSERT_GE(stride, w * 8);
        Output out(stride * h);
        ASSERT_EQ(CI_Convert_HDRInsertion(&img.image, &out.buffer, c.rescale ? QOR_TRUE : QOR_FALSE), QOR_RES_OK)
            << c.name;
        for (unsigned k = 0; k < 4; ++k) {
            EXPECT_EQ(out.value(stride, 2, 1, k), c.out[k]) << c.name << " value " << k;
            EXPECT_EQ(out.value(stride, 0, 0, k), c.out[k]) << c.name << " value " << k;
        }
        // The row padding of the input is not read, the padding of the output is not written.
        if (stride > w * 8) {
            EXPECT_EQ(out.bytes[w * 8], 0xAB) << c.name;
        }
    }
}

TEST(HDRInsertion, RefusalsWriteNothing) {
    const QOR_UINT32 w = 4, h = 2;
    const QOR_UINT32 needed = outputStride(w) * h;
    const struct {
        const char *name;
        void (*arrange)(RgbImage &, Output &);
        bool nullImage;
        bool nullBuffer;
        QOR_RESULT result;
    } cases[] = {
        {"no image", nullptr, true, false, QOR_RES_INVALID_PARAM},
        {"no buffer", nullptr, false, true, QOR_RES_INVALID_PARAM},
        {"Bayer image", [](RgbImage &i, Output &) { i.image.info.eColourModel = SimImage_RGGB; }, false, false,
         QOR_RES_NOT_SUPPORTED},
        {"32-bit RGB image", [](RgbImage &i, Output &) { i.image.info.eColourModel = SimImage_RGB32; }, false, false,
         QOR_RES_NOT_SUPPORTED},
        {"one byte short", [](RgbImage &, Output &o) { o.buffer.ui32Size -= 1; }, false, false, QOR_RES_INVALID_PARAM},
        {"17 bits", [](RgbImage &i, Output &) { i.image.info.ui8BitDepth = 17; }, false, false, QOR_RES_NOT_SUPPORTED},
    };
    for (const auto &c : cases) {
        RgbImage img(w, h, 10, false);
        img.set(0, 0, 1, 2, 3);
        Output out(needed);
        if (c.arrange)
            c.arrange(img, out);
        testing::internal::CaptureStderr();
        const QOR_RESULT ret =
            CI_Convert_HDRInsertion(c.nullImage ? nullptr : &img.image, c.nullBuffer ? nullptr : &out.buffer, QOR_TRUE);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ret, c.result) << c.name;
        EXPECT_FALSE(log.empty()) << c.name;
        for (QOR_UINT8 b : out.bytes) {
            ASSERT_EQ(b, 0xAB) << c.name;
        }
    }
    // Exactly the size needed is enough.
    RgbImage img(w, h, 10, false);
    Output out(needed);
    EXPECT_EQ(CI_Convert_HDRInsertion(&img.image, &out.buffer, QOR_FALSE), QOR_RES_OK);
}
