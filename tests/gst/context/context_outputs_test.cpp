// Output formats of a capture context: the scaler factors and crop that keep a pixel aspect ratio, the formats
// offered, buffer sizes, driver and dmabuf buffers seen through every mapping, and outputs switched off and on.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>
#include <random>

#include "context_fixture.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleY2R.h"
#include "platform/sim_dmabuf.h"

using namespace ISPC;
using norva_test::contains;
using norva_test::logOf;

namespace {

BufferFormat encoder(unsigned width, unsigned height, double par = 1.0, pxlFormat f = YUV_420_PL12_8) {
    BufferFormat b;
    b.format = f;
    b.width = width;
    b.height = height;
    b.pixelAspectRatio = par;
    return b;
}

class ContextOutputs : public norva_test::ContextTest {
protected:
    /** A configured main context on a width × height scene. */
    void configured(unsigned width, unsigned height, const std::string &setup = "\n") {
        useScene(width, height);
        setupFiles(0, writeFile("setup.txt", setup));
        ASSERT_TRUE(preconfigureMain()) << log;
    }

    bool configure(const BufferFormat &f, BufferFrameBounds *bounds = nullptr) {
        bool ok = false;
        log = logOf([&] { ok = main->configureOutput(f, bounds); });
        return ok;
    }

    template <class M> M *module() { return static_cast<M *>(main->pCamera->getPipeline()->getModule(M::id)); }

    size_t buffersOf(CI_BUFFTYPE type) const {
        size_t n = 0;
        for (const auto &b : main->buffers)
            n += b.second.eType == type ? 1 : 0;
        return n;
    }
};

TEST_F(ContextOutputs, ScalingWithoutCrop) {
    configured(1920, 1080);
    BufferFrameBounds bounds = {-1, -1, 0, 0};
    ASSERT_TRUE(configure(encoder(1280, 720), &bounds)) << log;
    const ModuleESC *esc = module<ModuleESC>();
    EXPECT_DOUBLE_EQ(esc->aPitch[0], 1.5);
    EXPECT_DOUBLE_EQ(esc->aPitch[1], 1.5);
    EXPECT_EQ(esc->eRectType, SCALER_RECT_SIZE);
    EXPECT_EQ(esc->aRect[0], 0u);
    EXPECT_EQ(esc->aRect[1], 0u);
    EXPECT_EQ(esc->aRect[2], 1280u);
    EXPECT_EQ(esc->aRect[3], 720u);
    const BufferFrameBounds frame = main->getBounds();
    EXPECT_EQ(bounds.x, frame.x);
    EXPECT_EQ(bounds.y, frame.y);
    EXPECT_EQ(bounds.width, frame.width);
    EXPECT_EQ(bounds.height, frame.height);
    EXPECT_EQ(module<ModuleR2Y>()->eMatrix, ModuleR2YBase::BT709);

    std::list<BufferFormat> formats;
    ASSERT_TRUE(main->getOutputFormats(formats));
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats.front().format, YUV_420_PL12_8);
    EXPECT_EQ(formats.front().width, 1280u);
    EXPECT_EQ(formats.front().height, 720u);
    EXPECT_DOUBLE_EQ(formats.front().pixelAspectRatio, 1.0);

    // One NV12 buffer of 1280 × 720 + 1280 × 360 bytes on whole 4096-byte pages.
    ASSERT_EQ(buffersOf(CI_TYPE_ENCODER), 1u);
    EXPECT_EQ(main->buffers.begin()->second.size, 1384448u);
    EXPECT_EQ(main->buffers.begin()->second.fd, -1);
    EXPECT_EQ(main->pCamera->state, Camera::CAM_READY);
}

TEST_F(ContextOutputs, SquareRequestCropsColumns) {
    configured(1920, 1080);
    BufferFrameBounds bounds;
    ASSERT_TRUE(configure(encoder(1080, 1080), &bounds)) << log;
    const ModuleESC *esc = module<ModuleESC>();
    EXPECT_DOUBLE_EQ(esc->aPitch[0], 1.0);
    EXPECT_DOUBLE_EQ(esc->aPitch[1], 1.0);
    EXPECT_EQ(esc->aRect[0], 420u);
    EXPECT_EQ(esc->aRect[1], 0u);
    const BufferFrameBounds frame = main->getBounds();
    const int rx = static_cast<int>(frame.width / 1920);
    EXPECT_EQ(bounds.x, frame.x + rx * 420);
    EXPECT_EQ(bounds.width, frame.width - 2u * static_cast<unsigned>(rx) * 420u);
    EXPECT_EQ(bounds.height, frame.height);
}

// Any accepted size and ratio takes a rectangle inside the image, never scales up and stays inside the frame.
TEST_F(ContextOutputs, RandomRequestsStayInside) {
    configured(640, 480);
    const BufferFrameBounds frame = main->getBounds();
    std::mt19937 rng(27);
    // The scalers give pixel pairs: a one-pixel-wide output cannot be programmed (the request is not refused up front).
    std::uniform_int_distribution<unsigned> w(2, 700), h(1, 520);
    std::uniform_real_distribution<double> logPar(-2.0, 2.0);
    unsigned accepted = 0;
    for (int i = 0; i < 40; i++) {
        const BufferFormat f = encoder(w(rng), h(rng), std::exp(logPar(rng)), i % 2 ? YUV_420_PL12_8 : BGR_888_24);
        BufferFrameBounds b;
        if (!configure(f, &b)) {
            EXPECT_TRUE(contains(log, "invalid image size") || contains(log, "could not satisfy pixel aspect ratio"))
                << f.width << "x" << f.height << " par " << f.pixelAspectRatio << " " << FormatString(f.format) << "\n"
                << log;
            continue;
        }
        accepted++;
        const ModuleScalerBase *s =
            f.format == BGR_888_24 ? static_cast<const ModuleScalerBase *>(module<ModuleDSC>()) : module<ModuleESC>();
        SCOPED_TRACE(testing::Message() << f.width << "x" << f.height << " par " << f.pixelAspectRatio);
        EXPECT_GE(s->aPitch[0], 1.0);
        EXPECT_GE(s->aPitch[1], 1.0);
        // The factors go through the module's text parameters: six significant digits.
        EXPECT_NEAR(s->aPitch[0] / s->aPitch[1], f.pixelAspectRatio, 1e-4 * f.pixelAspectRatio);
        EXPECT_LE(s->aRect[0] + f.width * s->aPitch[0], 640.0 * (1 + 1e-5));
        EXPECT_LE(s->aRect[1] + f.height * s->aPitch[1], 480.0 * (1 + 1e-5));
        EXPECT_GE(b.x, frame.x);
        EXPECT_GE(b.y, frame.y);
        EXPECT_LE(b.x + static_cast<int>(b.width), frame.x + static_cast<int>(frame.width));
        EXPECT_LE(b.y + static_cast<int>(b.height), frame.y + static_cast<int>(frame.height));
    }
    EXPECT_GT(accepted, 10u);
}

struct Refusal {
    const char *name;
    BufferFormat format;
    const char *message;
};

void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

BufferFormat bt601Display() {
    BufferFormat f = encoder(320, 240, 1.0, RGB_888_24);
    f.bBT601 = true;
    return f;
}

BufferFormat bayer(MOSAICType m, unsigned w, unsigned h) {
    BufferFormat f = encoder(w, h, 1.0, BAYER_RGGB_10);
    f.mosaic = m;
    return f;
}

class OutputRefusals : public ContextOutputs, public testing::WithParamInterface<Refusal> {};

TEST_P(OutputRefusals, ChangeNothing) {
    configured(640, 480);
    EXPECT_FALSE(configure(GetParam().format));
    EXPECT_TRUE(contains(log, GetParam().message)) << log;
    EXPECT_FALSE(main->isBuffersAllocated());
    EXPECT_EQ(module<ModuleOUT>()->encoderType, PXL_NONE);
}

INSTANTIATE_TEST_SUITE_P(
    TestContext, OutputRefusals,
    testing::Values(Refusal{"WiderThanImage", encoder(641, 480), "invalid image size 641x480\n"},
                    Refusal{"ZeroHeight", encoder(640, 0), "invalid image size 640x0\n"},
                    Refusal{"NeedsUpscaling", encoder(640, 480, 4.0), "could not satisfy pixel aspect ratio 4\n"},
                    Refusal{"RatioZero", encoder(320, 240, 0.0), "could not satisfy pixel aspect ratio 0\n"},
                    Refusal{"RatioNotANumber", encoder(320, 240, std::nan("")), "could not satisfy pixel aspect ratio"},
                    Refusal{"DisplayBT601", bt601Display(), "display output doesn't support BT601 colorimetry\n"},
                    Refusal{"WrongMosaic", bayer(MOSAIC_BGGR, 640, 480), "invalid mosaic 'MOSAIC_BGGR'\n"},
                    Refusal{"BayerScaled", bayer(MOSAIC_RGGB, 320, 240), "invalid image size 320x240\n"},
                    Refusal{"Raw2D", encoder(640, 480, 1.0, BAYER_TIFF_10), "unsupported pixel format"},
                    Refusal{"NoFormat", encoder(640, 480, 1.0, PXL_NONE), "unsupported pixel format"}),
    [](const testing::TestParamInfo<Refusal> &i) { return std::string(i.param.name); });

TEST_F(ContextOutputs, EncoderBT601SetsBothConversions) {
    configured(640, 480);
    BufferFormat f = encoder(640, 480);
    f.bBT601 = true;
    f.bChromaInterstitial = true;
    ASSERT_TRUE(configure(f)) << log;
    EXPECT_EQ(module<ModuleR2Y>()->eMatrix, ModuleR2YBase::BT601);
    EXPECT_EQ(module<ModuleY2R>()->eMatrix, ModuleR2YBase::BT601);
    EXPECT_TRUE(module<ModuleESC>()->bChromaInterstitial);
    std::list<BufferFormat> formats;
    ASSERT_TRUE(main->getOutputFormats(formats));
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_TRUE(formats.front().bBT601);
    EXPECT_TRUE(formats.front().bChromaInterstitial);
}

TEST_F(ContextOutputs, DisplayBufferGeometry) {
    configured(640, 480);
    ASSERT_TRUE(configure(encoder(640, 480, 1.0, BGR_888_24))) << log;
    ASSERT_EQ(buffersOf(CI_TYPE_DISPLAY), 1u);
    EXPECT_EQ(main->buffers.begin()->second.size, 921600u); // stride 1920, 225 pages
    PIXELTYPE t = {};
    ASSERT_EQ(PixelTransformDisplay(&t, BGR_888_24), QOR_RES_OK);
    EXPECT_EQ(main->calcBufferSize(t, CI_TYPE_DISPLAY, false), 921600u);
    PIXELTYPE none = {};
    EXPECT_EQ(main->calcBufferSize(none, CI_TYPE_DISPLAY, false), 0u);
}

TEST_F(ContextOutputs, DataExtractionPointThreeBecomesOne) {
    configured(640, 480, "OUT_DE_POINT 3\n");
    ASSERT_TRUE(configure(bayer(MOSAIC_RGGB, 640, 480))) << log;
    const ModuleOUT *out = module<ModuleOUT>();
    EXPECT_EQ(out->dataExtractionType, BAYER_RGGB_10);
    EXPECT_EQ(out->dataExtractionPoint, CI_INOUT_BLACK_LEVEL);
    EXPECT_EQ(out->displayType, PXL_NONE);
    EXPECT_EQ(buffersOf(CI_TYPE_DATAEXT), 1u);
    std::list<BufferFormat> formats;
    ASSERT_TRUE(main->getOutputFormats(formats));
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats.front().mosaic, MOSAIC_RGGB);
}

// The setup files' extraction point reaches raw output negotiated later, also after the outputs were switched off
// and on again, and switching them off and on gives no warning about a point left without a format.
TEST_F(ContextOutputs, DataExtractionPointFromTheSetupFiles) {
    struct Case {
        const char *setup;
        CI_INOUT_POINTS point;
    };
    const Case cases[] = {
        {"\n", CI_INOUT_BLACK_LEVEL},
        {"OUT_DE_POINT 1\n", CI_INOUT_BLACK_LEVEL},
        {"OUT_DE_POINT 2\n", CI_INOUT_FILTER_LINESTORE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setup);
        configured(640, 480, c.setup);
        EXPECT_FALSE(contains(log, "forced to NONE")) << log;
        for (int round = 0; round < 2; round++) {
            ASSERT_TRUE(configure(bayer(MOSAIC_RGGB, 640, 480))) << log;
            EXPECT_EQ(module<ModuleOUT>()->dataExtractionPoint, c.point) << "round " << round;
            EXPECT_EQ(module<ModuleOUT>()->dataExtractionType, BAYER_RGGB_10);
            log = logOf([&] { ASSERT_TRUE(main->freeOutputBuffers()); });
            EXPECT_FALSE(contains(log, "forced to NONE")) << log;
            EXPECT_EQ(module<ModuleOUT>()->dataExtractionType, PXL_NONE);
        }
        main.reset();
    }
}

TEST_F(ContextOutputs, PotentialFormatsFollowTheFreePaths) {
    configured(640, 480);
    std::list<BufferFormat> supported, potential;
    ASSERT_TRUE(main->getSupportedOutputFormats(supported));
    EXPECT_EQ(supported.size(), 21u);
    for (const BufferFormat &f : supported) {
        EXPECT_EQ(f.width, 640u);
        EXPECT_EQ(f.mosaic, BufferTypeFromPixelFormat(f.format) == CI_TYPE_DATAEXT ? MOSAIC_RGGB : MOSAIC_NONE);
    }
    ASSERT_TRUE(configure(encoder(320, 240)));
    ASSERT_TRUE(main->getPotentialOutputFormats(potential));
    EXPECT_EQ(potential.size(), 13u);
    for (const BufferFormat &f : potential)
        EXPECT_NE(BufferTypeFromPixelFormat(f.format), CI_TYPE_ENCODER);
    ASSERT_TRUE(main->freeOutputBuffers());
    ASSERT_TRUE(configure(encoder(320, 240, 1.0, RGB_888_32)));
    ASSERT_TRUE(main->getPotentialOutputFormats(potential));
    EXPECT_EQ(potential.size(), 8u);
    for (const BufferFormat &f : potential)
        EXPECT_EQ(BufferTypeFromPixelFormat(f.format), CI_TYPE_ENCODER);
}

TEST_F(ContextOutputs, SwitchingOffFreesAndOnAllocatesOnlyWhenNoneRemain) {
    param->nBuffers[0] = 3;
    configured(640, 480);
    ASSERT_TRUE(configure(encoder(320, 240)));
    EXPECT_EQ(buffersOf(CI_TYPE_ENCODER), 3u);
    EXPECT_TRUE(main->isBuffersAllocated());
    ASSERT_TRUE(configure(encoder(640, 480, 1.0, BGR_888_24)));
    EXPECT_EQ(buffersOf(CI_TYPE_ENCODER), 3u) << "the encoder kept its size and its buffers";
    EXPECT_EQ(buffersOf(CI_TYPE_DISPLAY), 3u);
    ASSERT_TRUE(main->freeOutputBuffers());
    EXPECT_FALSE(main->isBuffersAllocated());
    EXPECT_EQ(module<ModuleOUT>()->encoderType, PXL_NONE);
    ASSERT_TRUE(configure(encoder(320, 240)));
    EXPECT_EQ(buffersOf(CI_TYPE_ENCODER), 3u);
    EXPECT_EQ(buffersOf(CI_TYPE_DISPLAY), 0u);
    BufferInfo info;
    const int id = static_cast<int>(main->buffers.begin()->first);
    EXPECT_TRUE(main->getBufferInfo(id, info));
    EXPECT_EQ(info.eType, CI_TYPE_ENCODER);
    EXPECT_FALSE(main->getBufferInfo(-1, info));
    EXPECT_FALSE(main->freeBuffer(9999));
}

TEST_F(ContextOutputs, UnconfiguredContextRefuses) {
    TestContext c;
    std::string e = logOf([&] { EXPECT_FALSE(c.configureOutput(encoder(320, 240), nullptr)); });
    EXPECT_TRUE(contains(e, "camera not configured for context -1\n")) << e;
}

// A byte the device writes reaches the context's own mapping and every other mapping of the exported descriptor.
TEST_F(ContextOutputs, MappedDmabufSeesWhatTheDeviceWrites) {
    param->bUseDmabuf = true;
    param->bMapDmabuf = true;
    param->nBuffers[0] = 2;
    configured(320, 240);
    ASSERT_TRUE(configure(encoder(320, 240))) << log;
    ASSERT_EQ(buffersOf(CI_TYPE_ENCODER), 2u);
    for (const auto &b : main->buffers) {
        EXPECT_GT(b.second.fd, 0);
        EXPECT_NE(b.second.hDmabuf, nullptr);
        ASSERT_NE(b.second.pMapped, nullptr);
        std::memset(b.second.pMapped, 0xA5, 64);
    }
    Camera &camera = *main->pCamera;
    ASSERT_EQ(camera.startCapture(), QOR_RES_OK);
    ASSERT_EQ(camera.enqueueShot(), QOR_RES_OK);
    Shot shot;
    ASSERT_EQ(camera.acquireShot(shot, true), QOR_RES_OK);
    const BufferInfo &info = main->buffers.at(shot.YUV.id);
    const uint8_t *mapped = static_cast<const uint8_t *>(info.pMapped);
    void *other = mmap(nullptr, info.size, PROT_READ, MAP_SHARED, info.fd, 0);
    ASSERT_NE(other, MAP_FAILED);
    const size_t at = shot.YUV.offset + 5u * shot.YUV.stride + 7u;
    EXPECT_NE(mapped[at], 0xA5) << "the device wrote the frame over the pattern";
    EXPECT_EQ(mapped[at], shot.YUV.data[at]);
    EXPECT_EQ(static_cast<const uint8_t *>(other)[at], shot.YUV.data[at]);
    munmap(other, info.size);
    EXPECT_EQ(camera.releaseShot(shot), QOR_RES_OK);
    EXPECT_TRUE(main->stopCapture());
}

// Without the allocator device the output cannot get buffers; nothing is left behind (SimTest's counters).
TEST_F(ContextOutputs, MissingDmabufDeviceFailsCleanly) {
    param->bUseDmabuf = true;
    configured(320, 240);
    norva_sim::SetDmabufAbsent(true);
    EXPECT_FALSE(configure(encoder(320, 240)));
    EXPECT_TRUE(contains(log, "DMABUF allocation failed\n")) << log;
    EXPECT_TRUE(contains(log, "failed to allocate buffers for context 0\n")) << log;
    EXPECT_FALSE(main->isBuffersAllocated());
    EXPECT_EQ(norva_sim::GetDmabufCounters().openDevices, 0);
}

} // namespace
