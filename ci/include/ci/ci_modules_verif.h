#ifndef CI_MODULES_VERIF_H
#define CI_MODULES_VERIF_H
/*
 * Capability checks of the register-level blocks against the hardware description and against
 * each other. Each returns QOR_RES_OK when acceptable, logs its reason otherwise, changes nothing.
 */
#include "ci/ci_pipeline.h"

/** 1 when every tap of the 4 phases x nTaps matrix fits its position's width, else 0. */
QOR_BOOL scalerVerifTaps(const QOR_INT8 *matrix, int nTaps);

QOR_RESULT CI_ModuleIIF_verif(const CI_MODULE_IIF *pIIF, QOR_UINT8 ui8Context, const CI_HWINFO *pHWInfo);
QOR_RESULT CI_ModuleLSH_verif(const CI_MODULE_LSH_MAT *pMatrix, const CI_MODULE_IIF *pIIF, const CI_HWINFO *pHWInfo);
QOR_RESULT CI_ModuleScaler_verif(const CI_MODULE_SCALER *pScaler);
QOR_RESULT CI_ModuleWBC_verif(const CI_MODULE_WBC *pWBC);
QOR_RESULT CI_ModuleTNM_verif(const CI_MODULE_TNM *pTNM);
QOR_RESULT CI_ModuleDPF_verif(const CI_MODULE_DPF *pDPF, const CI_HWINFO *pHWInfo);
QOR_RESULT CI_StatsEXS_verif(const CI_MODULE_EXS *pEXS);
QOR_RESULT CI_StatsFLD_verif(const CI_MODULE_FLD *pFLD);
QOR_RESULT CI_StatsWBS_verif(const CI_MODULE_WBS *pWBS);
QOR_RESULT CI_StatsHIS_verif(const CI_MODULE_HIS *pHIS);
QOR_RESULT CI_StatsAWS_verif(const CI_MODULE_AWS *pAWS, const CI_MODULE_IIF *pIIF);
QOR_RESULT CI_StatsENS_verif(const CI_MODULE_ENS *pENS);

#endif /* CI_MODULES_VERIF_H */
