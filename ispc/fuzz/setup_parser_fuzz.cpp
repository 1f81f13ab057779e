// Fuzz target for the setup-file parser: any input must parse without fault into a list whose tags
// and values obey the format, and that list must survive a save and a second parse unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "ispc/Parameter.h"
#include "ispc/ParameterFileParser.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool holdsSeparator(const std::string &s) { return s.find_first_of(" \t\n\r") != std::string::npos; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);

    std::istringstream in(text);
    ISPC::ParameterList list;
    check(ISPC::ParameterFileParser::parse(in, list) == QOR_RES_OK);

    for (const auto &entry : list) {
        const ISPC::Parameter &p = entry.second;
        check(ISPC::ParameterFileParser::isValidTag(entry.first));
        check(p.getTag() == entry.first);
        check(p.size() > 0);
        for (const std::string &v : p) {
            check(!v.empty() && !holdsSeparator(v) && !ISPC::ParameterFileParser::isComment(v));
            check(v.find("//") == std::string::npos);
        }
        // The typed reads take any text.
        (void)list.getParameter<int>(entry.first, 0, -100, 100, 1);
        (void)list.getParameter<unsigned>(entry.first, 1, 0, 100, 1);
        (void)list.getParameter<short>(entry.first, 0, -100, 100, 1);
        (void)list.getParameter<double>(entry.first, 0, -1.0, 1.0, 0.5);
        (void)list.getParameter(entry.first, 0, true);
        (void)list.getParameter(entry.first, 0, std::string("NONE"));
    }

    std::ostringstream out;
    check(ISPC::ParameterFileParser::save(list, out) == QOR_RES_OK);
    std::istringstream back(out.str());
    ISPC::ParameterList again;
    check(ISPC::ParameterFileParser::parse(back, again) == QOR_RES_OK);
    check(again == list);

    (void)ISPC::ParameterFileParser::getTokens(text);
    return 0;
}
