#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "norvacommon/dyncmd.h"
#include "support/output_capture.h"
#include "sys/sys_seam.h"

namespace {

std::string writeFile(const std::string &name, const std::string &text) {
    const std::string path = testing::TempDir() + "dyncmd_" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string words(int count, const char *word) {
    std::string text;
    for (int i = 0; i < count; i++)
        text += std::string(word) + (i % 10 == 9 ? "\n" : " ");
    return text;
}

std::vector<std::string> args(int count) {
    std::vector<std::string> a{"prog"};
    for (int i = 0; i < count; i++)
        a.push_back("t" + std::to_string(i));
    return a;
}

/** The stored values, space separated, read as the registration's type. */
std::string valuesOf(DYNCMDLINE_TYPE type, const void *data, unsigned n) {
    std::string out;
    for (unsigned i = 0; i < n; i++) {
        char buf[64];
        const char *p = static_cast<const char *>(data);
        switch (type) {
        case DYNCMDTYPE_BOOL8:
            std::snprintf(buf, sizeof buf, "%d", static_cast<int>(reinterpret_cast<const QOR_BOOL8 *>(p)[i]));
            break;
        case DYNCMDTYPE_FLOAT:
            std::snprintf(buf, sizeof buf, "%g", static_cast<double>(reinterpret_cast<const float *>(p)[i]));
            break;
        case DYNCMDTYPE_UINT:
            std::snprintf(buf, sizeof buf, "%u", reinterpret_cast<const unsigned *>(p)[i]);
            break;
        case DYNCMDTYPE_INT:
            std::snprintf(buf, sizeof buf, "%d", reinterpret_cast<const int *>(p)[i]);
            break;
        case DYNCMDTYPE_STRING: {
            const char *s = *reinterpret_cast<char *const *>(p);
            std::snprintf(buf, sizeof buf, "%s", s != nullptr ? s : "(null)");
            break;
        }
        default:
            std::snprintf(buf, sizeof buf, "?");
        }
        out += (i ? " " : "") + std::string(buf);
    }
    return out;
}

struct Case {
    const char *name;
    std::vector<std::string> argv; /* added as a command line when not empty */
    const char *source;            /* the command line's source option */
    std::string file;              /* added as a file ("#" comments) when not empty */
    QOR_RESULT addResult;
    DYNCMDLINE_TYPE type;
    const char *flag;
    unsigned nElem;
    DYNCMDLINE_RETURN_CODE code;
    std::string values;  /* stored values after the registration (targets start at 7, strings at null) */
    std::string message; /* expected on standard error ("" = nothing) */
};

// Files are read through the seam: the real system calls here, chosen up front so that no selection message
// mixes with the registry's own.
class Dyncmd : public testing::Test {
protected:
    void SetUp() override { SEAM_Override(SEAM_HardwareOps()); }
    void TearDown() override {
        DYNCMD_ReleaseParameters();
        SEAM_Override(nullptr);
    }
};

TEST_F(Dyncmd, TokensRegistrationAndValues) {
    const std::string sourced = writeFile("sourced.txt", "-w 320 # width\n-h 240\n");
    const std::string line253 = std::string(250, ' ') + "-width 640\n";
    const std::string longComment = "-width 800\n# " + std::string(300, 'c') + " -width 1\n";
    const std::string tooMany = "MAX_PARAMS(255) is not big enought - recompile with larger one\n";
    const std::vector<Case> cases = {
        {"last occurrence wins",
         {"p", "-w", "640", "-w", "800"},
         "",
         "",
         0,
         DYNCMDTYPE_UINT,
         "-w",
         1,
         RET_FOUND,
         "800",
         ""},
        {"boolean 1", {"p", "-b", "1"}, "", "", 0, DYNCMDTYPE_BOOL8, "-b", 1, RET_FOUND, "1", ""},
        {"boolean 2",
         {"p", "-b", "2"},
         "",
         "",
         0,
         DYNCMDTYPE_BOOL8,
         "-b",
         1,
         RET_INCORRECT,
         "7",
         "value 2 is not QOR_TRUE (1) nor QOR_FALSE (0)\n"},
        {"boolean 256 is not false",
         {"p", "-b", "256"},
         "",
         "",
         0,
         DYNCMDTYPE_BOOL8,
         "-b",
         1,
         RET_INCORRECT,
         "7",
         "value 256 is not QOR_TRUE (1) nor QOR_FALSE (0)\n"},
        {"boolean 257 is not true",
         {"p", "-b", "257"},
         "",
         "",
         0,
         DYNCMDTYPE_BOOL8,
         "-b",
         1,
         RET_INCORRECT,
         "7",
         "value 257 is not QOR_TRUE (1) nor QOR_FALSE (0)\n"},
        {"float array cut by a flag",
         {"p", "-g", "0.5", "1.5", "-x"},
         "",
         "",
         0,
         DYNCMDTYPE_FLOAT,
         "-g",
         3,
         RET_INCOMPLETE,
         "0.5 1.5 7",
         ""},
        {"float array complete",
         {"p", "-g", "0.5", "1.5", "2"},
         "",
         "",
         0,
         DYNCMDTYPE_FLOAT,
         "-g",
         3,
         RET_FOUND,
         "0.5 1.5 2",
         ""},
        {"array of nothing", {"p", "-g", "x"}, "", "", 0, DYNCMDTYPE_FLOAT, "-g", 2, RET_INCORRECT, "7 7", ""},
        // The whole token must be the number: its start alone would be a silently wrong value.
        {"unsigned 12abc refused", {"p", "-w", "12abc"}, "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_INCORRECT, "7", ""},
        {"unsigned 1e3 is not 1", {"p", "-w", "1e3"}, "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_INCORRECT, "7", ""},
        {"signed 0x780 is not 0", {"p", "-i", "0x780"}, "", "", 0, DYNCMDTYPE_INT, "-i", 1, RET_INCORRECT, "7", ""},
        {"float 1,5 is not 1", {"p", "-g", "1,5"}, "", "", 0, DYNCMDTYPE_FLOAT, "-g", 1, RET_INCORRECT, "7", ""},
        {"float inf refused", {"p", "-g", "inf"}, "", "", 0, DYNCMDTYPE_FLOAT, "-g", 1, RET_INCORRECT, "7", ""},
        {"float nan refused", {"p", "-g", "nan"}, "", "", 0, DYNCMDTYPE_FLOAT, "-g", 1, RET_INCORRECT, "7", ""},
        {"unsigned +5", {"p", "-w", "+5"}, "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_FOUND, "5", ""},
        {"unsigned -1 refused", {"p", "-w", "-1"}, "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_INCORRECT, "7", ""},
        {"unsigned beyond 32 bits",
         {"p", "-w", "4294967296"},
         "",
         "",
         0,
         DYNCMDTYPE_UINT,
         "-w",
         1,
         RET_INCORRECT,
         "7",
         ""},
        {"signed -5", {"p", "-i", "-5"}, "", "", 0, DYNCMDTYPE_INT, "-i", 1, RET_FOUND, "-5", ""},
        {"string", {"p", "-s", "abc"}, "", "", 0, DYNCMDTYPE_STRING, "-s", 1, RET_FOUND, "abc", ""},
        {"flag last, no value", {"p", "-w"}, "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_INCORRECT, "7", ""},
        {"absent keeps the default", {"p", "-h", "3"}, "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_NOT_FOUND, "7", ""},
        {"command", {"p", "-v"}, "", "", 0, DYNCMDTYPE_COMMAND, "-v", 1, RET_FOUND, "", ""},
        {"two strings refused", {"p", "-s", "a", "b"}, "", "", 0, DYNCMDTYPE_STRING, "-s", 2, RET_ERROR, "(null)", ""},
        {"comment word ends the line", {}, "", "-w 2 #x 9\n", 0, DYNCMDTYPE_UINT, "-w", 1, RET_FOUND, "2", ""},
        {"marker inside a word", {}, "", "-s 2#3\n", 0, DYNCMDTYPE_STRING, "-s", 1, RET_FOUND, "2#3", ""},
        {"word across character 253", {}, "", line253, 0, DYNCMDTYPE_UINT, "-width", 1, RET_FOUND, "640", ""},
        {"long comment stays a comment", {}, "", longComment, 0, DYNCMDTYPE_UINT, "-width", 1, RET_FOUND, "800", ""},
        {"file of 300 words", {}, "", words(300, "w"), 3, DYNCMDTYPE_UINT, "-w", 1, RET_NOT_FOUND, "7", tooMany},
        {"file of 254 words", {}, "", words(252, "w") + "-w 9", 0, DYNCMDTYPE_UINT, "-w", 1, RET_FOUND, "9", ""},
        {"command line of 254", args(254), "", "", 0, DYNCMDTYPE_UINT, "-w", 1, RET_NOT_FOUND, "7", ""},
        {"command line of 255", args(255), "", "", 3, DYNCMDTYPE_UINT, "-w", 1, RET_NOT_FOUND, "7", tooMany},
        {"source file inserted",
         {"p", "-a", "1", "-source", sourced, "-w", "9"},
         "-source",
         "",
         0,
         DYNCMDTYPE_UINT,
         "-h",
         1,
         RET_FOUND,
         "240",
         ""},
        {"source option then later flag",
         {"p", "-source", sourced, "-w", "9"},
         "-source",
         "",
         0,
         DYNCMDTYPE_UINT,
         "-w",
         1,
         RET_FOUND,
         "9",
         ""},
        {"-sourceX is a word",
         {"p", "-sourceX", "v"},
         "-source",
         "",
         0,
         DYNCMDTYPE_STRING,
         "-sourceX",
         1,
         RET_FOUND,
         "v",
         ""},
        {"source without path",
         {"p", "-source"},
         "-source",
         "",
         11,
         DYNCMDTYPE_UINT,
         "-w",
         1,
         RET_NOT_FOUND,
         "7",
         "parameter '-source' needs a file path as value\n"},
        {"source unreadable",
         {"p", "-source", "/nonexistent/x"},
         "-source",
         "",
         16,
         DYNCMDTYPE_UINT,
         "-w",
         1,
         RET_NOT_FOUND,
         "7",
         "failed to source file '/nonexistent/x'\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DYNCMD_ReleaseParameters();
        QOR_RESULT added = 0;
        std::string err = norva_test::stderrOf([&] {
            if (!c.argv.empty()) {
                std::vector<char *> argv;
                for (const std::string &a : c.argv)
                    argv.push_back(const_cast<char *>(a.c_str()));
                added = DYNCMD_AddCommandLine(static_cast<int>(argv.size()), argv.data(), c.source);
            } else {
                added = DYNCMD_AddFile(writeFile("case.txt", c.file).c_str(), "#");
            }
        });
        EXPECT_EQ(added, c.addResult);
        union {
            unsigned u[4];
            int i[4];
            float f[4];
            QOR_BOOL8 b[4];
            char *s;
        } target;
        if (c.type == DYNCMDTYPE_STRING) {
            target.s = nullptr;
        } else {
            for (int k = 0; k < 4; k++) {
                target.u[k] = 7;
                target.b[k] = 7;
            }
            if (c.type == DYNCMDTYPE_FLOAT)
                target.f[0] = target.f[1] = target.f[2] = 7.0f;
            if (c.type != DYNCMDTYPE_BOOL8 && c.type != DYNCMDTYPE_FLOAT)
                target.u[0] = target.u[1] = target.u[2] = 7;
        }
        DYNCMDLINE_RETURN_CODE code = RET_ERROR;
        err += norva_test::stderrOf([&] { code = DYNCMD_RegisterArray(c.flag, c.type, "d", &target, c.nElem); });
        EXPECT_EQ(code, c.code);
        if (c.type != DYNCMDTYPE_COMMAND) {
            EXPECT_EQ(valuesOf(c.type, &target, c.type == DYNCMDTYPE_STRING ? 1 : c.nElem), c.values);
        }
        EXPECT_EQ(err, c.message);
        if (c.type == DYNCMDTYPE_STRING)
            std::free(target.s);
    }
}

TEST_F(Dyncmd, RegistrationRefusals) {
    unsigned v = 0;
    EXPECT_EQ(norva_test::stderrOf([&] { EXPECT_EQ(DYNCMD_RegisterParameter("-w", DYNCMDTYPE_UINT, "d", &v), 4); }),
              "You must add a command line or a file before registering a parameter\n");
    char p[] = "p";
    char *argv[] = {p};
    ASSERT_EQ(DYNCMD_AddCommandLine(1, argv, ""), 0);
    EXPECT_EQ(
        norva_test::stderrOf([&] { EXPECT_EQ(DYNCMD_RegisterParameter("-w", DYNCMDTYPE_UINT, "d", nullptr), 4); }),
        "You must give a data pointer when registering a data type\n");
    EXPECT_EQ(DYNCMD_RegisterParameter("-w", DYNCMDTYPE_UINT, "d", &v), RET_NOT_FOUND);
    EXPECT_EQ(norva_test::stderrOf([&] { EXPECT_EQ(DYNCMD_RegisterParameter("-w", DYNCMDTYPE_UINT, "d", &v), 4); }),
              "the parameter '-w' is already registered\n");
    for (int i = 1; i < MAX_PARAMS - 1; i++) {
        const std::string flag = "-f" + std::to_string(i);
        ASSERT_EQ(DYNCMD_RegisterParameter(flag.c_str(), DYNCMDTYPE_UINT, "d", &v), RET_NOT_FOUND);
    }
    EXPECT_EQ(norva_test::stderrOf([&] { EXPECT_EQ(DYNCMD_RegisterParameter("-z", DYNCMDTYPE_UINT, "d", &v), 4); }),
              "Too many commandline params, try increasing the MAX_PARAMS (255) variable and recompile\n");
    EXPECT_EQ(DYNCMD_AddFile(nullptr, "#"), 11);
    EXPECT_EQ(DYNCMD_AddFile("/nonexistent/file", "#"), 16);
}

TEST_F(Dyncmd, UnconsumedTokensAndUsage) {
    QOR_UINT32 count = 99;
    EXPECT_EQ(DYNCMD_HasUnregisteredElements(nullptr), 11);
    EXPECT_EQ(norva_test::stderrOf([&] { EXPECT_EQ(DYNCMD_HasUnregisteredElements(&count), 15); }),
              "no registered parameters or command line/ file not added\n");
    char a0[] = "p", a1[] = "-w", a2[] = "5", a3[] = "junk", a4[] = "-g", a5[] = "1", a6[] = "2", a7[] = "-v";
    char *argv[] = {a0, a1, a2, a3, a4, a5, a6, a7};
    ASSERT_EQ(DYNCMD_AddCommandLine(8, argv, ""), 0);
    unsigned w = 0;
    float g[2] = {};
    EXPECT_EQ(DYNCMD_RegisterParameter("-w", DYNCMDTYPE_UINT, "width", &w), RET_FOUND);
    EXPECT_EQ(DYNCMD_RegisterArray("-g", DYNCMDTYPE_FLOAT, "gains", g, 2), RET_FOUND);
    EXPECT_EQ(DYNCMD_RegisterParameter("-v", DYNCMDTYPE_COMMAND, "verbose", nullptr), RET_FOUND);
    EXPECT_EQ(norva_test::stderrOf([&] { EXPECT_EQ(DYNCMD_HasUnregisteredElements(&count), 0); }),
              "  'junk' unknown parameter (2)\n");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(norva_test::stdoutOf([] { DYNCMD_PrintUsage(); }),
              "usage()\n-w <uint>\t: width\n-g <float>x2\t: gains\n-v \t: verbose\n\n");
}

} // namespace
