#ifndef NORVA_TEST_FORMAT_HELPERS_H
#define NORVA_TEST_FORMAT_HELPERS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_base.h"

namespace fmttest {

/** Debian's interpreter, which carries Pillow and numpy (a user interpreter first in PATH may not). */
extern const char *const kPython;

/** True when a program of that name is on the PATH. */
bool HaveTool(const std::string &name);
/** True when Debian's python3 imports the module. */
bool HavePythonModule(const std::string &module);
/** Runs a shell command; returns its exit status, its standard output in *out. */
int Shell(const std::string &cmd, std::string *out = nullptr);
/** A message text for comparisons: the message, or "(success)" for null. */
std::string Str(const char *msg);
/** A case's description as a test name: every character other than a letter or a digit becomes '_'. */
std::string TestName(std::string what);
/** The name generator of parameterised tests whose cases carry a description `what`. */
template <class Case> std::string CaseName(const testing::TestParamInfo<Case> &info) {
    return TestName(info.param.what);
}

/** A decoded plain PNM text (P2/P3): size, maxval and the samples in file order. */
struct PlainPnm {
    int width = 0, height = 0, channels = 0;
    long maxval = 0;
    std::vector<long> values;
};
bool ParsePlainPnm(const std::string &text, PlainPnm *pnm);
/** Samples of a grey or RGB image in file order (pixel by pixel, channels interleaved). */
std::vector<long> Interleaved(const CImageBase &im);
/** The samples of every channel plane, plane after plane, each row by row. */
std::vector<long> Planes(const CImageBase &im);
/** The samples of a Bayer image as the full mosaic, row by row. */
std::vector<long> Mosaic(const CImageBase &im);
/** Values rescaled from one maxval to another as the public readers do (rounded). */
std::vector<long> Rescale(const std::vector<long> &v, long fromMax, long toMax);

} // namespace fmttest

#define FMT_REQUIRE_TOOL(name)                                                                                         \
    do {                                                                                                               \
        if (!fmttest::HaveTool(name))                                                                                  \
            GTEST_SKIP() << (name) << " is not installed";                                                             \
    } while (0)
#define FMT_REQUIRE_PYTHON(module)                                                                                     \
    do {                                                                                                               \
        if (!fmttest::HavePythonModule(module))                                                                        \
            GTEST_SKIP() << "python3 module " << (module) << " is not installed";                                      \
    } while (0)

#endif
