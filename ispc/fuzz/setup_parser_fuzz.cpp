// Fuzz target for the setup-file parser: any input must parse without fault into a list whose tags
// and values obey the format, and that list must survive a save and a second parse unchanged. The input is also
// read as a file (parseFile) and the list written to files by both writers (save, saveGrouped) and read back:
// files live in memory (memfd), reached by their /proc path since the parser opens files by name.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "norvacommon/userlog.h"

#include "ispc/Parameter.h"
#include "ispc/ParameterFileParser.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool holdsSeparator(const std::string &s) { return s.find_first_of(" \t\n\r") != std::string::npos; }

/** An in-memory file opened once for the whole run, by its path; the descriptor stays in `fd`. */
struct MemFile {
    int fd = -1;
    std::string path;
    explicit MemFile(const char *name) {
        fd = memfd_create(name, MFD_CLOEXEC);
        check(fd >= 0);
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    void fill(const uint8_t *data, size_t size) const {
        check(ftruncate(fd, 0) == 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            check(n > 0);
            done += static_cast<size_t>(n);
        }
    }
};

const MemFile &inputFile() {
    static const MemFile file("setup_fuzz_input");
    return file;
}

const MemFile &outputFile() {
    static const MemFile file("setup_fuzz_output");
    return file;
}

/** The list read back from a file, as the stream parse reads it. */
void checkFileRoundTrip(const ISPC::ParameterList &expected) {
    const ISPC::ParameterList back = ISPC::ParameterFileParser::parseFile(outputFile().path);
    check(back.isValid());
    check(back == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool quiet = (LOG_SetLevel(LOG_LEVEL_SILENCE), true); // refusals log by design
    (void)quiet;
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

    // The same input as a file reads into the same list.
    inputFile().fill(data, size);
    const ISPC::ParameterList fromFile = ISPC::ParameterFileParser::parseFile(inputFile().path);
    check(fromFile.isValid());
    check(fromFile == list);

    // Both file writers, with every other parameter in a group: what they write reads back as the list.
    check(ISPC::ParameterFileParser::save(list, outputFile().path) == QOR_RES_OK);
    checkFileRoundTrip(list);
    ISPC::ParameterList grouped = list;
    ISPC::ParameterGroup group;
    group.header = "// " + (list.size() > 0 ? list.begin()->first : std::string("group"));
    bool take = true;
    for (const auto &entry : list) {
        if (take) {
            group.parameters.insert(entry.first);
        }
        take = !take;
    }
    if (!group.parameters.empty()) {
        check(grouped.addGroup("FUZZ", group) == QOR_RES_OK);
    }
    check(ISPC::ParameterFileParser::saveGrouped(grouped, outputFile().path, true) == QOR_RES_OK);
    checkFileRoundTrip(list);
    check(ISPC::ParameterFileParser::saveGrouped(grouped, outputFile().path, false) == QOR_RES_OK);
    const ISPC::ParameterList groupsOnly = ISPC::ParameterFileParser::parseFile(outputFile().path);
    check(groupsOnly.isValid());
    check(groupsOnly.size() == group.parameters.size());
    return 0;
}
