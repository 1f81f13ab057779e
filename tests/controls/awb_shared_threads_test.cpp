// Two cameras' white balances update the process-wide temperature from two threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "ispc/ControlAWB.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::stderrOf;

TEST(AwbSharedTemperatureThreads, TwoCamerasUpdateOneValue) {
    ControlAWB::resetSharedTemperature();
    const norva_test::WbScene warm = norva_test::WbScene::underCalibration(1.2, 2.8);
    const norva_test::WbScene cool = norva_test::WbScene::underCalibration(1.9, 1.6);
    norva_test::WbRig rigs[2];
    ControlAWB controls[2];
    Metadata frames[2];
    for (int k = 0; k < 2; k++) {
        rigs[k].attach(controls[k]);
        stderrOf([&] {
            controls[k].load(norva_test::wbListOf(norva_test::twoPointCalibration()));
            controls[k].configureStatistics();
        });
        rigs[k].setup();
        std::memset(&frames[k], 0, sizeof(frames[k]));
        norva_test::fillWBS(rigs[k].mc(), k == 0 ? warm : cool, 640, 480, frames[k]);
    }
    auto run = [&](int k) {
        for (int i = 0; i < 10000; i++) {
            controls[k].update(frames[k]);
        }
    };
    stderrOf([&] {
        std::thread a(run, 0), b(run, 1);
        a.join();
        b.join();
    });
    const double shared = ControlAWB::getSharedTemperature();
    EXPECT_TRUE(std::isfinite(shared));
    // the frames are fixed while each control's correction moves, so the value wanders; what matters is one
    // finite value, read and written under its lock (the thread sanitizer run checks the accesses)
    EXPECT_GT(shared, 0.0);
    EXPECT_EQ(shared, controls[0].getMeasuredTemperature() == shared ? controls[0].getMeasuredTemperature()
                                                                     : controls[1].getMeasuredTemperature());
    ControlAWB::resetSharedTemperature();
}
