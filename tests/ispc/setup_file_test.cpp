// ISP setup files: the reading rules as a table of inputs, file and stream failures, the two writers
// against golden files, and the save/parse round trip.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>
#include <unistd.h>

#include "ispc/ParameterFileParser.h"
#include "support/hostile_files.h"

using ISPC::Parameter;
using ISPC::ParameterFileParser;
using ISPC::ParameterGroup;
using ISPC::ParameterList;

namespace {

typedef std::vector<std::pair<std::string, std::vector<std::string>>> Entries;

Entries entriesOf(const ParameterList &l) {
    Entries e;
    for (const auto &p : l) {
        e.emplace_back(p.first, p.second.getValues());
    }
    return e;
}

ParameterList parseText(const std::string &text) {
    std::istringstream is(text);
    ParameterList l;
    EXPECT_EQ(ParameterFileParser::parse(is, l), QOR_RES_OK) << text;
    return l;
}

std::string readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string dataFile(const std::string &name) { return std::string(NORVA_ISPC_TEST_DIR) + "/data/" + name; }

/** A temporary directory removed with its files at the end of the test. */
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/norva_ispc_XXXXXX";
        path_ = mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
    }
    ~TempDir() {
        for (const std::string &f : files_)
            std::remove(f.c_str());
        rmdir(path_.c_str());
    }
    std::string file(const std::string &name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

/** Serves its text, then fails the read as a device error would. */
class FailingBuf : public std::streambuf {
public:
    explicit FailingBuf(const std::string &text) : text_(text) { setg(&text_[0], &text_[0], &text_[0] + text_.size()); }

protected:
    int_type underflow() override { throw std::ios_base::failure("read error"); }

private:
    std::string text_;
};

} // namespace

TEST(SetupFileParse, ReadingRulesTable) {
    const struct {
        const char *what;
        std::string text;
        Entries expected;
    } cases[] = {
        {"empty input", "", {}},
        {"plain line", "TAG 1 2 3\n", {{"TAG", {"1", "2", "3"}}}},
        {"tabs and CRLF", "TAG\t1\t2\t3\r\n", {{"TAG", {"1", "2", "3"}}}},
        {"last line without line feed", "A 1", {{"A", {"1"}}}},
        {"leading blanks", "   A 1\n", {{"A", {"1"}}}},
        {"carriage return inside a line separates", "A 1\r2\n", {{"A", {"1", "2"}}}},
        {"blank and empty lines", "\n   \n\t\r\n", {}},
        {"slash comment line", "// A 1\n", {}},
        {"hash comment line", "# A 1\n", {}},
        {"trailing slash comment", "A 1 2 // note\n", {{"A", {"1", "2"}}}},
        {"trailing hash comment", "A 1 # note\n", {{"A", {"1"}}}},
        {"comment glued to a value", "A 1//c\n", {{"A", {"1"}}}},
        {"hash inside a value cuts it", "A a#b c\n", {{"A", {"a"}}}},
        {"hash inside a value before //", "A a#b c // x\n", {{"A", {"a#b", "c"}}}},
        {"value beginning with hash ends the values", "A 1 #2 3 // x\n", {{"A", {"1"}}}},
        {"double slash in a path", "A dir//file\n", {{"A", {"dir"}}}},
        {"tag alone", "A\n", {}},
        {"tag and comment only", "A // c\n", {}},
        {"tag beginning with a digit", "1A 3\n", {}},
        {"tag beginning with an underscore", "_A 3\n", {}},
        {"tag with an equals sign", "A=3 4\n", {}},
        {"equals sign as a value", "A = 3\n", {{"A", {"=", "3"}}}},
        {"tag with dash and underscore", "A-B_1 1\n", {{"A-B_1", {"1"}}}},
        {"tag with a non-ASCII letter", "A\xC3\x84 1\n\xC3\x84 2\n", {}},
        {"tag with a high byte",
         "\xFF"
         "A 1\n",
         {}},
        {"duplicate tag replaces", "A 1 2\nA 3\n", {{"A", {"3"}}}},
        {"tags are case-sensitive", "a 1\nA 2\n", {{"A", {"2"}}, {"a", {"1"}}}},
        {"UTF-8 byte-order mark",
         "\xEF\xBB\xBF"
         "A 1\nB 2\n",
         {{"A", {"1"}}, {"B", {"2"}}}},
        {"byte-order mark only at the start",
         "A 1\n\xEF\xBB\xBF"
         "B 2\n",
         {{"A", {"1"}}}},
        {"NUL byte inside a value", std::string("A x\0y\n", 6), {{"A", {std::string("x\0y", 3)}}}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(entriesOf(parseText(c.text)), c.expected) << c.what;
    }
}

TEST(SetupFileParse, ParseReplacesTagsAlreadyInTheList) {
    ParameterList l;
    l.addParameter(Parameter("A", "old"));
    l.addParameter(Parameter("KEEP", "k"));
    std::istringstream is("A new\n");
    ASSERT_EQ(ParameterFileParser::parse(is, l), QOR_RES_OK);
    EXPECT_EQ(entriesOf(l), (Entries{{"A", {"new"}}, {"KEEP", {"k"}}}));
    EXPECT_TRUE(l.getParameter("A")->getInfo().empty());
}

TEST(SetupFileParse, TokensCarryTheCommentLast) {
    EXPECT_EQ(ParameterFileParser::getTokens("A 1 // c d"), (std::vector<std::string>{"A", "1", "// c d"}));
    EXPECT_EQ(ParameterFileParser::getTokens("A a#b"), (std::vector<std::string>{"A", "a", "#b"}));
    EXPECT_EQ(ParameterFileParser::getTokens(" \t"), std::vector<std::string>{});
    EXPECT_TRUE(ParameterFileParser::isComment("#x"));
    EXPECT_TRUE(ParameterFileParser::isComment("//"));
    EXPECT_FALSE(ParameterFileParser::isComment("/x"));
    EXPECT_FALSE(ParameterFileParser::isValidTag(""));
    EXPECT_TRUE(ParameterFileParser::isValidTag("z9-_"));
}

TEST(SetupFileParse, StreamFailingHalfWayKeepsWhatWasReadAndReportsIt) {
    FailingBuf buf("A 1\nB 2\nC 3");
    std::istream is(&buf);
    ParameterList l;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParameterFileParser::parse(is, l), QOR_RES_IO_FAILED);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ISPC_FILEPARSER"), std::string::npos) << log;
    // The last line had no line feed when the stream broke, so it is not taken.
    EXPECT_EQ(entriesOf(l), (Entries{{"A", {"1"}}, {"B", {"2"}}}));
}

TEST(SetupFileParse, Files) {
    TempDir dir;
    const std::string empty = dir.file("empty.txt");
    std::ofstream(empty).close();
    const std::string some = dir.file("some.txt");
    std::ofstream(some) << "A 1\r\nB 2 3\n";

    ParameterList l = ParameterFileParser::parseFile(empty);
    EXPECT_TRUE(l.isValid());
    EXPECT_EQ(l.size(), 0u);

    l = ParameterFileParser::parseFile(some);
    EXPECT_TRUE(l.isValid());
    EXPECT_EQ(entriesOf(l), (Entries{{"A", {"1"}}, {"B", {"2", "3"}}}));

    // What cannot be opened, is not a regular file or is far larger than any setup file is refused at once as a
    // file that does not open: a FIFO would block, /dev/zero would be read without end.
    const norva_test::HostileFiles hostile;
    std::vector<std::string> refused = {dir.path() + "/missing.txt"};
    for (const auto &h : hostile.entries()) {
        refused.push_back(h.path);
    }
    const std::string huge = dir.file("huge.txt");
    std::ofstream(huge).close();
    ASSERT_EQ(truncate(huge.c_str(), (16 << 20) + 1), 0); // sparse: takes no room
    refused.push_back(huge);
    for (const std::string &bad : refused) {
        ASSERT_TRUE(norva_test::ReturnsTrueWithin(10, [&] { return !ParameterFileParser::parseFile(bad).isValid(); }))
            << bad;
        testing::internal::CaptureStderr();
        l = ParameterFileParser::parseFile(bad);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(l.isValid()) << bad;
        EXPECT_EQ(l.size(), 0u) << bad;
        EXPECT_NE(log.find("Failed to open file: " + bad + "\n"), std::string::npos) << log;
    }
}

namespace {

// The black-level group of the setup files, with its defaults, and one parameter outside it.
ParameterList blcList() {
    ParameterList l;
    Parameter sensor("BLC_SENSOR_BLACK", std::vector<std::string>{"127", "127", "127", "127"});
    sensor.setInfo("int[4] range=[-128,127]");
    Parameter sys("BLC_SYS_BLACK", "64");
    sys.setInfo("int range=[0,32767]");
    l.addParameter(sensor);
    l.addParameter(sys);
    l.addParameter(Parameter("OUT_ENC", "NV12"));
    l.addParameter(Parameter("EMPTY", ""));
    l.addParameter(Parameter("HASH", "a#b"));
    ParameterGroup g;
    g.header = "// Black Level Correction parameters";
    g.parameters = {"BLC_SENSOR_BLACK", "BLC_SYS_BLACK", "BLC_MISSING"};
    l.addGroup("ModuleBLC", g);
    return l;
}

} // namespace

TEST(SetupFileWrite, PlainMatchesGoldenAndWarnsAboutEmptyParameters) {
    std::ostringstream os;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParameterFileParser::save(blcList(), os), QOR_RES_OK);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(os.str(), readFile(dataFile("plain_golden.txt")));
    EXPECT_NE(log.find("Failed to save parameter 'EMPTY' which has 0 values\n"), std::string::npos) << log;
}

TEST(SetupFileWrite, GroupedMatchesGolden) {
    std::ostringstream os;
    EXPECT_EQ(ParameterFileParser::saveGrouped(blcList(), os, true), QOR_RES_OK);
    EXPECT_EQ(os.str(), readFile(dataFile("grouped_golden.txt")));

    std::ostringstream groupsOnly;
    ParameterFileParser::saveGrouped(blcList(), groupsOnly, false);
    EXPECT_EQ(groupsOnly.str(), "// Black Level Correction parameters\n"
                                "BLC_SENSOR_BLACK 127 127 127 127 // int[4] range=[-128,127]\n"
                                "BLC_SYS_BLACK 64 // int range=[0,32767]\n\n");
}

TEST(SetupFileWrite, GroupedEdgeCases) {
    ParameterList l;
    l.addParameter(Parameter("BARE", ""));
    ParameterGroup g;
    g.parameters = {"BARE"};
    l.addGroup("G", g);
    std::ostringstream os;
    ParameterFileParser::saveGrouped(l, os, true);
    // Empty header, a member without value as its tag alone, no ungrouped parameter: one more empty line.
    EXPECT_EQ(os.str(), "\nBARE\n\n\n");
}

TEST(SetupFileWrite, LineBreaksCannotReachTheFile) {
    ParameterList l;
    l.addParameter(Parameter("A", std::vector<std::string>{"1\nINJECTED 2"}));
    Parameter b("B", "1");
    b.setInfo("two\nlines");
    l.addParameter(b);
    std::ostringstream os;
    testing::internal::CaptureStderr();
    ParameterFileParser::save(l, os);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(os.str(), "B 1 // two lines\n");
}

TEST(SetupFileWrite, FileForms) {
    TempDir dir;
    const std::string out = dir.file("out.txt");
    ASSERT_EQ(ParameterFileParser::saveGrouped(blcList(), out, true), QOR_RES_OK);
    EXPECT_EQ(readFile(out), readFile(dataFile("grouped_golden.txt")));
    testing::internal::CaptureStderr();
    ASSERT_EQ(ParameterFileParser::save(blcList(), out), QOR_RES_OK); // truncates
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(out), readFile(dataFile("plain_golden.txt")));

    EXPECT_EQ(ParameterFileParser::save(blcList(), dir.path() + "/no/such/dir"), QOR_RES_FAILED);
    EXPECT_EQ(ParameterFileParser::saveGrouped(blcList(), dir.path() + "/no/such/dir", true), QOR_RES_FAILED);
    if (access("/dev/full", W_OK) == 0) {
        ParameterList big;
        for (int i = 0; i < 2000; i++)
            big.addParameter(Parameter("P" + std::to_string(i), "value"));
        testing::internal::CaptureStderr();
        EXPECT_EQ(ParameterFileParser::save(big, "/dev/full"), QOR_RES_IO_FAILED);
        testing::internal::GetCapturedStderr();
    }
}

// Saving neither waits on a FIFO that nobody reads nor writes into a directory: both fail at once. A device takes
// what is written, as /dev/null does.
TEST(SetupFileWrite, WhatIsNotAFileIsRefusedAtOnce) {
    const norva_test::HostileFiles hostile;
    for (const auto &h : hostile.entries()) {
        if (h.kind == norva_test::HostileFiles::ENDLESS_DEVICE)
            continue;
        EXPECT_TRUE(norva_test::ReturnsTrueWithin(10, [&] {
            return ParameterFileParser::save(blcList(), h.path) == QOR_RES_FAILED &&
                   ParameterFileParser::saveGrouped(blcList(), h.path, true) == QOR_RES_FAILED;
        })) << h.what;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParameterFileParser::save(blcList(), "/dev/null"), QOR_RES_OK);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ParameterFileParser::saveGrouped(blcList(), "/dev/null", true), QOR_RES_OK);
}

TEST(SetupFileRoundTrip, ParseOfSaveGivesTheList) {
    std::mt19937 rng(42);
    const std::string tagFirst = "ABCXYZabcxyz";
    const std::string tagRest = "ABZaz09_-";
    const std::string valueChars = "0123456789abcXYZ.-+_#/=,;:!?()[]{}\"'";
    for (int round = 0; round < 200; round++) {
        ParameterList l;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; i++) {
            std::string tag(1, tagFirst[rng() % tagFirst.size()]);
            for (unsigned k = rng() % 6; k > 0; k--)
                tag += tagRest[rng() % tagRest.size()];
            std::vector<std::string> values;
            for (unsigned v = 1 + rng() % 4; v > 0; v--) {
                std::string value;
                for (unsigned k = 1 + rng() % 6; k > 0; k--)
                    value += valueChars[rng() % valueChars.size()];
                // The format cannot carry a value that begins with "#" or holds "//".
                if (value[0] == '#' || value.find("//") != std::string::npos)
                    value = "x" + std::to_string(round);
                values.push_back(value);
            }
            Parameter p(tag, values);
            if (rng() % 2)
                p.setInfo("comment " + std::to_string(i));
            l.addParameter(p, true);
        }
        for (bool grouped : {false, true}) {
            std::ostringstream os;
            if (grouped) {
                ParameterGroup g;
                g.header = "// group";
                g.parameters = {l.size() ? l.begin()->first : "NONE"};
                l.addGroup("G", g);
                ParameterFileParser::saveGrouped(l, os, true);
            } else {
                ParameterFileParser::save(l, os);
            }
            const ParameterList back = parseText(os.str());
            EXPECT_EQ(back, l) << os.str();
            for (const auto &p : back)
                EXPECT_TRUE(p.second.getInfo().empty());
            EXPECT_EQ(back.groupsBegin(), back.groupsEnd());
        }
    }
}
