#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/dg_packer.h"
#include "ci/ci_api.h"
#include "ci/ci_connection_internal.h"
#include "ci/ci_datagen.h"
#include "ci/ci_gasket.h"
#include "ci/ci_ioctrl.h"
#include "platform/sim_frame_source.h"
#include "support/sim_fixture.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;

using norva_sim::FaultMode;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48;

/** Sample (x, y) of ramp frame k at the given depth. */
uint16_t ramp(uint32_t x, uint32_t y, unsigned k, unsigned depth) {
    return static_cast<uint16_t>((x * 16 + y * 5 + k * 37) & ((1u << depth) - 1));
}

std::vector<uint16_t> rampFrame(unsigned k, unsigned depth) {
    std::vector<uint16_t> s(kWidth * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x)
            s[y * kWidth + x] = ramp(x, y, k, depth);
    }
    return s;
}

size_t commandsSeen(unsigned nr) {
    size_t n = 0;
    for (const auto &t : norva_sim::Trace())
        n += t.nr == static_cast<int>(nr) ? 1 : 0;
    return n;
}

class Datagen : public SimTest {
public:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
    }
    void TearDown() override {
        norva_sim::ClearCommandFaults();
        if (dg != nullptr) {
            EXPECT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK);
        }
        if (conn != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        }
        SimTest::TearDown();
    }

    /** A registered generator with valid settings and `frames` buffers of `size` bytes. */
    void create(CI_CONV_FMT format, unsigned depth, unsigned gasket, unsigned frames, uint32_t size) {
        ASSERT_EQ(CI_DatagenCreate(&dg, conn), QOR_RES_OK);
        dg->ui8IIFDGIndex = 0;
        dg->eFormat = format;
        dg->ui8FormatBitdepth = static_cast<QOR_UINT8>(depth);
        dg->ui8Gasket = static_cast<QOR_UINT8>(gasket);
        dg->eBayerMosaic = MOSAIC_RGGB;
        for (unsigned i = 0; i < frames; ++i)
            ASSERT_EQ(CI_DatagenAllocateFrame(dg, size, nullptr), QOR_RES_OK);
    }

    /** Acquires a buffer and fills it with the packed frame and its description. */
    /** The buffer is mapped for writing only: the frame is packed aside, damaged there if asked, and copied. */
    CI_DG_FRAME *fill(const std::vector<uint16_t> &samples, uint32_t stride, long damageAt = -1) {
        CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(dg);
        if (frame == nullptr)
            return nullptr;
        EXPECT_LE(static_cast<uint64_t>(stride) * kHeight, frame->ui32AllocSize);
        dg_packer::fill(frame, dg->eFormat, dg->ui8FormatBitdepth, dg->eBayerMosaic, samples.data(), kWidth, kHeight,
                        stride, damageAt);
        return frame;
    }

    /** Consumes the next frame of the gasket as a capture engine does; false when none is queued. */
    bool consume(unsigned gasket, std::vector<uint16_t> *samples, norva_sim::SourceFrame *seen = nullptr) {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        norva_sim::SourceFrame frame;
        if (!norva_sim::TakeSourceFrame(gasket, &frame))
            return false;
        samples->assign(frame.samples, frame.samples + static_cast<size_t>(frame.width) * frame.height);
        if (seen != nullptr)
            *seen = frame;
        return norva_sim::MarkSourceFrameProcessed(frame);
    }

    CI_GASKET_INFO gasketInfo(unsigned gasket) {
        CI_GASKET_INFO info{};
        EXPECT_EQ(CI_GasketGetInfo(&info, static_cast<QOR_UINT8>(gasket), conn), QOR_RES_OK);
        return info;
    }

    int deviceFd() const { return INT_ConnectionFromHandle(conn)->fileDesc->file; }

    CI_CONNECTION *conn = nullptr;
    CI_DATAGEN *dg = nullptr;
};

TEST_F(Datagen, TenRampFramesThroughThreeBuffersDecodeSampleForSample) {
    const uint32_t stride = dg_packer::stride(CI_DGFMT_PARALLEL, 10, kWidth);
    EXPECT_EQ(stride, 128u); // 64 samples: 22 words of three
    create(CI_DGFMT_PARALLEL, 10, 1, 3, stride * kHeight);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    EXPECT_TRUE(CI_DatagenIsStarted(dg));
    const norva_sim::PlatformCounters during = norva_sim::GetCounters();
    EXPECT_EQ(during.liveMappings, 3);

    std::vector<QOR_UINT32> ids;
    for (unsigned k = 0; k < 10; ++k) {
        SCOPED_TRACE(testing::Message() << "frame " << k);
        const std::vector<uint16_t> sent = rampFrame(k, 10);
        CI_DG_FRAME *frame = fill(sent, stride);
        ASSERT_NE(frame, nullptr);
        ids.push_back(frame->ui32FrameID);
        ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
        // Not processed yet: a poll finds nothing and says nothing.
        EXPECT_EQ(stderrOf([&] { EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_IN_PROGRESS); }), "");
        std::vector<uint16_t> received;
        norva_sim::SourceFrame seen;
        ASSERT_TRUE(consume(1, &received, &seen));
        EXPECT_EQ(received, sent);
        EXPECT_EQ(seen.width, kWidth);
        EXPECT_EQ(seen.height, kHeight);
        EXPECT_EQ(seen.bitDepth, 10u);
        EXPECT_EQ(seen.mosaic, MOSAIC_RGGB);
        EXPECT_EQ(seen.hBlanking, 100u);
        EXPECT_EQ(seen.vBlanking, 14u);
        EXPECT_FALSE(seen.errors.any());
        EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_OK);
    }
    // The three buffers took turns, oldest available first.
    EXPECT_EQ(ids[0], ids[3]);
    EXPECT_EQ(ids[1], ids[4]);
    EXPECT_EQ(ids[2], ids[5]);
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(gasketInfo(1).ui32FrameCount, 10u);
    EXPECT_EQ(gasketInfo(1).eType, CI_GASKET_PARALLEL);
    // The per-frame path allocated no driver object and no mapping.
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, during.driverObjects);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 3);

    ASSERT_EQ(CI_DatagenStop(dg), QOR_RES_OK);
    EXPECT_FALSE(CI_DatagenIsStarted(dg));
}

TEST_F(Datagen, MipiRaw12FrameDecodesWhileTheCallerWaits) {
    const uint32_t stride = dg_packer::stride(CI_DGFMT_MIPI, 12, kWidth);
    EXPECT_EQ(stride, 128u); // 4 + 96 + 6, plus the frame start
    create(CI_DGFMT_MIPI, 12, 0, 2, stride * kHeight);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);

    // A capture engine on its own thread takes the frame once it is queued.
    std::vector<uint16_t> received;
    norva_sim::SourceFrame seen;
    std::thread engine([&] {
        for (int i = 0; i < 2000; ++i) {
            {
                std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
                if (norva_sim::QueuedSourceFrames(0) > 0)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        consume(0, &received, &seen);
    });
    const std::vector<uint16_t> sent = rampFrame(3, 12);
    CI_DG_FRAME *frame = fill(sent, stride);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
    EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_OK);
    engine.join();
    EXPECT_EQ(received, sent);
    EXPECT_EQ(seen.format, CI_DGFMT_MIPI);
    EXPECT_EQ(seen.errors.crc + seen.errors.header + seen.errors.ecc + seen.errors.eccCorrected, 0u);

    // A damaged payload byte arrives counted as a CRC error on the MIPI gasket.
    frame = fill(sent, stride, stride * 5 + 20);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
    ASSERT_TRUE(consume(0, &received, &seen));
    EXPECT_EQ(seen.errors.crc, 1u);
    EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_OK);
    const CI_GASKET_INFO info = gasketInfo(0);
    EXPECT_EQ(info.ui32FrameCount, 2u);
    EXPECT_EQ(info.ui8MipiCrcError, 1);
    EXPECT_EQ(info.ui8MipiEccError, 0);
    EXPECT_EQ(info.ui8MipiEnabledLanes, 4);
}

TEST_F(Datagen, EveryRefusalOfTheTable) {
    const uint32_t stride = 128, size = stride * kHeight;
    struct Case {
        const char *what;
        std::function<long(Datagen &)> act; // the result, or 1/0 for a frame or a boolean
        long result;
        const char *message;
    };
    auto acquired = [](Datagen &t) { return CI_DatagenGetAvailableFrame(t.dg); };
    auto ready = [&](Datagen &t) { // an acquired buffer filled as a valid frame
        CI_DG_FRAME *f = acquired(t);
        f->eFormat = CI_DGFMT_PARALLEL;
        f->ui8FormatBitdepth = 10;
        f->ui32Stride = stride;
        f->ui32Width = kWidth;
        f->ui32Height = kHeight;
        return f;
    };
    const Case cases[] = {
        {"null generator", [](Datagen &) { return long(CI_DatagenStart(nullptr)); }, 11, "pDatagen is NULL\n"},
        {"null frame", [](Datagen &) { return long(CI_DatagenInsertFrame(nullptr)); }, 11, "pFrame is NULL\n"},
        {"create: null arguments", [](Datagen &t) { return long(CI_DatagenCreate(nullptr, t.conn)); }, 11,
         "ppDatagen or pConnection is NULL\n"},
        {"create: handle already set", [](Datagen &t) { return long(CI_DatagenCreate(&t.dg, t.conn)); }, 30,
         "datagen already allocated\n"},
        {"create: hardware without generator",
         [](Datagen &t) {
             CI_DATAGEN *other = nullptr;
             t.conn->sHWInfo.eFunctionalities &= ~CI_INFO_SUPPORTED_IIF_DATAGEN;
             const QOR_RESULT r = CI_DatagenCreate(&other, t.conn);
             t.conn->sHWInfo.eFunctionalities |= CI_INFO_SUPPORTED_IIF_DATAGEN;
             return long(r);
         },
         22, "Current HW does not support IIF Data Generator\n"},
        {"create: no identifier",
         [](Datagen &t) {
             CI_DATAGEN *other = nullptr;
             norva_sim::InjectCommandFault(CI_IIFDG_REGISTER, -ENOSPC);
             return long(CI_DatagenCreate(&other, t.conn));
         },
         3, "Failed to get a unique DG identifier from the kernel-module\n"},
        {"start refused by the driver",
         [](Datagen &t) {
             t.dg->ui8FormatBitdepth = 8;
             return long(CI_DatagenStart(t.dg));
         },
         11, "Failed to start internal DG 0 to replace imager 1\n"},
        {"started query failed",
         [](Datagen &t) {
             norva_sim::InjectCommandFault(CI_IIFDG_ISSTARTED, -EIO);
             return long(CI_DatagenIsStarted(t.dg));
         },
         0, "Failed to enquire if Datagen is started (returned 3)\n"},
        {"stop failed",
         [](Datagen &t) {
             CI_DatagenStart(t.dg);
             norva_sim::InjectCommandFault(CI_IIFDG_STOP, -EINTR);
             return long(CI_DatagenStop(t.dg));
         },
         8, "Failed to stop Datagen\n"},
        {"destroy: stop failed",
         [](Datagen &t) {
             CI_DatagenStart(t.dg);
             norva_sim::InjectCommandFault(CI_IIFDG_STOP, -EIO);
             return long(CI_DatagenDestroy(t.dg));
         },
         3, "Failed to stop a Datagen before destroying it\n"},
        {"destroy: deregistration failed",
         [](Datagen &t) {
             norva_sim::InjectCommandFault(CI_IIFDG_REGISTER, -EBUSY);
             return long(CI_DatagenDestroy(t.dg));
         },
         3, "Failed to deregister datagenerator!\n"},
        {"allocate while started",
         [](Datagen &t) {
             CI_DatagenStart(t.dg);
             return long(CI_DatagenAllocateFrame(t.dg, size, nullptr));
         },
         15, "DG 0 is started - cannot allocate more buffers\n"},
        {"allocate refused by the driver",
         [](Datagen &t) {
             norva_sim::InjectCommandFault(CI_IIFDG_ALLOCATE, -ENOMEM);
             return long(CI_DatagenAllocateFrame(t.dg, size, nullptr));
         },
         2, "Failed to allocate a DG frame of 6144 Bytes\n"},
        {"allocate: mapping failed",
         [](Datagen &t) {
             norva_sim::FailNthMapping(1, ENOMEM);
             return long(CI_DatagenAllocateFrame(t.dg, size, nullptr));
         },
         3, "Failed to map a DG frame!\n"},
        {"acquire: nothing available",
         [&](Datagen &t) {
             acquired(t);
             return long(acquired(t) != nullptr);
         },
         0, "Available list is empty\n"},
        {"acquire: given buffer refused", [](Datagen &t) { return long(CI_DatagenGetFrame(t.dg, 77) != nullptr); }, 0,
         "Failed to acquire DG Buffer 77\n"},
        {"acquire: unknown identifier",
         [&](Datagen &t) {
             norva_sim::InjectCommandAnswer(CI_IIFDG_ACQUIRE, 0); // success naming frame 0
             return long(acquired(t) != nullptr);
         },
         0, "Failed to find the frame in the user-space list!\n"},
        {"acquire: no connection",
         [&](Datagen &t) {
             INT_INTDATAGEN *rec = reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(t.dg) -
                                                                      offsetof(INT_INTDATAGEN, publicDatagen));
             INT_CONNECTION *keep = rec->pConnection;
             rec->pConnection = nullptr;
             CI_DG_FRAME *f = acquired(t);
             rec->pConnection = keep;
             return long(f != nullptr);
         },
         0, "pDatagen does not have a connection!\n"},
        {"insert: blanking too small",
         [&](Datagen &t) {
             CI_DG_FRAME *f = ready(t);
             f->ui32VerticalBlanking = 13;
             return long(CI_DatagenInsertFrame(f));
         },
         22, "Cannot trigger a frame with blanking H=100 V=13 (min is H=100 V=14)\n"},
        {"insert: other format",
         [&](Datagen &t) {
             CI_DG_FRAME *f = ready(t);
             f->ui8FormatBitdepth = 12;
             return long(CI_DatagenInsertFrame(f));
         },
         15, "Cannot trigger a frame of a different format!\n"},
        {"insert: too big",
         [&](Datagen &t) {
             CI_DG_FRAME *f = ready(t);
             f->ui32Height = kHeight + 1;
             return long(CI_DatagenInsertFrame(f));
         },
         11, "Cannot trigger a frame that has a stride*height (128x49=6272) bigger than its allocated size 6144\n"},
        {"frame not in the list",
         [&](Datagen &t) {
             CI_DG_FRAME *f = ready(t);
             INT_DGFRAME *rec =
                 reinterpret_cast<INT_DGFRAME *>(reinterpret_cast<char *>(f) - offsetof(INT_DGFRAME, publicFrame));
             LinkedList_T *list = rec->sCell.pContainer;
             List_detach(&rec->sCell);
             const QOR_RESULT r = CI_DatagenReleaseFrame(f);
             List_pushBack(list, &rec->sCell);
             return long(r);
         },
         11, "Given frame {id} is not in the frame list!\n"},
        {"stride not a multiple of 64",
         [&](Datagen &t) {
             CI_DG_FRAME *f = ready(t);
             f->ui32Stride = 64 * 1 + 32;
             return long(CI_DatagenInsertFrame(f));
         },
         22, "Memory stride has to be a multiple of SYSMEM_ALIGNMENT (64)\n"},
        {"insert refused by the driver",
         [&](Datagen &t) {
             CI_DG_FRAME *f = ready(t);
             return long(CI_DatagenInsertFrame(f)); // not started: the device cancels it
         },
         15, "Failed to trigger the capture of frame {id}\n"},
        {"blocking wait failed",
         [](Datagen &t) {
             CI_DatagenStart(t.dg);
             return long(CI_DatagenWaitProcessedFrame(t.dg, QOR_TRUE)); // nothing in flight
         },
         16, "Failed to wait for processed frame\n"},
        {"driver could not free a buffer",
         [&](Datagen &t) {
             CI_DG_FRAME *f = acquired(t);
             norva_sim::InjectCommandFault(CI_IIFDG_FREE, -EBUSY);
             const QOR_RESULT r = CI_DatagenDestroyFrame(f);
             INT_INTDATAGEN *rec = reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(t.dg) -
                                                                      offsetof(INT_INTDATAGEN, publicDatagen));
             EXPECT_EQ(List_nElem(&rec->sListFrames), 0u); // the record is freed anyway
             return long(r);
         },
         0, "Failed to free device memory for Frame {id} - returned 3\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        norva_sim::ResetPlatform();
        create(CI_DGFMT_PARALLEL, 10, 1, 1, size);
        if (HasFatalFailure())
            return;
        // Messages name the buffer's identifier as {id}.
        const INT_INTDATAGEN *rec =
            reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(dg) - offsetof(INT_INTDATAGEN, publicDatagen));
        const QOR_UINT32 frameId = static_cast<INT_DGFRAME *>(rec->sListFrames.sAnchor.pNext->object)->ui32FrameID;
        std::string message = c.message;
        const size_t at = message.find("{id}");
        if (at != std::string::npos)
            message.replace(at, 4, std::to_string(frameId));
        long result = -1;
        const std::string err = stderrOf([&] { result = c.act(*this); });
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(contains(err, message)) << err;
        norva_sim::ClearCommandFaults();
        if (std::string(c.what) == "destroy: stop failed") {
            // Nothing was freed: the generator is still whole and can be destroyed now.
            EXPECT_EQ(norva_sim::GetCounters().liveMappings, 1);
        }
        stderrOf([&] { EXPECT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK); });
        dg = nullptr;
        const norva_sim::PlatformCounters left = norva_sim::GetCounters();
        EXPECT_EQ(left.liveMappings, 0);
        EXPECT_EQ(left.driverObjects, 0);
        EXPECT_EQ(left.deviceMemoryAreas, 0);
    }
}

} // namespace

namespace {

int datagenId(CI_DATAGEN *dg) {
    return reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(dg) - offsetof(INT_INTDATAGEN, publicDatagen))
        ->ui32DatagenID;
}

TEST_F(Datagen, AcquisitionRestoresTheBufferAndTheDefaultBlanking) {
    create(CI_DGFMT_PARALLEL, 10, 1, 1, 128 * kHeight);
    CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(dg);
    ASSERT_NE(frame, nullptr);
    void *const data = frame->data;
    const QOR_UINT32 id = frame->ui32FrameID;
    EXPECT_GT(id, 0u);
    frame->data = nullptr;
    frame->ui32AllocSize = 5;
    frame->ui32FrameID = 4242;
    frame->ui32Stride = 192;
    frame->ui32Width = 40;
    frame->ui32Height = 30;
    frame->ui8FormatBitdepth = 12;
    frame->ui32HorizontalBlanking = 300;
    frame->ui32VerticalBlanking = 20;
    ASSERT_EQ(CI_DatagenReleaseFrame(frame), QOR_RES_OK);

    CI_DG_FRAME *again = CI_DatagenGetFrame(dg, id);
    ASSERT_EQ(again, frame);
    EXPECT_EQ(again->data, data);
    EXPECT_EQ(again->ui32AllocSize, 128u * kHeight);
    EXPECT_EQ(again->ui32FrameID, id);
    EXPECT_EQ(again->ui32HorizontalBlanking, 100u);
    EXPECT_EQ(again->ui32VerticalBlanking, 14u);
    // What the previous user described stays.
    EXPECT_EQ(again->ui32Stride, 192u);
    EXPECT_EQ(again->ui32Width, 40u);
    EXPECT_EQ(again->ui32Height, 30u);
    EXPECT_EQ(again->ui8FormatBitdepth, 12);
    ASSERT_EQ(CI_DatagenReleaseFrame(again), QOR_RES_OK);
}

TEST_F(Datagen, InsertionLimits) {
    const uint32_t alloc = 128 * kHeight;
    create(CI_DGFMT_PARALLEL, 10, 1, 2, alloc);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    struct Case {
        const char *what;
        uint32_t stride, width, height, hBlank, vBlank;
        QOR_RESULT result;
        uint16_t sentHBlank; /* what the device is given, for an accepted frame */
    };
    const Case cases[] = {
        {"horizontal blanking 99", 128, kWidth, kHeight, 99, 14, 22, 0},
        {"vertical blanking 13", 128, kWidth, kHeight, 100, 13, 22, 0},
        {"smallest blanking, stride x height = allocation", 128, kWidth, kHeight, 100, 14, 0, 100},
        {"one line more than the allocation", 128, kWidth, kHeight + 1, 100, 14, 11, 0},
        {"stride x height of 2^32 (wraps to 0 in 32 bits)", 65536, kWidth, 65536, 100, 14, 11, 0},
        {"width beyond the 16-bit field", 128, 70000, 1, 100, 14, 22, 0},
        {"blanking beyond the 16-bit field saturates", 128, kWidth, kHeight, 70000, 14, 0, 65535},
        {"stride 64k + 32", 96, kWidth, kHeight, 100, 14, 22, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CI_DG_FRAME *frame = fill(rampFrame(0, 10), 128);
        ASSERT_NE(frame, nullptr);
        frame->ui32Stride = c.stride;
        frame->ui32Width = c.width;
        frame->ui32Height = c.height;
        frame->ui32HorizontalBlanking = c.hBlank;
        frame->ui32VerticalBlanking = c.vBlank;
        norva_sim::ClearTrace();
        QOR_RESULT result = -1;
        stderrOf([&] { result = CI_DatagenInsertFrame(frame); });
        EXPECT_EQ(result, c.result);
        if (c.result != QOR_RES_OK) {
            EXPECT_EQ(commandsSeen(CI_IIFDG_RELEASE), 0u); // refused before reaching the device
            stderrOf([&] {
                EXPECT_EQ(CI_DatagenReleaseFrame(frame), c.stride % 64 == 0 ? QOR_RES_OK : QOR_RES_NOT_SUPPORTED);
            });
            if (c.stride % 64 != 0) {
                frame->ui32Stride = 128;
                ASSERT_EQ(CI_DatagenReleaseFrame(frame), QOR_RES_OK);
            }
            continue;
        }
        const auto trace = norva_sim::Trace();
        ASSERT_EQ(trace.size(), 1u);
        CI_DG_FRAMETRIG sent;
        std::memcpy(&sent, trace[0].argIn.data(), sizeof(sent));
        EXPECT_EQ(sent.uiHorizontalBlanking, c.sentHBlank);
        EXPECT_EQ(sent.uiWidth, kWidth);
        EXPECT_EQ(sent.bTrigger, 1);
        std::vector<uint16_t> samples;
        ASSERT_TRUE(consume(1, &samples));
        EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_OK);
    }
}

TEST_F(Datagen, StartAndStopTwiceWarnAndSucceed) {
    create(CI_DGFMT_PARALLEL, 12, 1, 0, 0);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    EXPECT_TRUE(contains(stderrOf([&] { EXPECT_EQ(CI_DatagenStart(dg), QOR_RES_OK); }), "DG 0 Already started\n"));
    ASSERT_EQ(CI_DatagenStop(dg), QOR_RES_OK);
    EXPECT_TRUE(contains(stderrOf([&] { EXPECT_EQ(CI_DatagenStop(dg), QOR_RES_OK); }), "DG 0 Already stopped\n"));
    EXPECT_EQ(commandsSeen(CI_IIFDG_START), 1u);
    EXPECT_EQ(commandsSeen(CI_IIFDG_STOP), 1u);
}

TEST_F(Datagen, BuffersAreAllocatedBeforeStartOnly) {
    create(CI_DGFMT_PARALLEL, 10, 1, 0, 0);
    std::vector<QOR_UINT32> ids;
    for (int i = 0; i < 4; ++i) {
        QOR_UINT32 id = 0;
        ASSERT_EQ(CI_DatagenAllocateFrame(dg, 4096 + 64 * i, &id), QOR_RES_OK);
        EXPECT_GT(id, 0u);
        ids.push_back(id);
    }
    EXPECT_EQ(std::set<QOR_UINT32>(ids.begin(), ids.end()).size(), 4u);
    INT_INTDATAGEN *rec =
        reinterpret_cast<INT_INTDATAGEN *>(reinterpret_cast<char *>(dg) - offsetof(INT_INTDATAGEN, publicDatagen));
    EXPECT_EQ(List_nElem(&rec->sListFrames), 4u);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    stderrOf([&] { EXPECT_EQ(CI_DatagenAllocateFrame(dg, 4096, nullptr), QOR_RES_UNAVAILABLE); });
    EXPECT_EQ(List_nElem(&rec->sListFrames), 4u);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 4);
}

/** Buffers held by the caller or still in the device at destruction used to stay mapped and allocated. */
TEST_F(Datagen, DestroyLeavesNoBufferBehind) {
    create(CI_DGFMT_PARALLEL, 10, 1, 3, 128 * kHeight);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    CI_DG_FRAME *sent = fill(rampFrame(1, 10), 128);
    ASSERT_EQ(CI_DatagenInsertFrame(sent), QOR_RES_OK);  // queued, never processed
    ASSERT_NE(CI_DatagenGetAvailableFrame(dg), nullptr); // held by the caller
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK); });
    dg = nullptr;
    // The stop gave the queued buffer back; the held one goes with the generator.
    size_t count = 0;
    for (size_t p = err.find("Available list is empty\n"); p != std::string::npos;
         p = err.find("Available list is empty\n", p + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(commandsSeen(CI_IIFDG_FREE), 2u);
    const norva_sim::PlatformCounters c = norva_sim::GetCounters();
    EXPECT_EQ(c.liveMappings, 0);
    EXPECT_EQ(c.driverObjects, 0);
    EXPECT_EQ(c.deviceMemoryAreas, 0);
    EXPECT_EQ(List_nElem(&INT_ConnectionFromHandle(conn)->sList_datagen), 0u);
}

TEST_F(Datagen, WaitRepeatsInterruptionsAndEndsOnStopOrTimeout) {
    create(CI_DGFMT_PARALLEL, 10, 1, 2, 128 * kHeight);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    std::vector<uint16_t> samples;

    // Interrupted once: the wait is asked again and succeeds.
    ASSERT_EQ(CI_DatagenInsertFrame(fill(rampFrame(2, 10), 128)), QOR_RES_OK);
    ASSERT_TRUE(consume(1, &samples));
    norva_sim::ClearTrace();
    norva_sim::InjectCommandFault(CI_IIFDG_WAITPROCESSED, -EINTR);
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_OK); }), "");
    EXPECT_EQ(commandsSeen(CI_IIFDG_WAITPROCESSED), 2u);

    // Nobody takes the frame: the bounded wait gives up.
    {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        norva_sim::SetDatagenWaitTimeoutMs(30);
    }
    ASSERT_EQ(CI_DatagenInsertFrame(fill(rampFrame(3, 10), 128)), QOR_RES_OK);
    stderrOf([&] { EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_TIMEOUT); });

    // A stop from another thread ends a blocked wait at once, and the sent buffer is available again. The wait's
    // own bound is far beyond the test's: a wait the stop did not end would last a minute.
    {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        norva_sim::SetDatagenWaitTimeoutMs(60000);
    }
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SEAM_Ioctl(deviceFd(), CI_IOCTL_REQUEST[CI_IIFDG_STOP],
                   reinterpret_cast<void *>(static_cast<intptr_t>(datagenId(dg))));
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string err =
        stderrOf([&] { EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_TRUE), QOR_RES_UNAVAILABLE); });
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(contains(err, "Failed to wait for processed frame\n"));
    EXPECT_FALSE(CI_DatagenIsStarted(dg));
    CI_DG_FRAME *a = CI_DatagenGetAvailableFrame(dg);
    CI_DG_FRAME *b = CI_DatagenGetAvailableFrame(dg);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
}

} // namespace

namespace {

TEST_F(Datagen, FinaliseDestroysGeneratorsLeftOnTheConnection) {
    create(CI_DGFMT_PARALLEL, 10, 1, 2, 128 * kHeight);
    ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
    ASSERT_EQ(CI_DatagenInsertFrame(fill(rampFrame(4, 10), 128)), QOR_RES_OK);
    CI_DATAGEN *second = nullptr;
    ASSERT_EQ(CI_DatagenCreate(&second, conn), QOR_RES_OK);
    ASSERT_EQ(CI_DatagenAllocateFrame(second, 4096, nullptr), QOR_RES_OK);
    dg = nullptr;
    stderrOf([&] { EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK); });
    conn = nullptr; // the fixture checks that nothing is left
}

} // namespace
