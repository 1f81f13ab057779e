#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "norvacommon/dyncmd.h"

namespace {

// Two users load their own file and read their own value at the same time; a user holding the registry for
// its whole load never sees the other's tokens, nor loses its own to the other's release.
TEST(DyncmdThreads, WholeLoadsDoNotInterleave) {
    const std::string base = testing::TempDir() + "dyncmd_thread_";
    for (int t = 0; t < 2; t++)
        std::ofstream(base + std::to_string(t)) << "-value " << (100 + t) << "\n";
    std::atomic<int> wrong{0};
    auto user = [&](int t) {
        const std::string path = base + std::to_string(t);
        for (int i = 0; i < 300; i++) {
            DYNCMD_Lock();
            unsigned v = 0;
            if (DYNCMD_AddFile(path.c_str(), "#") != 0 ||
                DYNCMD_RegisterParameter("-value", DYNCMDTYPE_UINT, "v", &v) != RET_FOUND ||
                v != static_cast<unsigned>(100 + t))
                wrong++;
            DYNCMD_ReleaseParameters();
            DYNCMD_Unlock();
        }
    };
    std::thread a(user, 0), b(user, 1);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
