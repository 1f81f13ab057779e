#ifndef NORVA_CI_API_H
#define NORVA_CI_API_H

/* The driver connection: one per process, carrying the hardware description. Log tag "CI_API". */

#include "ci/ci_api_structs.h"
#include "qor_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Maps a driver's negative error number onto a result code (0 stays 0). */
QOR_RESULT toQorResult(int driverError);

QOR_RESULT CI_DriverInit(CI_CONNECTION **ppConnection);
QOR_RESULT CI_DriverFinalise(CI_CONNECTION *pConnection);

QOR_RESULT CI_DriverGetLinestore(CI_CONNECTION *pConnection);
QOR_RESULT CI_DriverVerifLinestore(CI_CONNECTION *pConnection, CI_LINESTORE *pLinestore);
QOR_RESULT CI_DriverSetLinestore(CI_CONNECTION *pConnection, CI_LINESTORE *pLinestore);

QOR_RESULT CI_DriverGetGammaLUT(CI_CONNECTION *pConnection);
QOR_RESULT CI_DriverSetGammaLUT(CI_CONNECTION *pConnection, const CI_MODULE_GMA_LUT *pNewGammaLUT);

QOR_RESULT CI_DriverGetTimestamp(CI_CONNECTION *pConnection, QOR_UINT32 *puiCurrentStamp);
QOR_RESULT CI_DriverGetSystemTime(CI_CONNECTION *pConnection, QOR_UINT64 *pui64SystemTime);
QOR_RESULT CI_DriverGetAvailableInternalDPFBuffer(CI_CONNECTION *pConnection, QOR_UINT32 *puiAvailableDPF);
QOR_RESULT CI_DriverGetRTMInfo(CI_CONNECTION *pConnection, CI_RTM_INFO *pRTM);

QOR_RESULT CI_DriverDebugRegRead(CI_CONNECTION *pConnection, QOR_UINT8 eBank, QOR_UINT32 ui32Offset,
                                 QOR_UINT32 *pResult);
QOR_RESULT CI_DriverDebugRegWrite(CI_CONNECTION *pConnection, QOR_UINT8 eBank, QOR_UINT32 ui32Offset,
                                  QOR_UINT32 ui32Value);

QOR_RESULT CI_DriverReset(CI_CONNECTION *pConnection);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_API_H */
