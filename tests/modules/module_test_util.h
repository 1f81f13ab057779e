#ifndef NORVA_TESTS_MODULES_MODULE_TEST_UTIL_H
#define NORVA_TESTS_MODULES_MODULE_TEST_UTIL_H

// Small helpers of the setup-module tests: parameter lists from setup-file text, saved values, the
// log of a call, and modules registered with a test rig's pipeline.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ispc/ParameterFileParser.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"

namespace norva_test {

inline ISPC::ParameterList listOf(const std::string &text) {
    std::istringstream is(text);
    ISPC::ParameterList l;
    ISPC::ParameterFileParser::parse(is, l);
    return l;
}

inline std::vector<std::string> valuesOf(const ISPC::ParameterList &l, const std::string &tag) {
    const ISPC::Parameter *p = l.getParameter(tag);
    return p != nullptr ? p->getValues() : std::vector<std::string>();
}

inline std::string infoOf(const ISPC::ParameterList &l, const std::string &tag) {
    const ISPC::Parameter *p = l.getParameter(tag);
    return p != nullptr ? p->getInfo() : std::string("<absent>");
}

/** Registers a new module of type M with the rig's pipeline and returns it (the pipeline owns it). */
template <class M> M *registered(TestRig &rig) {
    M *m = new M();
    EXPECT_EQ(rig.pipeline->registerModule(m), QOR_RES_OK);
    return m;
}

} // namespace norva_test

#endif
