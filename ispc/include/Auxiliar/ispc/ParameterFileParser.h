#ifndef ISPC_PARAMETERFILEPARSER_H
#define ISPC_PARAMETERFILEPARSER_H

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "ispc/Parameter.h"
#include "qor_errors.h"

namespace ISPC {

/**
 * Reads and writes ISP setup files: one parameter per line, a tag followed by its values, comments
 * from "//" (or, on lines without one, from "#") to the end of the line.
 */
class ParameterFileParser {
public:
    /** The file's parameters; validFlag false when the file cannot be opened or read. */
    static ParameterList parseFile(const std::string &filename);
    /**
     * Adds the stream's parameters to params, later tags replacing earlier ones. 0, or
     * QOR_RES_IO_FAILED when the stream failed before its end (the parameters read so far stay).
     */
    static QOR_RESULT parse(std::istream &fileStream, ParameterList &params);

    /** The tokens before the comment, then the comment (from its marker) as one last token. */
    static std::vector<std::string> getTokens(const std::string &_line);
    static bool isComment(const std::string &token);
    static bool isValidTag(const std::string &token);

    /** Writes the list in tag order. */
    static QOR_RESULT save(const ParameterList &parameters, std::ostream &file);
    static QOR_RESULT save(const ParameterList &parameters, const std::string &filename);
    /** Writes the groups, then optionally the parameters that no group lists. */
    static QOR_RESULT saveGrouped(const ParameterList &parameters, std::ostream &file, bool bSaveUngroupped);
    static QOR_RESULT saveGrouped(const ParameterList &parameters, const std::string &filename, bool bSaveUngroupped);
};

} // namespace ISPC

#endif /* ISPC_PARAMETERFILEPARSER_H */
