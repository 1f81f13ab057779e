#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "norvacommon/dyncmd.h"
#include "sensorapi/board_config.h"
#include "support/board_fixture.h"

namespace {

class BoardConfigThreads : public norva_test::BoardTest {};

// Two sensors brought up at once read their slots through the one process-wide registry; each read holds it
// for the whole load, so neither sees the other's release in the middle of its own keys.
TEST_F(BoardConfigThreads, ConcurrentSlotReads) {
    WriteBoard(norva_test::BoardWiring{});
    std::atomic<int> wrong{0};
    auto reader = [&](QOR_UINT8 slot, int expectedReset) {
        for (int i = 0; i < 100; i++) {
            board_params p;
            if (GetBoardParameters(slot, &p) != QOR_RES_OK || p.gpio.reset_num != expectedReset)
                wrong++;
        }
    };
    auto otherUser = [&] {
        for (int i = 0; i < 100; i++) {
            DYNCMD_Lock();
            char a0[] = "p", a1[] = "-x", a2[] = "1";
            char *argv[] = {a0, a1, a2};
            DYNCMD_AddCommandLine(3, argv, "");
            DYNCMD_ReleaseParameters();
            DYNCMD_Unlock();
        }
    };
    std::thread a(reader, 0, 10), b(reader, 1, 12), c(otherUser);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
