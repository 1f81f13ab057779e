#ifndef CI_LOAD_HW2_H
#define CI_LOAD_HW2_H
/*
 * The hardware load structure: the 1268-byte register image of one ISP context, written from
 * the register-level pipeline by update group. The register map is one table (ci_load_hw2.cpp)
 * served by one writer loop.
 */
#include "ci/ci_pipeline.h"

#define CI_LOAD_STRUCT_SIZE 1268u
#define CI_LOAD_STRUCT_WORDS 317u

QOR_UINT32 INT_CI_SizeLS_HW2(void);

/**
 * Writes the registers of the groups of eUpdateMask and the statistics registers into loadstruct,
 * from pPipeline, for the hardware pHWInfo. 22 when the hardware is not a 2.x or its load
 * structure size differs; the structure is then untouched.
 */
QOR_RESULT HW_CI_LoadPipeline(const CI_HWINFO *pHWInfo, const CI_PIPELINE *pPipeline, char *loadstruct,
                              int eUpdateMask);

void HW_CI_Load_ESC(char *pMemory, const CI_MODULE_SCALER *pScaler);
void HW_CI_Load_DSC(char *pMemory, const CI_MODULE_SCALER *pScaler);
void HW_CI_Load_AWS(char *pMemory, const CI_MODULE_AWS *pWhiteBalance);

/** One register field of the map, as the writer serves it (read-only view for checks). */
typedef struct CI_LS_FIELD_INFO {
    QOR_UINT16 ui16Word; /* byte offset of the word */
    QOR_UINT8 ui8Lo;
    QOR_UINT8 ui8Hi;
    QOR_UINT8 ui8Group; /* CI_MODULE_UPDATE bit, 0 for the always-written statistics */
    const char *pszRegister;
    const char *pszField;
    QOR_UINT16 ui16Source;    /* byte offset of the source in CI_PIPELINE (scalers as loaded by their group) */
    QOR_UINT8 ui8SourceBytes; /* 0 for a constant */
    QOR_BOOL8 bSourceSigned;
    QOR_BOOL8 bCoded; /* a mode code, a flag or a constant rather than the plain value */
} CI_LS_FIELD_INFO;

/** Number of fields in the map once every indexed row is expanded. */
QOR_UINT32 HW_CI_LoadFieldCount(void);
/** Field i of the expanded map (i below HW_CI_LoadFieldCount()). */
CI_LS_FIELD_INFO HW_CI_LoadField(QOR_UINT32 i);

#endif /* CI_LOAD_HW2_H */
