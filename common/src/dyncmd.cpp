// The process-wide parameter registry (tokens from command lines and files, typed registrations).
#include "norvacommon/dyncmd.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "norvacommon/regular_file.h"
#include "sys/sys_seam.h"

namespace {

/** Longest token a file may hold; a longer word is refused instead of growing without bound. */
constexpr size_t kMaxTokenLength = 4096;
/** Tokens and registrations accepted (the tables hold MAX_PARAMS entries). */
constexpr int kAccepted = MAX_PARAMS - 1;

struct Registration {
    char *pszFlag;
    DYNCMDLINE_TYPE eParamType;
    const char *pszDesc;
    void *pvData;
    QOR_UINT32 nElem;
    QOR_UINT32 nFound;
};

struct Registry {
    std::recursive_mutex lock;
    bool added = false;
    char *tokens[MAX_PARAMS] = {};
    int nTokens = 0;
    Registration params[MAX_PARAMS] = {};
    int nParams = 0;
};

Registry &registry() {
    static Registry *r = new Registry(); // used until the end of the process
    return *r;
}

void printTooMany() {
    std::fprintf(stderr, "MAX_PARAMS(%d) is not big enought - recompile with larger one\n", MAX_PARAMS);
}

/** Appends a copy of the token: false when the table is full or the copy fails. */
bool addToken(Registry &r, const char *text, size_t length) {
    if (r.nTokens >= MAX_PARAMS)
        return false;
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy == nullptr)
        return false;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    r.tokens[r.nTokens++] = copy;
    return true;
}

bool isSeparator(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/**
 * Reads every word of the file, whole lines whatever their length, so that a word or a comment is never cut
 * in two. A word beginning with the comment marker drops the rest of its line.
 */
QOR_RESULT readWords(Registry &r, FILE *f, const char *comment, const char *path) {
    const size_t commentLength = comment != nullptr ? std::strlen(comment) : 0;
    std::string word;
    bool skipLine = false;
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF || isSeparator(c)) {
            if (!word.empty()) {
                if (commentLength > 0 && word.compare(0, commentLength, comment) == 0) {
                    skipLine = c != '\n' && c != EOF;
                } else {
                    if (r.nTokens >= MAX_PARAMS) {
                        printTooMany();
                        return QOR_RES_FAILED;
                    }
                    if (!addToken(r, word.data(), word.size()))
                        return QOR_RES_NO_MEMORY;
                }
                word.clear();
            }
            if (c == EOF)
                return QOR_RES_OK;
            if (c == '\n')
                skipLine = false;
            continue;
        }
        if (skipLine)
            continue;
        if (word.size() >= kMaxTokenLength) {
            std::fprintf(stderr, "word of more than %zu characters in '%s'\n", kMaxTokenLength, path);
            return QOR_RES_INVALID_PARAM;
        }
        word.push_back(static_cast<char>(c));
    }
}

/*
 * Numbers: the Part reads the number at the start of a token ("12abc" as 12), which turns "1e3" into 1, "0x780"
 * into 0 and "1,5" into 1, silently wrong values; here the whole token must be the number.
 */

/** The whole token as a decimal integer of type long; false when anything is left over or out of range. */
bool parseLong(const char *token, long *value) {
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(token, &end, 10);
    if (end == token || *end != '\0' || errno == ERANGE)
        return false;
    *value = v;
    return true;
}

DYNCMDLINE_RETURN_CODE parseValue(DYNCMDLINE_TYPE eType, const char *token, void *target) {
    switch (eType) {
    case DYNCMDTYPE_BOOL8: {
        long v = 0;
        if (!parseLong(token, &v))
            return RET_INCORRECT;
        if (v != 0 && v != 1) {
            // The Part keeps the low byte (257 reads true, 256 false): silently wrong, so only 0 and 1 pass.
            std::fprintf(stderr, "value %d is not QOR_TRUE (%d) nor QOR_FALSE (%d)\n", static_cast<int>(v), 1, 0);
            return RET_INCORRECT;
        }
        *static_cast<QOR_BOOL8 *>(target) = static_cast<QOR_BOOL8>(v);
        return RET_FOUND;
    }
    case DYNCMDTYPE_FLOAT: {
        errno = 0;
        char *end = nullptr;
        const float v = std::strtof(token, &end);
        // The conversion also gives infinity and NaN, which no caller can use (a clock turned into an integer).
        if (end == token || *end != '\0' || errno == ERANGE || !std::isfinite(v))
            return RET_INCORRECT;
        *static_cast<float *>(target) = v;
        return RET_FOUND;
    }
    case DYNCMDTYPE_UINT: {
        const char *p = token;
        while (*p == ' ' || *p == '\t')
            p++;
        // The unsigned conversion turns "-1" into the largest value and wraps what exceeds 32 bits: both refused.
        if (*p == '-')
            return RET_INCORRECT;
        errno = 0;
        char *end = nullptr;
        const unsigned long v = std::strtoul(p, &end, 10);
        if (end == p || *end != '\0' || errno == ERANGE || v > UINT_MAX)
            return RET_INCORRECT;
        *static_cast<unsigned int *>(target) = static_cast<unsigned int>(v);
        return RET_FOUND;
    }
    case DYNCMDTYPE_INT: {
        long v = 0;
        if (!parseLong(token, &v) || v < INT_MIN || v > INT_MAX)
            return RET_INCORRECT;
        *static_cast<int *>(target) = static_cast<int>(v);
        return RET_FOUND;
    }
    default:
        return RET_ERROR;
    }
}

void releaseAll(Registry &r) {
    for (int i = 0; i < r.nParams; i++)
        std::free(r.params[i].pszFlag);
    for (int i = 0; i < r.nTokens; i++)
        std::free(r.tokens[i]);
    std::memset(r.params, 0, sizeof(r.params));
    std::memset(r.tokens, 0, sizeof(r.tokens));
    r.nParams = 0;
    r.nTokens = 0;
    r.added = false;
}

} // namespace

extern "C" {

void DYNCMD_Lock(void) { registry().lock.lock(); }
void DYNCMD_Unlock(void) { registry().lock.unlock(); }

QOR_RESULT DYNCMD_AddFile(const char *pszFileName, const char *pszComment) {
    if (pszFileName == nullptr || pszComment == nullptr)
        return QOR_RES_INVALID_PARAM;
    Registry &r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    // Only a regular file is read: the seam's reading open refuses a directory, a FIFO or a device at once.
    FILE *f = SEAM_Fopen(pszFileName, "r");
    if (f == nullptr) {
        // A missing file is no error of its own (board files are looked for in turn); one that is there and
        // cannot be read is named, as nothing further down would say why its parameters are missing.
        const int err = errno;
        if (QOR_IsNotAFileError(err))
            std::fprintf(stderr, "'%s' is not a regular file\n", pszFileName);
        else if (err != ENOENT && err != ENOTDIR)
            std::fprintf(stderr, "cannot read '%s': %s\n", pszFileName, std::strerror(err));
        return QOR_RES_IN_PROGRESS;
    }
    r.added = true;
    QOR_RESULT ret = readWords(r, f, pszComment, pszFileName);
    std::fclose(f);
    if (ret == QOR_RES_OK && r.nTokens > kAccepted) {
        printTooMany();
        ret = QOR_RES_FAILED;
    }
    return ret;
}

QOR_RESULT DYNCMD_AddCommandLine(int argc, char *argv[], const char *pszSource) {
    Registry &r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    r.added = true;
    if (argv == nullptr)
        argc = 0;
    const bool withSource = pszSource != nullptr && pszSource[0] != '\0';
    if (withSource) {
        // The option's value is handled below; the registration only makes it known (usage, unknown tokens).
        static char *s_sourceValue = nullptr;
        DYNCMD_RegisterParameter(pszSource, DYNCMDTYPE_STRING, "to load the configuration from a text file",
                                 &s_sourceValue);
        std::free(s_sourceValue);
        s_sourceValue = nullptr;
    }
    for (int i = 1; i < argc; i++) {
        if (r.nTokens > kAccepted) {
            printTooMany();
            return QOR_RES_FAILED;
        }
        if (withSource && std::strcmp(argv[i], pszSource) == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "parameter '%s' needs a file path as value\n", argv[i]);
                return QOR_RES_INVALID_PARAM;
            }
            i++;
            const QOR_RESULT ret = DYNCMD_AddFile(argv[i], "#");
            if (ret == QOR_RES_FAILED)
                return ret;
            if (ret != QOR_RES_OK) {
                std::fprintf(stderr, "failed to source file '%s'\n", argv[i]);
                return ret;
            }
            continue;
        }
        if (!addToken(r, argv[i], std::strlen(argv[i]))) {
            printTooMany();
            return QOR_RES_FAILED;
        }
    }
    if (r.nTokens > kAccepted) {
        printTooMany();
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

DYNCMDLINE_RETURN_CODE DYNCMD_RegisterParameter(const char *pszFlag, DYNCMDLINE_TYPE eType, const char *pszDesc,
                                                void *pvData) {
    return DYNCMD_RegisterArray(pszFlag, eType, pszDesc, pvData, 1);
}

DYNCMDLINE_RETURN_CODE DYNCMD_RegisterArray(const char *pszFlag, DYNCMDLINE_TYPE eType, const char *pszDesc,
                                            void *pvData, QOR_UINT32 nElem) {
    Registry &r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    if (pszFlag == nullptr)
        return RET_ERROR;
    if (nElem > 1 && (eType == DYNCMDTYPE_STRING || eType == DYNCMDTYPE_COMMAND))
        return RET_ERROR;
    if (pvData == nullptr && eType != DYNCMDTYPE_COMMAND) {
        std::fprintf(stderr, "You must give a data pointer when registering a data type\n");
        return RET_ERROR;
    }
    if (!r.added) {
        std::fprintf(stderr, "You must add a command line or a file before registering a parameter\n");
        return RET_ERROR;
    }
    for (int i = 0; i < r.nParams; i++) {
        if (std::strcmp(r.params[i].pszFlag, pszFlag) == 0) {
            std::fprintf(stderr, "the parameter '%s' is already registered\n", pszFlag);
            return RET_ERROR;
        }
    }
    if (r.nParams >= kAccepted) {
        std::fprintf(stderr, "Too many commandline params, try increasing the MAX_PARAMS (%d) variable and recompile\n",
                     MAX_PARAMS);
        return RET_ERROR;
    }
    char *flagCopy = strdup(pszFlag);
    if (flagCopy == nullptr)
        return RET_ERROR;
    Registration &reg = r.params[r.nParams++];
    reg = Registration{flagCopy, eType, pszDesc, pvData, eType == DYNCMDTYPE_COMMAND ? 0u : nElem, 0u};

    int at = -1;
    for (int i = r.nTokens - 1; i >= 0; i--) {
        if (std::strcmp(r.tokens[i], pszFlag) == 0) {
            at = i;
            break;
        }
    }
    if (at < 0)
        return RET_NOT_FOUND;
    if (eType == DYNCMDTYPE_COMMAND || reg.nElem < 1)
        return RET_FOUND;
    if (reg.nElem == 1) {
        if (at + 1 >= r.nTokens)
            return RET_INCORRECT;
        const DYNCMDLINE_RETURN_CODE ret = DYNCMD_getObjectFromString(eType, r.tokens[at + 1], pvData);
        if (ret == RET_FOUND)
            reg.nFound = 1;
        return ret == RET_FOUND ? RET_FOUND : RET_INCORRECT;
    }
    QOR_UINT32 n = 0;
    while (n < reg.nElem && at + 1 + static_cast<int>(n) < r.nTokens) {
        if (DYNCMD_getArrayFromString(eType, r.tokens[at + 1 + n], pvData, n) != RET_FOUND)
            break;
        n++;
    }
    reg.nFound = n;
    if (n == reg.nElem)
        return RET_FOUND;
    return n > 0 ? RET_INCOMPLETE : RET_INCORRECT;
}

DYNCMDLINE_RETURN_CODE DYNCMD_getObjectFromString(DYNCMDLINE_TYPE eType, const char *pszToken, void *pvData) {
    if (eType == DYNCMDTYPE_COMMAND)
        return RET_FOUND;
    if (pvData == nullptr || pszToken == nullptr)
        return RET_ERROR;
    if (eType == DYNCMDTYPE_STRING) {
        char *copy = strdup(pszToken);
        if (copy == nullptr)
            std::fprintf(stderr, "failed to allocate copy of the string!\n");
        *static_cast<char **>(pvData) = copy;
        return RET_FOUND;
    }
    return parseValue(eType, pszToken, pvData);
}

DYNCMDLINE_RETURN_CODE DYNCMD_getArrayFromString(DYNCMDLINE_TYPE eType, const char *pszToken, void *pvData,
                                                 QOR_UINT32 uiElement) {
    if (eType == DYNCMDTYPE_STRING || eType == DYNCMDTYPE_COMMAND)
        return RET_INCORRECT;
    if (pvData == nullptr || pszToken == nullptr)
        return RET_ERROR;
    const size_t step = eType == DYNCMDTYPE_BOOL8 ? sizeof(QOR_BOOL8) : 4u;
    return parseValue(eType, pszToken, static_cast<char *>(pvData) + step * uiElement);
}

QOR_RESULT DYNCMD_HasUnregisteredElements(QOR_UINT32 *pui32Count) {
    if (pui32Count == nullptr)
        return QOR_RES_INVALID_PARAM;
    Registry &r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    if (r.nParams == 0 || !r.added) {
        std::fprintf(stderr, "no registered parameters or command line/ file not added\n");
        return QOR_RES_UNAVAILABLE;
    }
    QOR_UINT32 count = 0;
    for (int i = 0; i < r.nTokens; i++) {
        const Registration *match = nullptr;
        for (int p = 0; p < r.nParams; p++) {
            if (std::strcmp(r.tokens[i], r.params[p].pszFlag) == 0) {
                match = &r.params[p];
                break;
            }
        }
        if (match != nullptr) {
            i += static_cast<int>(match->nFound);
            continue;
        }
        std::fprintf(stderr, "  '%s' unknown parameter (%d)\n", r.tokens[i], i);
        count++;
    }
    *pui32Count = count;
    return QOR_RES_OK;
}

void DYNCMD_PrintUsage(void) {
    Registry &r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    std::printf("usage()\n");
    for (int i = 0; i < r.nParams; i++) {
        const Registration &p = r.params[i];
        const char *placeholder;
        switch (p.eParamType) {
        case DYNCMDTYPE_STRING:
            placeholder = "<string>";
            break;
        case DYNCMDTYPE_BOOL8:
            placeholder = "<bool=0/1>";
            break;
        case DYNCMDTYPE_FLOAT:
            placeholder = "<float>";
            break;
        case DYNCMDTYPE_UINT:
            placeholder = "<uint>";
            break;
        case DYNCMDTYPE_INT:
            placeholder = "<int>";
            break;
        case DYNCMDTYPE_COMMAND:
            placeholder = "";
            break;
        default:
            placeholder = "<Unknown>";
            break;
        }
        std::printf("%s %s", p.pszFlag, placeholder);
        if (p.nElem > 1)
            std::printf("x%d", static_cast<int>(p.nElem));
        std::printf("\t: %s\n", p.pszDesc != nullptr ? p.pszDesc : "");
    }
    std::printf("\n");
}

void DYNCMD_ReleaseParameters(void) {
    Registry &r = registry();
    std::lock_guard<std::recursive_mutex> guard(r.lock);
    releaseAll(r);
}

} // extern "C"
