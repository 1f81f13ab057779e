// Defect maps: the reader of defect-map files, the defective-pixel module that owns the map it
// loads, and the block its setup writes.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ispc/ModuleDPF.h"
#include "module_test_util.h"
#include "norvacommon/dpf_map.h"
#include "support/hostile_files.h"

using namespace ISPC;
using namespace norva_test;

namespace {

/** A temporary folder for map files, removed with its files. */
class MapFolder {
public:
    MapFolder() {
        char name[] = "/tmp/norva-dpf-XXXXXX";
        folder_ = mkdtemp(name) != nullptr ? name : "/tmp";
    }
    ~MapFolder() {
        for (const std::string &f : files_)
            unlink(f.c_str());
        rmdir(folder_.c_str());
    }
    std::string write(const std::string &name, const std::vector<unsigned char> &bytes) {
        const std::string path = folder_ + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        if (f != nullptr) {
            if (!bytes.empty())
                fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        files_.push_back(path);
        return path;
    }
    std::string words(const std::string &name, const std::vector<QOR_UINT32> &w) {
        std::vector<unsigned char> bytes;
        for (QOR_UINT32 v : w)
            for (int i = 0; i < 4; i++)
                bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
        return write(name, bytes);
    }
    const std::string &folder() const { return folder_; }

private:
    std::string folder_;
    std::vector<std::string> files_;
};

std::vector<QOR_UINT32> records(QOR_UINT32 n) {
    std::vector<QOR_UINT32> w(n);
    for (QOR_UINT32 i = 0; i < n; i++)
        w[i] = (i % 8192) | ((i / 8192) << 16);
    return w;
}

} // namespace

TEST(DefectMapReader, Files) {
    MapFolder dir;
    std::vector<unsigned char> sixBytes = {5, 0, 3, 0, 0xFF, 0xFF};
    const struct {
        const char *what;
        std::string path;
        QOR_RESULT result;
        QOR_UINT32 count;
        std::vector<QOR_UINT16> first; // the first pairs of the map
        const char *log;
    } cases[] = {
        {"three records",
         dir.words("three.bin", {0x00030005, 0x1FFF1FFF, 0x00000000}),
         QOR_RES_OK,
         3,
         {5, 3, 8191, 8191, 0, 0},
         "INFO: Using DPF input map"},
        {"bit outside the mask",
         dir.words("bad.bin", {0x00030005, 0x00032000, 0}),
         QOR_RES_TIMEOUT,
         77,
         {},
         "binary is corrupted at DPF correction 1 (offset=0x4): coord=0x00032000 (coord mask=0x1fff1fff)\n"},
        {"1025 records: one growth", dir.words("many.bin", records(1025)), QOR_RES_OK, 1025, {0, 0, 1, 0}, ""},
        {"6 bytes: one record", dir.write("six.bin", sixBytes), QOR_RES_OK, 1, {5, 3}, ""},
        {"empty file: no map", dir.write("empty.bin", {}), QOR_RES_OK, 0, {}, "with 0 elements"},
        {"missing file", dir.folder() + "/none.bin", QOR_RES_FAILED, 77, {}, "failed to open "},
        {"longer than the record cap",
         dir.words("huge.bin", records(DPF_MAP_MAX_RECORDS + 1)),
         QOR_RES_NO_MEMORY,
         77,
         {},
         "failed to allocate intermediate map ("},
        {"exactly the record cap",
         dir.words("cap.bin", records(DPF_MAP_MAX_RECORDS)),
         QOR_RES_OK,
         DPF_MAP_MAX_RECORDS,
         {0, 0},
         ""},
    };
    for (const auto &c : cases) {
        QOR_UINT16 *map = nullptr;
        QOR_UINT32 n = 77;
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = logOf([&] { ret = DPF_Load_bin(&map, &n, c.path.c_str()); });
        EXPECT_EQ(ret, c.result) << c.what << log;
        EXPECT_EQ(n, c.count) << c.what;
        EXPECT_TRUE(contains(log, c.log)) << c.what << log;
        EXPECT_EQ(map != nullptr, c.count != 0 && c.count != 77) << c.what;
        for (size_t i = 0; map != nullptr && i < c.first.size(); i++)
            EXPECT_EQ(map[i], c.first[i]) << c.what << " value " << i;
        if (c.count == 1025 && map != nullptr) {
            EXPECT_EQ(map[2 * 1024], 1024);
        }
        free(map);
    }
}

TEST(DefectMapReader, RefusesArgumentsAndHostileFiles) {
    MapFolder dir;
    const std::string file = dir.words("one.bin", {1});
    QOR_UINT16 *map = nullptr;
    QOR_UINT32 n = 0;
    EXPECT_EQ(DPF_Load_bin(nullptr, &n, file.c_str()), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(DPF_Load_bin(&map, nullptr, file.c_str()), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(DPF_Load_bin(&map, &n, nullptr), QOR_RES_INVALID_PARAM);
    QOR_UINT16 held[2] = {1, 2};
    map = held;
    n = 5;
    EXPECT_EQ(DPF_Load_bin(&map, &n, file.c_str()), QOR_RES_ALREADY);
    EXPECT_EQ(map, held);
    EXPECT_EQ(n, 5u);

    HostileFiles hostile;
    for (const auto &h : hostile.entries()) {
        const std::string path = h.path;
        EXPECT_TRUE(ReturnsTrueWithin(5, [path] {
            QOR_UINT16 *m = nullptr;
            QOR_UINT32 count = 0;
            return DPF_Load_bin(&m, &count, path.c_str()) == QOR_RES_FAILED && m == nullptr;
        })) << h.what;
    }
}

TEST(ModuleDPF, EnableBitsAndSettings) {
    const struct {
        const char *text;
        QOR_UINT8 enable;
        QOR_UINT8 threshold;
        double weight;
        bool warned;
    } cases[] = {
        {"", 0, 0, 16.0, false},
        {"DPF_WRITE_MAP_ENABLE 1\n", 3, 0, 16.0, false},
        {"DPF_WRITE_MAP_ENABLE 1\nDPF_READ_MAP_ENABLE 1\nDPF_DETECT_ENABLE 1\n", 7, 0, 16.0, false},
        {"DPF_READ_MAP_ENABLE 1\n", 4, 0, 16.0, false},
        {"DPF_DETECT_ENABLE 1\nDPF_THRESHOLD 100\nDPF_WEIGHT 63\n", 1, 63, 63.0, false},
        // The block holds weights up to 63: a larger one is programmed as 63, with a warning.
        {"DPF_WEIGHT 300\n", 0, 0, 63.0, true},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleDPF *dpf = registered<ModuleDPF>(rig);
        dpf->load(listOf(c.text));
        const std::string log = stderrOf([&] { EXPECT_EQ(dpf->setup(), QOR_RES_OK); });
        const MC_DPF &b = rig.mc().sDPF;
        EXPECT_EQ(b.eDPFEnable, c.enable) << c.text;
        EXPECT_EQ(b.ui8Threshold, c.threshold) << c.text;
        EXPECT_EQ(b.fWeight, c.weight) << c.text;
        EXPECT_EQ(contains(log, "above the hardware maximum"), c.warned) << c.text << log;
        EXPECT_EQ(b.apDefectInput, nullptr);
        EXPECT_EQ(b.ui32NDefect, 0u);
        EXPECT_TRUE(b.updateNeeded);
    }
    ModuleDPF dpf;
    dpf.load(listOf("DPF_WEIGHT 300\n"));
    EXPECT_EQ(dpf.fWeight, 255.0);
}

TEST(ModuleDPF, SetupCopiesTheImagerWindow) {
    TestRig rig;
    ModuleDPF *dpf = registered<ModuleDPF>(rig);
    rig.mc().sIIF.ui16ImagerDecimation[0] = 1;
    rig.mc().sIIF.ui16ImagerDecimation[1] = 0;
    rig.mc().sIIF.ui16ImagerOffset[0] = 16;
    rig.mc().sIIF.ui16ImagerOffset[1] = 8;
    ASSERT_EQ(dpf->setup(), QOR_RES_OK);
    EXPECT_EQ(rig.mc().sDPF.aSkip[0], 1);
    EXPECT_EQ(rig.mc().sDPF.aSkip[1], 0);
    EXPECT_EQ(rig.mc().sDPF.aOffset[0], 16);
    EXPECT_EQ(rig.mc().sDPF.aOffset[1], 8);
}

TEST(ModuleDPF, ReadMapLoadsOnceAndIsLent) {
    MapFolder dir;
    const std::string first = dir.words("first.bin", {0x00030005, 0x00100010});
    const std::string second = dir.words("second.bin", {0x00010001});
    TestRig rig;
    ModuleDPF *dpf = registered<ModuleDPF>(rig);
    stderrOf([&] { dpf->load(listOf("DPF_READ_MAP_FILE " + first + "\n")); });
    ASSERT_TRUE(dpf->hasInputMap());
    EXPECT_EQ(dpf->ui32NbDefects, 2u);
    stderrOf([&] { dpf->load(listOf("DPF_READ_MAP_FILE " + second + "\nDPF_READ_MAP_ENABLE 1\n")); });
    EXPECT_EQ(dpf->ui32NbDefects, 2u);
    EXPECT_EQ(dpf->readMapFilename, first);
    ASSERT_EQ(dpf->setup(), QOR_RES_OK);
    EXPECT_EQ(rig.mc().sDPF.apDefectInput, dpf->pDefectMap);
    EXPECT_EQ(rig.mc().sDPF.ui32NDefect, 2u);
    EXPECT_EQ(rig.mc().sDPF.eDPFEnable, 4);
    ParameterList l;
    dpf->save(l, ModuleBase::SAVE_VAL);
    EXPECT_EQ(valuesOf(l, "DPF_READ_MAP_FILE"), std::vector<std::string>{first});
    // The pipeline frees its modules: the block is left without a pointer to the freed map, and the
    // map is freed once (the sanitizers see a second free).
    rig.pipeline.reset();
}

TEST(ModuleDPF, MapsThatGiveNoDefects) {
    MapFolder dir;
    const struct {
        const char *what;
        std::string path;
        bool warned;
    } cases[] = {
        {"missing", dir.folder() + "/none.bin", true},
        {"corrupted", dir.words("bad.bin", {0x00032000}), true},
        {"empty", dir.write("empty.bin", {}), false},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleDPF *dpf = registered<ModuleDPF>(rig);
        const std::string log = stderrOf([&] { dpf->load(listOf("DPF_READ_MAP_FILE " + c.path + "\n")); });
        EXPECT_EQ(contains(log, "failed to load the DPF read map - no map will be loaded\n"), c.warned) << c.what;
        EXPECT_FALSE(dpf->hasInputMap()) << c.what;
        EXPECT_EQ(dpf->pDefectMap, nullptr) << c.what;
        ASSERT_EQ(dpf->setup(), QOR_RES_OK);
        EXPECT_EQ(rig.mc().sDPF.apDefectInput, nullptr);
        EXPECT_EQ(rig.mc().sDPF.ui32NDefect, 0u);
        // A later load tries again.
        const std::string good = dir.words(std::string(c.what) + "-good.bin", {0x00010001});
        stderrOf([&] { dpf->load(listOf("DPF_READ_MAP_FILE " + good + "\n")); });
        EXPECT_TRUE(dpf->hasInputMap()) << c.what;
    }
}

// Map coordinates are those of the image the pipeline receives: a defect outside it is refused by
// the setup, with a message naming it, instead of being sent to the block.
TEST(ModuleDPF, DefectsOutsideTheImageAreRefused) {
    MapFolder dir;
    const struct {
        QOR_UINT32 word;
        QOR_RESULT result;
    } cases[] = {
        {(1079u << 16) | 1919u, QOR_RES_OK},
        {(1080u << 16) | 0u, QOR_RES_NOT_SUPPORTED},
        {(0u << 16) | 1920u, QOR_RES_NOT_SUPPORTED},
    };
    for (const auto &c : cases) {
        TestRig rig;
        ModuleDPF *dpf = registered<ModuleDPF>(rig);
        rig.mc().sIIF.ui16ImagerSize[0] = 960;
        rig.mc().sIIF.ui16ImagerSize[1] = 540;
        stderrOf([&] { dpf->load(listOf("DPF_READ_MAP_FILE " + dir.words("m.bin", {c.word}) + "\n")); });
        rig.mc().sDPF.updateNeeded = QOR_FALSE;
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = dpf->setup(); });
        EXPECT_EQ(ret, c.result) << std::hex << c.word;
        EXPECT_EQ(rig.mc().sDPF.updateNeeded, c.result == QOR_RES_OK);
        EXPECT_EQ(contains(log, "lies outside the 1920x1080 image"), c.result != QOR_RES_OK) << log;
    }
}

TEST(ModuleDPF, SavedBounds) {
    ModuleDPF dpf;
    const struct {
        ModuleBase::SaveType kind;
        std::vector<std::string> values;
    } cases[] = {
        {ModuleBase::SAVE_MIN, {"0", "0", "0", "0", "0", "<HW DPF read file>"}},
        {ModuleBase::SAVE_MAX, {"1", "1", "1", "63", "255", "<HW DPF read file>"}},
    };
    const char *const tags[] = {"DPF_DETECT_ENABLE", "DPF_READ_MAP_ENABLE", "DPF_WRITE_MAP_ENABLE",
                                "DPF_THRESHOLD",     "DPF_WEIGHT",          "DPF_READ_MAP_FILE"};
    for (const auto &c : cases) {
        ParameterList l;
        dpf.save(l, c.kind);
        for (int i = 0; i < 6; i++)
            EXPECT_EQ(valuesOf(l, tags[i]), std::vector<std::string>{c.values[i]}) << tags[i];
    }
    ParameterList l;
    dpf.save(l, ModuleBase::SAVE_VAL);
    EXPECT_TRUE(valuesOf(l, "DPF_READ_MAP_FILE").empty());
    EXPECT_EQ(ModuleDPF::getGroup().header, "// Defective Pixels parameters");
}
