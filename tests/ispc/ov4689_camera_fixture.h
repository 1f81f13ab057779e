#ifndef NORVA_TEST_ISPC_OV4689_CAMERA_FIXTURE_H
#define NORVA_TEST_ISPC_OV4689_CAMERA_FIXTURE_H

// What the camera tests on the OV4689 of the simulated board share: the board with the sensor attached, the camera
// the test makes (closed quietly at the end), the sensor's binned mode, and frames written as PNG for a person to
// look at when NORVA_OV4689_PNG_DIR is set.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "ispc/Camera.h"
#include "platform/sim_sensor.h"
#include "support/board_fixture.h"

namespace norva_test {

/** The OV4689's mode of the tests: 1344 x 760, 2 lanes, 10 bits. */
constexpr int kOv4689Mode = 0x03;
constexpr unsigned kOv4689Width = 1344, kOv4689Height = 760;

/**
 * With NORVA_OV4689_PNG_DIR set, writes a frame of `bytes` in ffmpeg's pixel format `pixelFormat` at the mode's size
 * there as NAME.png (through ffmpeg).
 */
inline void saveOv4689Png(const std::string &bytes, const char *pixelFormat, const std::string &name) {
    const char *dir = std::getenv("NORVA_OV4689_PNG_DIR");
    if (dir == nullptr || bytes.empty())
        return;
    const std::string raw = std::string(dir) + "/" + name + "." + pixelFormat;
    std::ofstream(raw, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::string cmd = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt " + std::string(pixelFormat) + " -s " +
                            std::to_string(kOv4689Width) + "x" + std::to_string(kOv4689Height) + " -i '" + raw + "' '" +
                            dir + "/" + name + ".png'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

/** The simulated board with the OV4689 attached; `camera` is the test's, closed (its log kept quiet) at the end. */
class Ov4689CameraTest : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        WriteBoard(BoardWiring{});
        model = norva_sim::AttachOv4689(norva_sim::SensorWiring{});
    }
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        model.reset();
        BoardTest::TearDown();
    }

    std::shared_ptr<norva_sim::Ov4689Model> model;
    std::unique_ptr<ISPC::Camera> camera;
};

} // namespace norva_test

#endif
