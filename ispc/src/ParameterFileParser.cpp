#include "ispc/ParameterFileParser.h"

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"

namespace {
constexpr const char *kTag = "ISPC_FILEPARSER";
} // namespace

namespace ISPC {

namespace {

// Comment markers in order of precedence: "#" starts a comment only on lines without "//".
const char *const commentStr[2] = {"//", "#"};

const char *const kSeparators = " \t\n\r";

const char kUtf8Bom[] = "\xEF\xBB\xBF";

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

bool holdsLineBreak(const std::string &s) {
    for (char c : s) {
        if (isLineBreak(c)) {
            return true;
        }
    }
    return false;
}

// A line break inside a tag or value would start a new line in the file and change what is read
// back (it could even inject a parameter), so such parameters are not written.
bool writable(const Parameter &p) {
    if (holdsLineBreak(p.getTag())) {
        return false;
    }
    for (const std::string &v : p) {
        if (holdsLineBreak(v)) {
            return false;
        }
    }
    return true;
}

void writeLine(std::ostream &os, const Parameter &p) {
    os << p.getTag();
    bool holdsHash = false;
    for (const std::string &v : p) {
        os << ' ' << v;
        holdsHash = holdsHash || v.find('#') != std::string::npos;
    }
    const std::string info = p.getInfo();
    if (info.empty() && holdsHash) {
        // On a line without "//" the first "#" starts the comment, which would cut the value on
        // reading; an empty "//" comment keeps it whole.
        os << " //";
    } else if (!info.empty()) {
        os << " // ";
        // A comment stays on its line: line breaks inside it are written as blanks.
        for (char c : info) {
            os << (isLineBreak(c) ? ' ' : c);
        }
    }
    os << '\n';
}

// Setup files are text of some kilobytes; a file many times larger than any pipeline's setup is not one, and
// reading it whole would only exhaust memory.
constexpr off_t kMaxSetupFileBytes = 16 << 20;

// Reads a setup file whole. Only a regular file of bounded size is read: a device (/dev/zero never ends), a FIFO
// (blocks until a writer comes) or a directory is refused at once, without blocking. False when the file cannot
// be opened or read, or is refused.
bool readSetupFile(const std::string &filename, std::string &text) {
    const int fd = QOR_OpenRegularFd(filename.c_str());
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && st.st_size <= kMaxSetupFileBytes;
    if (ok) {
        text.reserve(static_cast<size_t>(st.st_size));
        char chunk[16384];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof(chunk));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            // The file may grow while it is read: the bound holds for what is read, not for its first size.
            if (text.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxSetupFileBytes)) {
                ok = false;
                break;
            }
            text.append(chunk, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

bool ParameterFileParser::isComment(const std::string &token) {
    for (const char *marker : commentStr) {
        if (token.compare(0, std::char_traits<char>::length(marker), marker) == 0) {
            return true;
        }
    }
    return false;
}

bool ParameterFileParser::isValidTag(const std::string &token) {
    if (token.empty() || !isAsciiLetter(token[0])) {
        return false;
    }
    for (char c : token) {
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '_' && c != '-') {
            return false;
        }
    }
    return true;
}

std::vector<std::string> ParameterFileParser::getTokens(const std::string &_line) {
    std::vector<std::string> tokens;
    size_t commentPos = std::string::npos;
    for (const char *marker : commentStr) {
        commentPos = _line.find(marker);
        if (commentPos != std::string::npos) {
            break;
        }
    }
    const size_t end = commentPos == std::string::npos ? _line.size() : commentPos;
    size_t pos = 0;
    while (pos < end) {
        pos = _line.find_first_not_of(kSeparators, pos);
        if (pos == std::string::npos || pos >= end) {
            break;
        }
        size_t stop = _line.find_first_of(kSeparators, pos);
        if (stop == std::string::npos || stop > end) {
            stop = end;
        }
        tokens.push_back(_line.substr(pos, stop - pos));
        pos = stop;
    }
    if (commentPos != std::string::npos) {
        tokens.push_back(_line.substr(commentPos));
    }
    return tokens;
}

QOR_RESULT ParameterFileParser::parse(std::istream &fileStream, ParameterList &params) {
    std::string line;
    bool first = true;
    while (std::getline(fileStream, line)) {
        if (first) {
            // A UTF-8 byte-order mark would make the first tag invalid and lose its line.
            if (line.compare(0, 3, kUtf8Bom) == 0) {
                line.erase(0, 3);
            }
            first = false;
        }
        const std::vector<std::string> tokens = getTokens(line);
        if (tokens.empty() || isComment(tokens[0]) || !isValidTag(tokens[0])) {
            continue;
        }
        size_t last = 1;
        while (last < tokens.size() && !isComment(tokens[last])) {
            last++;
        }
        if (last == 1) {
            continue;
        }
        Parameter p(tokens[0], tokens[1]);
        for (size_t i = 2; i < last; i++) {
            p.addValue(tokens[i]);
        }
        params.addParameter(p, true);
    }
    if (fileStream.bad() || !fileStream.eof()) {
        QOR_LOG_ERROR(kTag, "Failed to read the setup stream after %zu parameters\n", params.size());
        return QOR_RES_IO_FAILED;
    }
    return QOR_RES_OK;
}

ParameterList ParameterFileParser::parseFile(const std::string &filename) {
    ParameterList list;
    std::string text;
    if (!readSetupFile(filename, text)) {
        QOR_LOG_ERROR(kTag, "Failed to open file: %s\n", filename.c_str());
        list.setValid(false);
        return list;
    }
    std::istringstream file(text);
    text.clear();
    if (parse(file, list) != QOR_RES_OK) {
        list.setValid(false);
    }
    return list;
}

QOR_RESULT ParameterFileParser::save(const ParameterList &parameters, std::ostream &file) {
    for (const auto &entry : parameters) {
        const Parameter &p = entry.second;
        if (p.getTag().empty() || p.size() == 0) {
            QOR_LOG_WARNING(kTag, "Failed to save parameter '%s' which has %d values\n", p.getTag().c_str(),
                            static_cast<int>(p.size()));
            continue;
        }
        if (!writable(p)) {
            QOR_LOG_WARNING(kTag, "Failed to save parameter '%s' holding a line break\n", p.getTag().c_str());
            continue;
        }
        writeLine(file, p);
    }
    file.flush();
    return QOR_RES_OK;
}

QOR_RESULT ParameterFileParser::saveGrouped(const ParameterList &parameters, std::ostream &file, bool bSaveUngroupped) {
    for (auto g = parameters.groupsBegin(); g != parameters.groupsEnd(); ++g) {
        file << g->second.header << '\n';
        for (const std::string &tag : g->second.parameters) {
            if (file.fail() || file.bad()) {
                break;
            }
            const Parameter *p = parameters.getParameter(tag);
            if (p == nullptr) {
                continue;
            }
            if (!writable(*p)) {
                QOR_LOG_WARNING(kTag, "Failed to save parameter '%s' holding a line break\n", p->getTag().c_str());
                continue;
            }
            writeLine(file, *p);
        }
        file << '\n';
    }
    if (!bSaveUngroupped) {
        file.flush();
        return QOR_RES_OK;
    }
    file << '\n';
    bool headerWritten = false;
    for (const auto &entry : parameters) {
        if (file.fail() || file.bad()) {
            break;
        }
        const Parameter &p = entry.second;
        if (p.getTag().empty() || p.size() == 0 || parameters.isInGroup(p.getTag())) {
            continue;
        }
        if (!writable(p)) {
            QOR_LOG_WARNING(kTag, "Failed to save parameter '%s' holding a line break\n", p.getTag().c_str());
            continue;
        }
        if (!headerWritten) {
            file << "// Ungrouped parameters\n";
            headerWritten = true;
        }
        writeLine(file, p);
    }
    file.flush();
    return QOR_RES_OK;
}

namespace {

// The file forms open for output only (an existing file is truncated; a FIFO or a directory is refused at once
// instead of blocking). The text is made first and written whole. A write or close that fails is reported, as the
// data did not reach the file.
template <class Writer> QOR_RESULT saveToFile(const std::string &filename, Writer writer) {
    FILE *file = QOR_CreateFile(filename.c_str(), "wb");
    if (file == nullptr) {
        return QOR_RES_FAILED;
    }
    std::ostringstream text;
    const QOR_RESULT ret = writer(text);
    const std::string bytes = text.str();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (ret == QOR_RES_OK && (!written || !closed || text.fail())) {
        QOR_LOG_ERROR(kTag, "Failed to write file: %s\n", filename.c_str());
        return QOR_RES_IO_FAILED;
    }
    return ret;
}

} // namespace

QOR_RESULT ParameterFileParser::save(const ParameterList &parameters, const std::string &filename) {
    return saveToFile(filename, [&](std::ostream &os) { return save(parameters, os); });
}

QOR_RESULT ParameterFileParser::saveGrouped(const ParameterList &parameters, const std::string &filename,
                                            bool bSaveUngroupped) {
    return saveToFile(filename, [&](std::ostream &os) { return saveGrouped(parameters, os, bSaveUngroupped); });
}

} // namespace ISPC
