#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "norvacommon/lshgrid.h"
#include "support/output_capture.h"

namespace {

/** A file name private to the running test. */
std::string TestFile(const char *ext) {
    const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
    return std::string("lsh_") + t->test_suite_name() + "_" + t->name() + ext;
}

/** A grid that frees itself. */
struct Grid {
    LSH_GRID g{};
    ~Grid() { LSH_Free(&g); }
    float at(int c, unsigned x, unsigned y) const { return g.apMatrix[c][size_t(y) * g.ui16Width + x]; }
};

void Put32(std::string &s, uint32_t v) {
    for (int i = 0; i < 4; i++) {
        s.push_back(char((v >> (8 * i)) & 0xFF));
    }
}

/** The bytes of a grid file, written here independently of the writer. */
std::string FileBytes(const char magic[4], uint32_t version, uint32_t w, uint32_t h, uint32_t tile, size_t floats) {
    std::string s(magic, 4);
    Put32(s, version);
    Put32(s, w);
    Put32(s, h);
    Put32(s, tile);
    for (size_t i = 0; i < floats; i++) {
        const float v = 1.0f + float(i);
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Put32(s, bits);
    }
    return s;
}

/** The bytes of a grid file with float number i (counted over the four planes) replaced by v. */
std::string WithFloat(std::string bytes, size_t i, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    std::string word;
    Put32(word, bits);
    return bytes.replace(20 + 4 * i, 4, word);
}

void WriteFile(const std::string &name, const std::string &bytes) { std::ofstream(name, std::ios::binary) << bytes; }

std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Output(const std::string &cmd) {
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) {
            out += buf;
        }
        pclose(p);
    }
    return out;
}

bool HaveTool(const char *tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0;
}

TEST(LshGrid, CreateCoversTheImageAndChecksTheTile) {
    Grid a;
    ASSERT_EQ(LSH_CreateMatrix(&a.g, 1920, 1080, 64), QOR_RES_OK);
    EXPECT_EQ(a.g.ui16Width, 31);
    EXPECT_EQ(a.g.ui16Height, 18);
    EXPECT_EQ(a.at(3, 30, 17), 0.0f);
    EXPECT_EQ(LSH_CreateMatrix(&a.g, 64, 64, 64), QOR_RES_ALREADY);
    // a 640x480 window is 320x240 colour-filter cells
    Grid cells;
    ASSERT_EQ(LSH_CreateMatrix(&cells.g, 320, 240, 16), QOR_RES_OK);
    EXPECT_EQ(cells.g.ui16Width, 21);
    EXPECT_EQ(cells.g.ui16Height, 16);
    for (uint16_t tile : {0, 3, 48}) {
        Grid bad;
        EXPECT_EQ(LSH_CreateMatrix(&bad.g, 1920, 1080, tile), QOR_RES_NOT_SUPPORTED) << tile;
        EXPECT_EQ(bad.g.apMatrix[0], nullptr);
    }
    Grid one;
    EXPECT_EQ(LSH_AllocateMatrix(&one.g, 2, 2, 1), QOR_RES_OK);
}

TEST(LshGrid, FillsReachTheirCornersAndCentre) {
    const float corners[5] = {1, 2, 3, 4, 0.5f};
    Grid two;
    ASSERT_EQ(LSH_AllocateMatrix(&two.g, 2, 2, 16), QOR_RES_OK);
    ASSERT_EQ(LSH_FillLinear(&two.g, 1, corners), QOR_RES_OK);
    EXPECT_EQ(two.at(1, 0, 0), 1.0f);
    EXPECT_EQ(two.at(1, 1, 0), 2.0f);
    EXPECT_EQ(two.at(1, 0, 1), 3.0f);
    EXPECT_EQ(two.at(1, 1, 1), 4.0f);
    Grid three;
    ASSERT_EQ(LSH_AllocateMatrix(&three.g, 3, 3, 16), QOR_RES_OK);
    ASSERT_EQ(LSH_FillLinear(&three.g, 0, corners), QOR_RES_OK);
    EXPECT_FLOAT_EQ(three.at(0, 1, 1), 2.5f);

    Grid bowl;
    ASSERT_EQ(LSH_AllocateMatrix(&bowl.g, 5, 7, 16), QOR_RES_OK);
    const float b[5] = {2.0f, 2.5f, 3.0f, 1.5f, 1.0f};
    ASSERT_EQ(LSH_FillBowl(&bowl.g, 2, b), QOR_RES_OK);
    EXPECT_FLOAT_EQ(bowl.at(2, 0, 0), 2.0f);
    EXPECT_FLOAT_EQ(bowl.at(2, 4, 0), 2.5f);
    EXPECT_FLOAT_EQ(bowl.at(2, 0, 6), 3.0f);
    EXPECT_FLOAT_EQ(bowl.at(2, 4, 6), 1.5f);
    EXPECT_FLOAT_EQ(bowl.at(2, 2, 3), 1.0f);
    EXPECT_GT(bowl.at(2, 1, 3), 1.0f);
}

TEST(LshGrid, FillsRefuseWhatTheyCannotFill) {
    const float corners[5] = {1, 1, 1, 1, 1};
    Grid wide;
    ASSERT_EQ(LSH_AllocateMatrix(&wide.g, 4, 1, 16), QOR_RES_OK); // one row: fy would be 0/0
    Grid ok;
    ASSERT_EQ(LSH_AllocateMatrix(&ok.g, 4, 4, 16), QOR_RES_OK);
    Grid none;
    struct Case {
        const char *what;
        LSH_GRID *grid;
        int plane;
    } cases[] = {
        {"bowl one row high", &wide.g, 0},
        {"plane index 4", &ok.g, 4},
        {"plane index -1", &ok.g, -1},
        {"no planes", &none.g, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(LSH_FillBowl(c.grid, c.plane, corners), QOR_RES_FAILED) << c.what;
        EXPECT_EQ(LSH_FillLinear(c.grid, c.plane, corners), QOR_RES_FAILED) << c.what;
    }
    EXPECT_EQ(wide.at(0, 1, 0), 0.0f);
}

TEST(LshGrid, BinaryFileRoundTripsBitExact) {
    Grid a;
    ASSERT_EQ(LSH_AllocateMatrix(&a.g, 5, 3, 32), QOR_RES_OK);
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 15; i++) {
            a.g.apMatrix[c][i] = 1.0f / float(3 + i + 7 * c) + float(c);
        }
    }
    const std::string name = TestFile(".bin");
    ASSERT_EQ(LSH_Save_bin(&a.g, name.c_str()), QOR_RES_OK);
    const std::string bytes = ReadFile(name);
    ASSERT_EQ(bytes.size(), 20u + 5 * 3 * 16);
    EXPECT_EQ(bytes.substr(0, 4), std::string("LSH\0", 4));
    EXPECT_EQ(bytes.substr(0, 20), FileBytes("LSH", 1, 5, 3, 32, 0));

    Grid b;
    ASSERT_EQ(LSH_Load_bin(&b.g, name.c_str()), QOR_RES_OK);
    EXPECT_EQ(b.g.ui16Width, 5);
    EXPECT_EQ(b.g.ui16Height, 3);
    EXPECT_EQ(b.g.ui16TileSize, 32);
    for (int c = 0; c < 4; c++) {
        EXPECT_EQ(std::memcmp(a.g.apMatrix[c], b.g.apMatrix[c], 15 * sizeof(float)), 0) << c;
    }
    // loading into a grid that holds planes replaces them (the sanitizer sees any leak)
    ASSERT_EQ(LSH_Load_bin(&b.g, name.c_str()), QOR_RES_OK);
    EXPECT_EQ(b.at(3, 4, 2), a.at(3, 4, 2));
    std::remove(name.c_str());
}

TEST(LshGrid, BadFilesAreRefusedBeforeAnythingIsAllocated) {
    const char lsh[4] = {'L', 'S', 'H', 0};
    const char lshX[4] = {'L', 'S', 'H', 'X'};
    const char bad[4] = {'L', 'S', 'X', 0};
    const std::string good = FileBytes(lsh, 1, 4, 2, 16, 4 * 8);
    struct Case {
        const char *what;
        std::string bytes;
        QOR_RESULT expected;
    } cases[] = {
        {"empty file", "", QOR_RES_FAILED},
        {"three bytes", "LSH", QOR_RES_FAILED},
        {"wrong magic", FileBytes(bad, 1, 4, 2, 16, 32), QOR_RES_NOT_SUPPORTED},
        {"version 2", FileBytes(lsh, 2, 4, 2, 16, 32), QOR_RES_NOT_SUPPORTED},
        {"no version", std::string(lsh, 4) + "\x01", QOR_RES_FAILED},
        {"sizes cut short", good.substr(0, 14), QOR_RES_FAILED},
        {"fourth magic byte set", FileBytes(lshX, 1, 4, 2, 16, 32), QOR_RES_OK},
        {"ends inside plane 2", good.substr(0, 20 + 2 * 32 + 12), QOR_RES_FAILED},
        {"one float short", good.substr(0, good.size() - 1), QOR_RES_FAILED},
        {"width 0", FileBytes(lsh, 1, 0, 2, 16, 32), QOR_RES_FAILED},
        {"65535x65535 on 40 bytes", FileBytes(lsh, 1, 65535, 65535, 16, 5), QOR_RES_NOT_SUPPORTED},
        {"1000x1000 on 40 bytes", FileBytes(lsh, 1, 1000, 1000, 16, 5), QOR_RES_FAILED},
        {"tile 48", FileBytes(lsh, 1, 4, 2, 48, 32), QOR_RES_NOT_SUPPORTED},
        {"tile 0", FileBytes(lsh, 1, 4, 2, 0, 32), QOR_RES_NOT_SUPPORTED},
        {"NaN in plane 1", WithFloat(good, 8 + 5, std::nanf("")), QOR_RES_NOT_SUPPORTED},
        {"+infinity last", WithFloat(good, 31, HUGE_VALF), QOR_RES_NOT_SUPPORTED},
        {"-infinity first", WithFloat(good, 0, -HUGE_VALF), QOR_RES_NOT_SUPPORTED},
        {"largest finite values", WithFloat(WithFloat(good, 0, FLT_MAX), 1, -FLT_MAX), QOR_RES_OK},
    };
    const std::string name = TestFile(".bin");
    for (const Case &c : cases) {
        WriteFile(name, c.bytes);
        Grid g;
        std::string err =
            norva_test::stderrOf([&] { EXPECT_EQ(LSH_Load_bin(&g.g, name.c_str()), c.expected) << c.what; });
        if (c.expected != QOR_RES_OK) {
            for (int p = 0; p < 4; p++) {
                EXPECT_EQ(g.g.apMatrix[p], nullptr) << c.what;
            }
        } else {
            EXPECT_EQ(g.at(3, 3, 1), 32.0f);
        }
        if (std::string(c.what) == "wrong magic") {
            EXPECT_TRUE(norva_test::contains(err, "Wrong LSH file format - LSH couldn't be read\n")) << err;
        }
        if (std::string(c.what) == "version 2") {
            EXPECT_TRUE(norva_test::contains(err, "version 2 found, version 1 supported")) << err;
        }
        if (std::string(c.what) == "NaN in plane 1") {
            EXPECT_TRUE(norva_test::contains(err, "channel 1 holds a non-finite value at 1,1")) << err;
        }
    }
    // a failed load leaves a grid that held planes as it was
    Grid held;
    ASSERT_EQ(LSH_AllocateMatrix(&held.g, 3, 3, 8), QOR_RES_OK);
    held.g.apMatrix[0][4] = 7.0f;
    WriteFile(name, good.substr(0, 50));
    norva_test::stderrOf([&] { EXPECT_EQ(LSH_Load_bin(&held.g, name.c_str()), QOR_RES_FAILED); });
    EXPECT_EQ(held.g.ui16Width, 3);
    EXPECT_EQ(held.at(0, 1, 1), 7.0f);
    norva_test::stderrOf([&] { EXPECT_EQ(LSH_Load_bin(&held.g, "no/such/dir/grid.bin"), QOR_RES_INVALID_PARAM); });
    std::remove(name.c_str());
}

TEST(LshGrid, WriteFailuresAreReported) {
    Grid a;
    ASSERT_EQ(LSH_AllocateMatrix(&a.g, 4, 4, 16), QOR_RES_OK);
    norva_test::stderrOf([&] {
        EXPECT_NE(LSH_Save_bin(&a.g, "/dev/full"), QOR_RES_OK);
        EXPECT_NE(LSH_Save_txt(&a.g, "/dev/full"), QOR_RES_OK);
        EXPECT_NE(LSH_Save_pgm(&a.g, "/dev/full"), QOR_RES_OK);
        EXPECT_EQ(LSH_Save_bin(&a.g, "no/such/dir/grid.bin"), QOR_RES_INVALID_PARAM);
    });
}

TEST(LshGrid, GreyMapClampsExtremeAndNonFiniteValues) {
    // one plane of five values (the other planes 1.5); bounds over the finite values, at least 0 to 3
    const float inf = HUGE_VALF, nan = std::nanf("");
    struct Case {
        const char *what;
        float values[5];
        int levels[5];
    } cases[] = {
        {"largest finite values", {-FLT_MAX, FLT_MAX, 0.0f, 1.5f, 3.0f}, {0, 255, 127, 127, 127}},
        {"smallest magnitudes", {FLT_TRUE_MIN, -FLT_TRUE_MIN, FLT_MIN, 0.0f, 3.0f}, {0, 0, 0, 0, 255}},
        {"non-finite values", {nan, inf, -inf, 0.0f, 3.0f}, {0, 255, 0, 0, 255}},
        {"nothing finite but the other planes", {nan, inf, -inf, inf, nan}, {0, 255, 0, 255, 0}},
    };
    const std::string name = TestFile(".pgm");
    for (const Case &c : cases) {
        Grid a;
        ASSERT_EQ(LSH_AllocateMatrix(&a.g, 5, 1, 16), QOR_RES_OK);
        for (int p = 0; p < 4; p++) {
            for (int i = 0; i < 5; i++) {
                a.g.apMatrix[p][i] = p == 2 ? c.values[i] : 1.5f;
            }
        }
        ASSERT_EQ(LSH_Save_pgm(&a.g, name.c_str()), QOR_RES_OK) << c.what;
        std::istringstream in(ReadFile(name));
        std::string magic;
        unsigned w = 0, h = 0, maxval = 0;
        in >> magic >> w >> h >> maxval;
        std::vector<int> v(20, -1);
        for (int &x : v) {
            in >> x;
        }
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(v[10 + i], c.levels[i]) << c.what << ", value " << i;
        }
        for (int x : v) {
            EXPECT_TRUE(x >= 0 && x <= 255) << c.what;
        }
    }
    std::remove(name.c_str());
}

TEST(LshGrid, TextDumpListsEveryPlane) {
    Grid a;
    ASSERT_EQ(LSH_AllocateMatrix(&a.g, 2, 1, 4), QOR_RES_OK);
    a.g.apMatrix[2][1] = 1.5f;
    const std::string name = TestFile(".txt");
    ASSERT_EQ(LSH_Save_txt(&a.g, name.c_str()), QOR_RES_OK);
    EXPECT_EQ(ReadFile(name), "LSH matrix 2x1, tile size 4, 4 channels\n"
                              "channel 0\n0.000000 0.000000 \n"
                              "channel 1\n0.000000 0.000000 \n"
                              "channel 2\n0.000000 1.500000 \n"
                              "channel 3\n0.000000 0.000000 \n");
    std::remove(name.c_str());
}

TEST(LshGrid, GreyMapStacksThePlanesAndScalesTheValues) {
    Grid a;
    ASSERT_EQ(LSH_AllocateMatrix(&a.g, 3, 2, 16), QOR_RES_OK);
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 6; i++) {
            a.g.apMatrix[c][i] = 1.5f;
        }
    }
    a.g.apMatrix[0][0] = 1.0f;
    a.g.apMatrix[3][5] = 2.0f;
    const std::string name = TestFile(".pgm");
    ASSERT_EQ(LSH_Save_pgm(&a.g, name.c_str()), QOR_RES_OK);
    std::istringstream in(ReadFile(name));
    std::string magic;
    unsigned w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    EXPECT_EQ(magic, "P2");
    EXPECT_EQ(w, 3u);
    EXPECT_EQ(h, 8u);
    EXPECT_EQ(maxval, 255u);
    std::vector<int> v(24);
    for (int &x : v) {
        in >> x;
    }
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 127);
    EXPECT_EQ(v[23], 255);

    // values all 5: the smallest stays 3, so everything prints 255
    for (int c = 0; c < 4; c++) {
        for (int i = 0; i < 6; i++) {
            a.g.apMatrix[c][i] = 5.0f;
        }
    }
    ASSERT_EQ(LSH_Save_pgm(&a.g, name.c_str()), QOR_RES_OK);
    EXPECT_TRUE(norva_test::contains(ReadFile(name), "255 255 255 \n"));
    if (HaveTool("pamfile")) {
        EXPECT_TRUE(norva_test::contains(Output("pamfile " + name), "3 by 8  maxval 255")) << Output("pamfile " + name);
    }
    if (HaveTool("identify-im6.q16")) {
        EXPECT_EQ(Output("identify-im6.q16 -format '%w %h %z' " + name), "3 8 8");
    }
    if (!HaveTool("pamfile") || !HaveTool("identify-im6.q16")) {
        GTEST_SKIP() << "netpbm or imagemagick missing: the grey map was checked only here";
    }

    std::remove(name.c_str());
}

} // namespace
