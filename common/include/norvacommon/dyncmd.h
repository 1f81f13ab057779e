#ifndef NORVA_DYNCMD_H
#define NORVA_DYNCMD_H

/*
 * The process-wide parameter registry: tokens are gathered from a command line and/or text files, then each
 * caller registers the flags it knows and registration parses the values that follow the flag at once.
 *
 * One registry per process. Every call is serialised; a user that runs a whole load (add tokens, register,
 * release) holds DYNCMD_Lock() across it so that another thread's load cannot interleave and wipe its tokens.
 * Messages go to standard error, the usage list to standard output.
 */

#include "qor_errors.h"
#include "qor_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Entries of the token table and of the registration table; at most MAX_PARAMS - 1 are accepted. */
#define MAX_PARAMS 255

typedef enum _eDYNCMDLineTypes_ {
    DYNCMDTYPE_STRING = 0, /**< a newly allocated copy of the token into a char*; the caller frees it */
    DYNCMDTYPE_BOOL8 = 1,
    DYNCMDTYPE_FLOAT = 2,
    DYNCMDTYPE_UINT = 3,
    DYNCMDTYPE_INT = 4,
    DYNCMDTYPE_COMMAND = 5, /**< a flag without value */
} DYNCMDLINE_TYPE;

typedef enum _eDYNCMDLineCodes_ {
    RET_FOUND = 0,
    RET_NOT_FOUND = 1,
    RET_INCORRECT = 2,
    RET_INCOMPLETE = 3,
    RET_ERROR = 4,
} DYNCMDLINE_RETURN_CODE;

/**
 * Adds argv[1..argc-1] as tokens. An argument equal to pszSource (when not empty) is followed by a file path
 * whose tokens are inserted in its place ("#" comments). 0; 3 when the token table overflows; 11 for a missing
 * path; the file reader's code when the file cannot be read.
 */
QOR_RESULT DYNCMD_AddCommandLine(int argc, char *argv[], const char *pszSource);
/** Adds the whitespace-separated words of a file; a word beginning with pszComment ends its line. */
QOR_RESULT DYNCMD_AddFile(const char *pszFileName, const char *pszComment);
DYNCMDLINE_RETURN_CODE DYNCMD_RegisterParameter(const char *pszFlag, DYNCMDLINE_TYPE eType, const char *pszDesc,
                                                void *pvData);
DYNCMDLINE_RETURN_CODE DYNCMD_RegisterArray(const char *pszFlag, DYNCMDLINE_TYPE eType, const char *pszDesc,
                                            void *pvData, QOR_UINT32 nElem);
QOR_RESULT DYNCMD_HasUnregisteredElements(QOR_UINT32 *pui32Count);
void DYNCMD_PrintUsage(void);
void DYNCMD_ReleaseParameters(void);
DYNCMDLINE_RETURN_CODE DYNCMD_getObjectFromString(DYNCMDLINE_TYPE eType, const char *pszToken, void *pvData);
DYNCMDLINE_RETURN_CODE DYNCMD_getArrayFromString(DYNCMDLINE_TYPE eType, const char *pszToken, void *pvData,
                                                 QOR_UINT32 uiElement);

/** Holds the registry for a whole load (recursive: the registry's own calls may be made while held). */
void DYNCMD_Lock(void);
void DYNCMD_Unlock(void);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_DYNCMD_H */
