// The equalised tone curve agrees with an independent numpy computation of the same formulas
// (tnm_reference.py) for random histograms under three sets of settings, over several frames.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/ControlTNM.h"
#include "support/output_capture.h"

using namespace ISPC;

namespace {

const char *const kPython = "/usr/bin/python3";
const std::string kScript = std::string(NORVA_TEST_SUPPORT_DIR) + "/../controls/tnm_reference.py";

struct Settings {
    double histMin, histMax, smoothing, tempering, updateSpeed;
};

std::string runReference(const std::string &input) {
    char path[] = "/tmp/norva-tnm-ref-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return "";
    close(fd);
    std::ofstream(path) << input;
    const std::string cmd = std::string(kPython) + " '" + kScript + "' < '" + path + "'";
    FILE *p = popen(cmd.c_str(), "r");
    std::string text;
    if (p != nullptr) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
            text.append(buf, n);
        const int status = pclose(p);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    unlink(path);
    return text;
}

bool numpyAvailable() {
    if (access(kPython, X_OK) != 0)
        return false;
    return std::system((std::string(kPython) + " -c 'import numpy' 2>/dev/null").c_str()) == 0;
}

} // namespace

TEST(TnmReference, EqualisedCurveAgreesWithNumpy) {
    if (!numpyAvailable())
        GTEST_SKIP() << kPython << " with numpy is not available";
    const Settings settings[] = {
        // The defaults as the control holds them (single-precision values).
        {0.035f, 0.25f, 0.4f, 0.2f, 0.5f},
        {0.1, 0.8, 1.0, 0.01, 0.7},
        {0.0, 1.0, 0.0, 0.0, 1.0},
    };
    std::mt19937 rng(24);
    std::ostringstream input;
    std::map<std::string, std::vector<std::vector<double>>> ours;
    for (unsigned s = 0; s < sizeof(settings) / sizeof(settings[0]); s++) {
        const Settings &c = settings[s];
        for (int h = 0; h < 4; h++) {
            const std::string name = "s" + std::to_string(s) + "h" + std::to_string(h);
            Matrix curve(1, 65);
            ControlTNM::resetCurve(curve);
            for (int frame = 0; frame < 3; frame++) {
                // Peaky, sparse and broad histograms with counts of a 1920 x 1080 frame.
                std::vector<unsigned> bins(64);
                std::uniform_int_distribution<unsigned> count(0, h == 0 ? 2000000u : 60000u);
                std::uniform_int_distribution<int> coin(0, 3);
                for (unsigned &b : bins)
                    b = (h == 1 && coin(rng) != 0) ? 0 : count(rng);
                bins[static_cast<size_t>(rng() % 64)] += h == 2 ? 1500000u : 0u;
                Matrix hist(1, 64);
                input << name;
                input.precision(17);
                input << " " << c.histMin << " " << c.histMax << " " << c.smoothing << " " << c.tempering << " "
                      << c.updateSpeed;
                for (int i = 0; i < 64; i++) {
                    hist[0][i] = bins[i];
                    input << " " << bins[i];
                }
                input << "\n";
                ControlTNM::generateMappingCurve(hist, c.histMin, c.histMax, c.smoothing, c.tempering, c.updateSpeed,
                                                 curve);
                ours[name].push_back(curve[0]);
            }
        }
    }
    std::istringstream lines(runReference(input.str()));
    std::map<std::string, size_t> frameOf;
    std::string name;
    int compared = 0;
    while (lines >> name) {
        ASSERT_EQ(ours.count(name), 1u) << name;
        const std::vector<double> &mine = ours[name][frameOf[name]++];
        for (int k = 0; k < 65; k++) {
            double want = 0;
            ASSERT_TRUE(static_cast<bool>(lines >> want));
            EXPECT_NEAR(mine[k], want, 1e-9) << name << " frame " << frameOf[name] - 1 << " point " << k;
        }
        compared++;
    }
    EXPECT_EQ(compared, 3 * 4 * 3);
}
