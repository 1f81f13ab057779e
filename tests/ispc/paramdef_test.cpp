// Parameter definitions: typed reads, conversions, range texts and the definition-based writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>

#include "ispc/Parameter.h"

using namespace ISPC;

namespace {

const char *const ABSENT = nullptr;

struct ReadCase {
    const char *what;
    const char *text; // ABSENT: no such tag; "": the tag without a value
    std::function<std::string(const ParameterList &)> read;
    std::string expected;
};

template <typename T> std::function<std::string(const ParameterList &)> num(T mn, T mx, T def, int n = 0) {
    return [=](const ParameterList &l) { return toString(l.getParameter<T>("TAG", n, mn, mx, def)); };
}

std::function<std::string(const ParameterList &)> flag(bool def) {
    return [=](const ParameterList &l) { return toString(l.getParameter("TAG", 0, def)); };
}

std::function<std::string(const ParameterList &)> word(const std::string &def) {
    return [=](const ParameterList &l) { return l.getParameter("TAG", 0, def); };
}

} // namespace

TEST(ParamDefReads, EveryTypeAsATable) {
    const ReadCase cases[] = {
        {"int in range", "42", num<int>(0, 255, 7), "42"},
        {"int above", "300", num<int>(0, 255, 7), "255"},
        {"int below", "-5", num<int>(0, 255, 7), "0"},
        {"int sign", "+12", num<int>(0, 255, 7), "12"},
        {"int letters", "abc", num<int>(0, 255, 7), "7"},
        {"int trailing letters", "12abc", num<int>(0, 255, 7), "7"},
        {"int decimal point", "1.0", num<int>(0, 255, 7), "7"},
        {"int exponent", "1e2", num<int>(0, 255, 7), "7"},
        {"int hexadecimal", "0x10", num<int>(0, 255, 7), "7"},
        {"int leading blank", " 5", num<int>(0, 255, 7), "7"},
        {"int trailing blank", "5 ", num<int>(0, 255, 7), "7"},
        {"int overflow", "2147483648", num<int>(0, 255, 7), "7"},
        {"int lowest", "-2147483648", num<int>(-10, 10, 7), "-10"},
        {"int absent", ABSENT, num<int>(0, 255, 7), "7"},
        {"int no value", "", num<int>(0, 255, 7), "7"},
        {"int index beyond values", "1", num<int>(0, 255, 7, 3), "7"},
        {"int negative index", "1", num<int>(0, 255, 7, -1), "7"},
        {"int min above max", "5", num<int>(10, 0, 7), "0"},
        {"unsigned minus one", "-1", num<unsigned>(0, 100, 5), "100"},
        {"unsigned overflow", "4294967296", num<unsigned>(0, 100, 5), "5"},
        {"unsigned plain", "42", num<unsigned>(0, 100, 5), "42"},
        {"unsigned hexadecimal", "0xff", num<unsigned>(0, 1000, 5), "5"},
        {"short beyond range", "40000", num<short>(-100, 100, 3), "3"},
        {"short lowest", "-32768", num<short>(-100, 100, 3), "-100"},
        {"short plain", "50", num<short>(-100, 100, 3), "50"},
        {"float plain", "0.25", num<float>(0.f, 1.f, .5f), "0.25"},
        {"float exponent", "1e-1", num<float>(0.f, 1.f, .5f), "0.1"},
        {"float above", "2", num<float>(0.f, 1.f, .5f), "1"},
        {"float one point zero", "1.0", num<float>(0.f, 2.f, .5f), "1"},
        {"float letters", "abc", num<float>(0.f, 1.f, .5f), "0.5"},
        {"float not a number", "nan", num<float>(0.f, 1.f, .5f), "0.5"},
        {"double exponent clamped", "1e3", num<double>(-10, 10, 1), "10"},
        {"double negative", "-2.5", num<double>(-10, 10, 1), "-2.5"},
        {"double trailing letter", "1.5x", num<double>(-10, 10, 1), "1"},
        {"double hexadecimal", "0x1p3", num<double>(-10, 10, 1), "1"},
        {"double no value", "", num<double>(-10, 10, 1), "1"},
        {"bool two", "2", flag(false), "1"},
        {"bool minus one", "-1", flag(false), "1"},
        {"bool zero", "0", flag(true), "0"},
        {"bool word true, default false", "true", flag(false), "0"},
        {"bool word true, default true", "true", flag(true), "1"},
        {"bool word yes", "yes", flag(false), "0"},
        {"bool one point zero", "1.0", flag(false), "0"},
        {"bool one point zero, default true", "1.0", flag(true), "1"},
        {"bool blank before", " 0", flag(true), "1"},
        {"bool absent", ABSENT, flag(true), "1"},
        {"bool no value", "", flag(true), "1"},
        {"string word", "NV12", word("NONE"), "NV12"},
        {"string absent", ABSENT, word("NONE"), "NONE"},
        {"string no value", "", word("NONE"), "NONE"},
        {"string with blank", "a b", word("NONE"), "NONE"},
    };
    for (const ReadCase &c : cases) {
        ParameterList l;
        if (c.text != ABSENT) {
            l.addParameter(Parameter("TAG", c.text));
        }
        EXPECT_EQ(c.read(l), c.expected) << c.what;
    }
}

TEST(ParamDefReads, EmptyValueHeldInMemoryReadsTheDefault) {
    ParameterList l;
    l.addParameter(Parameter("TAG", std::vector<std::string>{""}));
    EXPECT_EQ(l.getParameter<int>("TAG", 0, 0, 10, 4), 4);
    EXPECT_TRUE(l.getParameter("TAG", 0, true));
    EXPECT_EQ(l.getParameter("TAG", 0, "d"), "d");
}

TEST(ParamDefReads, ParameterLevelBooleanReportsSuccess) {
    Parameter p("X", std::vector<std::string>{"3", "x"});
    bool ok = false;
    EXPECT_TRUE(p.get(0, ok));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(p.get(1, ok));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(p.get(2, ok));
    EXPECT_FALSE(ok);
}

TEST(ParamDefReads, ArraysFallBackPerElement) {
    const int defs[4] = {1, 2, 3, 4};
    const ParamDefArray<int> four("ARR", -50, 50, defs, 4);
    const ParamDefArray<int> two("ARR", -50, 50, defs, 2);
    const ParamDefArray<int> none("ARR", -50, 50, nullptr, 0);
    ParameterList l;
    l.addParameter(Parameter("ARR", std::vector<std::string>{"10", "99"}));
    EXPECT_EQ(l.getParameter(four, 0), 10);
    EXPECT_EQ(l.getParameter(four, 1), 50);
    EXPECT_EQ(l.getParameter(four, 2), 3);
    EXPECT_EQ(l.getParameter(four, 3), 4);
    EXPECT_EQ(l.getParameter(two, 3), 2);
    EXPECT_EQ(l.getParameter(none, 3), 0);
    EXPECT_EQ(ParameterList().getParameter(two, 2), 1);
}

TEST(ParamDefReads, DefinitionReadsUseNameRangeAndDefault) {
    const ParamDef<int> def("D", 0, 10, 4);
    const ParamDefSingle<bool> on("B", true);
    const ParamDefSingle<std::string> text("S", "NONE");
    ParameterList l;
    l.addParameter(Parameter("D", "20"));
    l.addParameter(Parameter("B", "x"));
    l.addParameter(Parameter("S", "RGB888_32"));
    EXPECT_EQ(l.getParameter(def), 10);
    EXPECT_TRUE(l.getParameter(on));
    EXPECT_EQ(l.getParameter(text), "RGB888_32");
    EXPECT_EQ(ParameterList().getParameter(def), 4);
}

TEST(ParamDefConversions, ToStringTable) {
    EXPECT_EQ(toString(0.075), "0.075");
    EXPECT_EQ(toString(100000.0), "100000");
    EXPECT_EQ(toString(1234567.0), "1.23457e+06");
    EXPECT_EQ(toString(0.0001), "0.0001");
    EXPECT_EQ(toString(0.00001), "1e-05");
    EXPECT_EQ(toString(0.1f), "0.1");
    EXPECT_EQ(toString(-5), "-5");
    EXPECT_EQ(toString(4294967295u), "4294967295");
    EXPECT_EQ(toString(static_cast<short>(-7)), "-7");
    EXPECT_EQ(toString(static_cast<unsigned short>(65535)), "65535");
    EXPECT_EQ(toString(static_cast<char>(200)), "200");
    EXPECT_EQ(toString(static_cast<unsigned char>(5)), "1");
    EXPECT_EQ(toString(true), "1");
    EXPECT_EQ(toString(std::string("a b")), "a b");
}

TEST(ParamDefConversions, FlagAndCharParse) {
    bool ok = false;
    EXPECT_EQ(parse<unsigned char>("7", ok), 1);
    EXPECT_TRUE(ok);
    EXPECT_EQ(parse<unsigned char>("0", ok), 0);
    EXPECT_EQ(parse<char>("65", ok), 'A');
    EXPECT_EQ(parse<std::string>("one", ok), "one");
    EXPECT_TRUE(ok);
    parse<std::string>("", ok);
    EXPECT_FALSE(ok);
}

TEST(ParamDefConversions, DoubleToStringMatchesPercentG) {
    std::mt19937_64 rng(20261210);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    char expected[64];
    int mismatches = 0;
    for (int i = 0; i < 100000; i++) {
        double v;
        if (i % 2 == 0) {
            const uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof(v)); // any bit pattern: subnormals, infinities, NaNs
        } else {
            v = mantissa(rng) * std::pow(10.0, exponent(rng));
        }
        std::snprintf(expected, sizeof(expected), "%g", v);
        if (toString(v) != expected && ++mismatches <= 5) {
            ADD_FAILURE() << "value " << expected << " written as " << toString(v);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ParamDefInfo, RangeTexts) {
    const int d4[4] = {127, 127, 127, 127};
    const short s2[2] = {0, 0};
    const unsigned u1[1] = {0};
    const float f1[1] = {0};
    const double g1[1] = {0};
    EXPECT_EQ(getParameterInfo(ParamDef<int>("I", -128, 127, 0)), "int range=[-128,127]");
    EXPECT_EQ(getParameterInfo(ParamDef<short>("S", -5, 5, 0)), "int range=[-5,5]");
    EXPECT_EQ(getParameterInfo(ParamDef<unsigned>("U", 0, 4294967295u, 0)), "unsigned range=[0,4294967295]");
    EXPECT_EQ(getParameterInfo(ParamDef<float>("F", 0.5f, 1.5f, 1)), "float range=[0.5,1.5]");
    EXPECT_EQ(getParameterInfo(ParamDef<double>("D", -1e7, 1e-5, 0)), "double range=[-1e+07,1e-05]");
    EXPECT_EQ(getParameterInfo(ParamDefArray<int>("A", -128, 127, d4, 4)), "int[4] range=[-128,127]");
    EXPECT_EQ(getParameterInfo(ParamDefArray<short>("A", -1, 1, s2, 2)), "int[2] range=[-1,1]");
    EXPECT_EQ(getParameterInfo(ParamDefArray<unsigned>("A", 0, 9, u1, 1)), "unsigned[1] range=[0,9]");
    EXPECT_EQ(getParameterInfo(ParamDefArray<float>("A", 0, 2.5f, f1, 1)), "float[1] range=[0,2.5]");
    EXPECT_EQ(getParameterInfo(ParamDefArray<double>("A", 0, 1234567, g1, 1)), "double[1] range=[0,1.23457e+06]");
    EXPECT_EQ(getParameterInfo(ParamDefSingle<bool>("B", false)), "bool {0,1}");
    EXPECT_EQ(getParameterInfo(ParamDefSingle<std::string>("S", "x")), "string");
}

TEST(ParamDefWrites, MinMaxDefOfEveryKind) {
    const int d2[2] = {3, 4};
    const ParamDef<double> scalar("SCALAR", 0.5, 2.0, 1.25);
    const ParamDefArray<int> array("ARRAY", -1, 9, d2, 2);
    const ParamDefSingle<bool> flag("FLAG", true);
    const ParamDefSingle<std::string> text("TEXT", "NONE");
    struct Row {
        std::function<QOR_RESULT(ParameterList &)> write;
        std::vector<std::string> values;
        std::string info;
    } rows[] = {
        {[&](ParameterList &l) { return l.addParameterMin(scalar); }, {"0.5"}, ""},
        {[&](ParameterList &l) { return l.addParameterMax(scalar); }, {"2"}, ""},
        {[&](ParameterList &l) { return l.addParameterDef(scalar); }, {"1.25"}, "double range=[0.5,2]"},
        {[&](ParameterList &l) { return l.addParameter(scalar, 1.0 / 3.0); }, {"0.333333"}, ""},
        {[&](ParameterList &l) { return l.addParameterMin(array); }, {"-1", "-1"}, ""},
        {[&](ParameterList &l) { return l.addParameterMax(array); }, {"9", "9"}, ""},
        {[&](ParameterList &l) { return l.addParameterDef(array); }, {"3", "4"}, "int[2] range=[-1,9]"},
        {[&](ParameterList &l) {
             return l.addParameter(array, std::vector<std::string>{"1", "2", "3"});
         },
         {"1", "2", "3"},
         ""},
        {[&](ParameterList &l) { return l.addParameterMin(flag); }, {"0"}, ""},
        {[&](ParameterList &l) { return l.addParameterMax(flag); }, {"1"}, ""},
        {[&](ParameterList &l) { return l.addParameterDef(flag); }, {"1"}, "bool {0,1}"},
        {[&](ParameterList &l) { return l.addParameter(flag, false); }, {"0"}, ""},
        {[&](ParameterList &l) { return l.addParameterMin(text); }, {"NONE"}, "string"},
        {[&](ParameterList &l) { return l.addParameterMax(text); }, {"NONE"}, "string"},
        {[&](ParameterList &l) { return l.addParameterDef(text); }, {"NONE"}, "string"},
        {[&](ParameterList &l) { return l.addParameter(text, std::string("NV21")); }, {"NV21"}, ""},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
        ParameterList l;
        ASSERT_EQ(rows[i].write(l), QOR_RES_OK) << "row " << i;
        ASSERT_EQ(l.size(), 1u) << "row " << i;
        const Parameter &p = l.begin()->second;
        EXPECT_EQ(p.getValues(), rows[i].values) << "row " << i;
        EXPECT_EQ(p.getInfo(), rows[i].info) << "row " << i;
        EXPECT_EQ(rows[i].write(l), QOR_RES_ALREADY) << "row " << i;
    }
}

TEST(ParamDefWrites, EmptyDefaultsWriteNoValues) {
    ParameterList l;
    EXPECT_EQ(l.addParameterDef(ParamDefArray<int>("NONE", 0, 1, nullptr, 0)), QOR_RES_OK);
    EXPECT_EQ(l.size(), 0u);
    l.addParameterDef(ParamDefSingle<std::string>("EMPTY", ""));
    ASSERT_NE(l.getParameter("EMPTY"), nullptr);
    EXPECT_EQ(l.getParameter("EMPTY")->size(), 0u);
}

TEST(ParamDefIndexed, CopiesRangeAndOwnsItsDefaults) {
    const int d2[2] = {5, 6};
    const ParamDef<int> x("X", 1, 9, 4);
    const ParamDef<int> x3 = x.indexed(3);
    EXPECT_EQ(x3.name, "X_3");
    EXPECT_EQ(x3.min, 1);
    EXPECT_EQ(x3.max, 9);
    EXPECT_EQ(x3.def, 4);
    ParamDefArray<int> a3 = ParamDefArray<int>("A", 0, 9, d2, 2).indexed(12);
    EXPECT_EQ(a3.name, "A_12");
    ASSERT_EQ(a3.n, 2u);
    EXPECT_EQ(a3.def[1], 6);
    ParamDefArray<int> copy = a3;
    copy.def[1] = 0;
    EXPECT_EQ(a3.def[1], 6);
    EXPECT_EQ(ParamDefSingle<bool>("B", true).indexed(0).name, "B_0");
}
