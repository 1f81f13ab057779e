// Parameters and parameter lists: construction, validity, look-ups, merging, groups, equality, output.
#include <gtest/gtest.h>

#include <sstream>

#include "ispc/Parameter.h"

using ISPC::Parameter;
using ISPC::ParameterGroup;
using ISPC::ParameterList;

namespace {

ParameterGroup group(const std::string &header, std::initializer_list<std::string> tags) {
    ParameterGroup g;
    g.header = header;
    g.parameters.insert(tags.begin(), tags.end());
    return g;
}

} // namespace

TEST(Parameter, EmptyValueAddsNothingButEmptyVectorEntryIsKept) {
    EXPECT_EQ(Parameter("X", "").size(), 0u);
    EXPECT_EQ(Parameter("X", std::vector<std::string>{""}).size(), 1u);
    EXPECT_EQ(Parameter("X", std::vector<std::string>{""}).getString(0, "d"), "");
}

TEST(Parameter, EmptyTagMakesAnInvalidParameter) {
    Parameter p("", "v");
    EXPECT_FALSE(p.isValid());
    EXPECT_EQ(p.size(), 0u);
    EXPECT_EQ(p.addValue("w"), QOR_RES_FAILED);
    EXPECT_EQ(p.getString(0, "d"), "");
    EXPECT_EQ(Parameter("", std::vector<std::string>{"a", "b"}).size(), 0u);

    ParameterList l;
    EXPECT_EQ(l.addParameter(p, false), QOR_RES_OK);
    EXPECT_TRUE(l.exists(""));
}

TEST(Parameter, AddValueAndGetString) {
    Parameter p("X", "a");
    EXPECT_EQ(p.addValue(""), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(p.addValue("b"), QOR_RES_OK);
    EXPECT_EQ(p.getValues(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(p.getString(1), "b");
    EXPECT_EQ(p.getString(2), "");
    EXPECT_EQ(p.getString(2, "d"), "d");
}

TEST(Parameter, EqualityIgnoresInfo) {
    Parameter a("X", std::vector<std::string>{"1", "2"});
    Parameter b("X", std::vector<std::string>{"1", "2"});
    b.setInfo("comment");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, Parameter("X", std::vector<std::string>{"1"}));
    EXPECT_NE(a, Parameter("Y", std::vector<std::string>{"1", "2"}));
    EXPECT_NE(a, Parameter("X", std::vector<std::string>{"2", "1"}));
}

TEST(Parameter, StreamOutputPutsABlankAfterEveryValue) {
    Parameter p("TAG", std::vector<std::string>{"1", "2"});
    p.setInfo("note");
    std::ostringstream os;
    os << p;
    EXPECT_EQ(os.str(), "TAG 1 2  // note\n");
    std::ostringstream plain;
    plain << Parameter("T", "v");
    EXPECT_EQ(plain.str(), "T v \n");
}

TEST(ParameterList, AddWithAndWithoutOverwrite) {
    ParameterList l;
    Parameter first("X", "1");
    first.setInfo("old");
    ASSERT_EQ(l.addParameter(first, false), QOR_RES_OK);
    EXPECT_EQ(l.addParameter(Parameter("X", "2"), false), QOR_RES_ALREADY);
    EXPECT_EQ(l.getParameter("X")->getString(0), "1");
    EXPECT_EQ(l.getParameter("X")->getInfo(), "old");
    EXPECT_EQ(l.addParameter(Parameter("X", "2"), true), QOR_RES_OK);
    EXPECT_EQ(l.getParameter("X")->getString(0), "2");
    EXPECT_EQ(l.getParameter("X")->getInfo(), "");
    EXPECT_EQ(l.size(), 1u);
}

TEST(ParameterList, LookUpsAreExactAndCaseSensitive) {
    ParameterList l;
    l.addParameter(Parameter("Tag", "1"));
    EXPECT_NE(l.getParameter("Tag"), nullptr);
    EXPECT_EQ(l.getParameter("TAG"), nullptr);
    EXPECT_EQ(l.getParameter("Tag "), nullptr);
    EXPECT_FALSE(l.exists("tag"));
}

TEST(ParameterList, RemoveResultsDifferForParametersAndGroups) {
    ParameterList l;
    l.addParameter(Parameter("X", "1"));
    EXPECT_EQ(l.removeParameter("Y"), QOR_RES_FAILED);
    EXPECT_EQ(l.removeParameter("X"), QOR_RES_OK);
    EXPECT_FALSE(l.exists("X"));
    EXPECT_EQ(l.removeGroup("G"), QOR_RES_INVALID_PARAM);
    ASSERT_EQ(l.addGroup("G", group("// g", {"X"})), QOR_RES_OK);
    EXPECT_EQ(l.removeGroup("G"), QOR_RES_OK);
    EXPECT_FALSE(l.hasGroup("G"));
}

TEST(ParameterList, GroupsRefuseEmptyAndDuplicateNames) {
    ParameterList l;
    EXPECT_EQ(l.addGroup("G", group("// h", {})), QOR_RES_ALREADY);
    EXPECT_FALSE(l.hasGroup("G"));
    ASSERT_EQ(l.addGroup("G", group("// first", {"A"})), QOR_RES_OK);
    EXPECT_EQ(l.addGroup("G", group("// second", {"B"})), QOR_RES_ALREADY);
    EXPECT_EQ(l.getGroup("G").header, "// first");
    EXPECT_TRUE(l.isInGroup("A"));
    EXPECT_FALSE(l.isInGroup("B"));
    EXPECT_TRUE(l.getGroup("none").header.empty());
    EXPECT_TRUE(l.getGroup("none").parameters.empty());
}

TEST(ParameterList, PlusEqualsTakesParametersNotGroupsOrValidity) {
    ParameterList left;
    left.addParameter(Parameter("A", "left"));
    left.addParameter(Parameter("B", "b"));
    left.addGroup("GL", group("// l", {"A"}));
    ParameterList right;
    right.addParameter(Parameter("A", "right"));
    right.addParameter(Parameter("C", "c"));
    right.addGroup("GR", group("// r", {"C"}));
    right.setValid(false);

    left += right;
    EXPECT_EQ(left.size(), 3u);
    EXPECT_EQ(left.getParameter("A")->getString(0), "right");
    EXPECT_TRUE(left.hasGroup("GL"));
    EXPECT_FALSE(left.hasGroup("GR"));
    EXPECT_TRUE(left.isValid());

    left += left;
    EXPECT_EQ(left.size(), 3u);
}

TEST(ParameterList, EqualityIgnoresCommentsGroupsAndValidity) {
    ParameterList a;
    ParameterList b;
    Parameter p("X", "1");
    a.addParameter(p);
    p.setInfo("c");
    b.addParameter(p);
    b.addGroup("G", group("// g", {"X"}));
    b.setValid(false);
    EXPECT_EQ(a, b);
    b.addParameter(Parameter("Y", "1"));
    EXPECT_NE(a, b);
}

TEST(ParameterList, GetParameterString) {
    ParameterList l;
    l.addParameter(Parameter("X", std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(l.getParameterString("X", 1, "d"), "b");
    EXPECT_EQ(l.getParameterString("X", 5, "d"), "d");
    EXPECT_EQ(l.getParameterString("X", -1, "d"), "d");
    EXPECT_EQ(l.getParameterString("Y", 0, "d"), "d");
}

TEST(ParameterList, IterationAndOutputFollowByteOrder) {
    ParameterList l;
    for (const char *t : {"b", "T_2", "T_10", "A"}) {
        l.addParameter(Parameter(t, "v"));
    }
    std::vector<std::string> order;
    for (const auto &e : l) {
        order.push_back(e.first);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"A", "T_10", "T_2", "b"}));
    std::ostringstream os;
    os << l;
    EXPECT_EQ(os.str(), "A v \nT_10 v \nT_2 v \nb v \n");
}
