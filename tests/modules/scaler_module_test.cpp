// The encoder and display scalers: the output size, offset and pitch each rectangle type and pitch
// gives, the automatic pitch, and the rectangles and texts they refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

/** What a set-up wrote, read from either block. */
struct Written {
    QOR_RESULT ret;
    unsigned w, h, offX, offY;
    double pitchX, pitchY;
    std::string log;
};

template <class Block> Written readBlock(const Block &b, QOR_RESULT ret, const std::string &log) {
    return {ret, b.aOutputSize[0], b.aOutputSize[1], b.aOffset[0], b.aOffset[1], b.aPitch[0], b.aPitch[1], log};
}

/** A 1920 x 1080 image (the imager interface's block already set up) and one scaler loaded from text. */
template <class M> struct ScalerRig {
    explicit ScalerRig(const std::string &text = "", unsigned cellsW = 960, unsigned cellsH = 540) {
        rig.mc().sIIF.ui16ImagerSize[0] = static_cast<QOR_UINT16>(cellsW);
        rig.mc().sIIF.ui16ImagerSize[1] = static_cast<QOR_UINT16>(cellsH);
        m = registered<M>(rig);
        EXPECT_EQ(m->load(listOf(text)), QOR_RES_OK) << text;
    }
    Written setup() {
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = m->setup(); });
        return block(ret, log);
    }
    Written block(QOR_RESULT ret, const std::string &log);
    TestRig rig;
    M *m;
};
template <> Written ScalerRig<ModuleESC>::block(QOR_RESULT ret, const std::string &log) {
    return readBlock(rig.mc().sESC, ret, log);
}
template <> Written ScalerRig<ModuleDSC>::block(QOR_RESULT ret, const std::string &log) {
    return readBlock(rig.mc().sDSC, ret, log);
}

int count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        n++;
    return n;
}

} // namespace

TEST(Scalers, OutputSizeOffsetAndPitchOfEachRectangle) {
    const struct {
        const char *text; // each line given to both scalers (the prefix is added)
        unsigned escW, escH, dscW, dscH, offX, offY;
        double pitch;
    } cases[] = {
        {"", 1920, 1080, 1920, 1080, 0, 0, 1.0},
        {"RECT_TYPE cliprect\n|RECT 100 50 1380 770\n|PITCH 2 2\n", 640, 360, 640, 360, 100, 50, 2.0},
        {"RECT 10 10 10 10\n|PITCH 1.5 1.5\n", 1266, 706, 1266, 706, 10, 10, 1.5},
        // The encoder's output is even in both directions, the display's in width only.
        {"RECT_TYPE cliprect\n|RECT 0 0 1919 1079\n", 1918, 1078, 1918, 1079, 0, 0, 1.0},
        {"RECT_TYPE outsize\n|RECT 0 0 641 481\n", 640, 480, 640, 481, 0, 0, 1.0},
        // A fixed pitch with an output size is taken as given.
        {"RECT_TYPE outsize\n|RECT 0 0 2000 1080\n", 2000, 1080, 2000, 1080, 0, 0, 1.0},
        {"RECT_TYPE cliprect\n|RECT 0 0 1920 1080\n|PITCH 16 16\n", 120, 66, 120, 67, 0, 0, 16.0},
    };
    for (const auto &c : cases) {
        std::string esc, dsc, line;
        for (const char *p = c.text; *p != '\0'; p++) {
            if (*p == '|') {
                continue;
            }
            line += *p;
            if (*p == '\n') {
                esc += "ESC_" + line;
                dsc += "DSC_" + line;
                line.clear();
            }
        }
        ScalerRig<ModuleESC> e(esc);
        ScalerRig<ModuleDSC> d(dsc);
        const Written we = e.setup(), wd = d.setup();
        ASSERT_EQ(we.ret, QOR_RES_OK) << c.text << we.log;
        ASSERT_EQ(wd.ret, QOR_RES_OK) << c.text << wd.log;
        EXPECT_EQ(we.log + wd.log, "") << c.text;
        EXPECT_EQ(we.w, c.escW) << c.text;
        EXPECT_EQ(we.h, c.escH) << c.text;
        EXPECT_EQ(wd.w, c.dscW) << c.text;
        EXPECT_EQ(wd.h, c.dscH) << c.text;
        for (const Written &w : {we, wd}) {
            EXPECT_EQ(w.offX, c.offX) << c.text;
            EXPECT_EQ(w.offY, c.offY) << c.text;
            EXPECT_EQ(w.pitchX, c.pitch) << c.text;
            EXPECT_EQ(w.pitchY, c.pitch) << c.text;
        }
        EXPECT_FALSE(e.rig.mc().sESC.bBypassESC);
        EXPECT_FALSE(d.rig.mc().sDSC.bBypassDSC);
        EXPECT_FALSE(e.rig.mc().sESC.bAdjustCutoff);
        EXPECT_TRUE(e.rig.mc().sESC.bChromaInter);
        EXPECT_TRUE(e.rig.mc().sESC.updateNeeded);
        EXPECT_TRUE(d.rig.mc().sDSC.updateNeeded);
        EXPECT_TRUE(e.m->isSetup());
    }
}

TEST(Scalers, AutomaticPitchFromTheOutputSize) {
    {
        ScalerRig<ModuleESC> e("ESC_PITCH 0 0\nESC_RECT 0 0 640 360\n");
        const Written w = e.setup();
        ASSERT_EQ(w.ret, QOR_RES_OK);
        EXPECT_EQ(count(w.log, "force rectangle type to be output sizes to compute the ESC pitch\n"), 1) << w.log;
        EXPECT_EQ(w.pitchX, 3.0);
        EXPECT_EQ(w.pitchY, 3.0);
        EXPECT_EQ(w.w, 640u);
        EXPECT_EQ(w.h, 360u);
        EXPECT_EQ(e.m->eRectType, SCALER_RECT_SIZE);
        ParameterList l;
        ASSERT_EQ(e.m->save(l, ModuleBase::SAVE_VAL), QOR_RES_OK);
        EXPECT_EQ(valuesOf(l, "ESC_RECT_TYPE"), std::vector<std::string>{"outsize"});
        EXPECT_EQ(valuesOf(l, "ESC_PITCH"), (std::vector<std::string>{"3", "3"}));
        EXPECT_EQ(valuesOf(l, "ESC_RECT"), (std::vector<std::string>{"0", "0", "640", "360"}));
        const Written again = e.setup(); // computed once, then kept
        EXPECT_EQ(again.log, "");
        EXPECT_EQ(again.w, 640u);
        EXPECT_EQ(again.pitchX, 3.0);
    }
    {
        ScalerRig<ModuleDSC> d("DSC_PITCH 0 0\n");
        const Written w = d.setup();
        ASSERT_EQ(w.ret, QOR_RES_OK);
        EXPECT_EQ(count(w.log, "forcing the DSC width to the imager's size\n"), 1) << w.log;
        EXPECT_EQ(count(w.log, "forcing the DSC height to the imager's size\n"), 1) << w.log;
        EXPECT_EQ(count(w.log, "force rectangle type"), 1) << w.log;
        EXPECT_EQ(d.m->aRect[2], 1920u);
        EXPECT_EQ(d.m->aRect[3], 1080u);
        EXPECT_EQ(w.pitchX, 1.0);
        EXPECT_EQ(w.w, 1920u);
        EXPECT_EQ(w.h, 1080u);
    }
    {
        ScalerRig<ModuleESC> e("ESC_PITCH 0 1\nESC_RECT_TYPE outsize\nESC_RECT 0 0 100 1080\n");
        const Written w = e.setup();
        ASSERT_EQ(w.ret, QOR_RES_OK);
        EXPECT_NE(w.log.find("computed H pitch 19.200000 too big, max 16.000000 forced instead\n"), std::string::npos)
            << w.log;
        EXPECT_EQ(w.pitchX, 16.0);
        EXPECT_EQ(w.w, 100u);
    }
}

// Windows that do not fit are refused and the previous block stays: an automatic pitch asked for an
// output larger than the image, a clip rectangle reaching outside the image or turned inside out, crop
// margins wider than the image.
TEST(Scalers, RectanglesOutsideTheImageAreRefused) {
    const char *cases[] = {
        "PITCH 0 1\n|RECT_TYPE outsize\n|RECT 0 0 2000 1080\n",
        "PITCH 1 0\n|RECT_TYPE outsize\n|RECT 0 0 1920 1200\n",
        "RECT_TYPE cliprect\n|RECT 1380 50 100 770\n",
        "RECT_TYPE cliprect\n|RECT 0 770 1920 50\n",
        "RECT_TYPE cliprect\n|RECT 0 0 1921 1080\n",
        "RECT_TYPE cliprect\n|RECT 0 0 1920 1081\n",
        "RECT 1000 0 1000 0\n",
        "RECT 0 600 0 600\n",
    };
    for (const char *c : cases) {
        std::string esc, dsc, line;
        for (const char *p = c; *p != '\0'; p++) {
            if (*p == '|')
                continue;
            line += *p;
            if (*p == '\n') {
                esc += "ESC_" + line;
                dsc += "DSC_" + line;
                line.clear();
            }
        }
        ScalerRig<ModuleESC> e(esc);
        ScalerRig<ModuleDSC> d(dsc);
        e.rig.mc().sESC.aOutputSize[0] = 77;
        e.rig.mc().sESC.updateNeeded = QOR_FALSE;
        d.rig.mc().sDSC.aOutputSize[0] = 77;
        const Written we = e.setup(), wd = d.setup();
        EXPECT_EQ(we.ret, QOR_RES_FAILED) << c;
        EXPECT_EQ(wd.ret, QOR_RES_FAILED) << c;
        EXPECT_NE(we.log, "") << c;
        EXPECT_EQ(we.w, 77u) << c;
        EXPECT_EQ(wd.w, 77u) << c;
        EXPECT_FALSE(e.rig.mc().sESC.updateNeeded) << c;
        EXPECT_FALSE(e.m->isSetup()) << c;
    }
    ScalerRig<ModuleESC> e("ESC_PITCH 0 1\nESC_RECT_TYPE outsize\nESC_RECT 0 0 2000 1080\n");
    EXPECT_NE(e.setup().log.find("the width 2000 to compute the ESC horizontal pitch from is bigger than the imager's "
                                 "width (1920)!\n"),
              std::string::npos);
}

TEST(Scalers, SetupNeedsTheImageSize) {
    for (unsigned zero = 0; zero < 2; zero++) {
        ScalerRig<ModuleESC> e("", zero == 0 ? 0 : 960, zero == 1 ? 0 : 540);
        ScalerRig<ModuleDSC> d("", zero == 0 ? 0 : 960, zero == 1 ? 0 : 540);
        e.rig.mc().sESC.aOutputSize[0] = 77;
        e.rig.mc().sESC.updateNeeded = QOR_FALSE;
        d.rig.mc().sDSC.updateNeeded = QOR_FALSE;
        const Written we = e.setup(), wd = d.setup();
        EXPECT_EQ(we.ret, QOR_RES_UNAVAILABLE);
        EXPECT_EQ(wd.ret, QOR_RES_UNAVAILABLE);
        EXPECT_NE(we.log.find("IIF should have been setup beforehand!\n"), std::string::npos);
        EXPECT_EQ(we.w, 77u);
        EXPECT_FALSE(e.rig.mc().sESC.updateNeeded);
        EXPECT_FALSE(d.rig.mc().sDSC.updateNeeded);
    }
}

TEST(Scalers, LoadTexts) {
    {
        ModuleESC e;
        std::string log = stderrOf([&] { EXPECT_EQ(e.load(listOf("ESC_RECT_TYPE OUTSIZE\n")), QOR_RES_FAILED); });
        EXPECT_NE(log.find("Invalid rectangle type: OUTSIZE\n"), std::string::npos) << log;
        EXPECT_EQ(e.eRectType, SCALER_RECT_CROP);
        e.aPitch[0] = 2.0;
        log = stderrOf([&] {
            EXPECT_EQ(e.load(listOf("ESC_CHROMA_MODE cosited\nESC_RECT_TYPE outsize\nESC_PITCH 3 3\n")),
                      QOR_RES_FAILED);
        });
        EXPECT_NE(log.find("Invalid chroma mode: cosited\n"), std::string::npos) << log;
        EXPECT_EQ(e.eRectType, SCALER_RECT_SIZE);
        EXPECT_EQ(e.aPitch[0], 2.0);
        EXPECT_TRUE(e.bChromaInterstitial);
        ASSERT_EQ(e.load(listOf("ESC_CHROMA_MODE co-sited\nESC_PITCH 0.5 20\n")), QOR_RES_OK);
        EXPECT_FALSE(e.bChromaInterstitial);
        EXPECT_EQ(e.aPitch[0], 0.5);
        EXPECT_EQ(e.aPitch[1], 16.0);
    }
    ModuleDSC d;
    const std::string log = stderrOf([&] { EXPECT_EQ(d.load(listOf("DSC_RECT_TYPE cliprec\n")), QOR_RES_FAILED); });
    EXPECT_NE(log.find("Inavalid rectangle type: cliprec\n"), std::string::npos) << log;
}

TEST(Scalers, SavedTexts) {
    ModuleESC e;
    ParameterList def;
    e.save(def, ModuleBase::SAVE_DEF);
    EXPECT_EQ(valuesOf(def, "ESC_RECT_TYPE"), std::vector<std::string>{"croprect"});
    EXPECT_EQ(infoOf(def, "ESC_RECT_TYPE"), "{cliprect, croprect, outsize}");
    EXPECT_EQ(infoOf(def, "ESC_CHROMA_MODE"), "{inter, co-sited}");
    e.eRectType = static_cast<ScalerRectType>(5);
    ParameterList val;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = e.save(val, ModuleBase::SAVE_VAL); });
    EXPECT_EQ(ret, QOR_RES_UNAVAILABLE);
    EXPECT_NE(log.find("Invalid rectangle type: 5\n"), std::string::npos);
    EXPECT_FALSE(val.exists("ESC_RECT"));
    ModuleDSC d;
    d.eRectType = static_cast<ScalerRectType>(5);
    ParameterList dval;
    EXPECT_EQ(d.save(dval, ModuleBase::SAVE_VAL), QOR_RES_OK);
    EXPECT_EQ(valuesOf(dval, "DSC_RECT_TYPE"), std::vector<std::string>{"croprect"});
}
