#ifndef NORVA_GST_CONTROL_MAKERS_H
#define NORVA_GST_CONTROL_MAKERS_H

/*
 * The one place where the capture context and the camera factory create control modules: one kind per control
 * class, each with its log name.
 */

#include "ispc/ControlModule.h"

enum class ControlKind { AE, AF, DNS, LBC, TNM, LSH, AWB, AWB_PID, AWB_Planckian };

/** The log name a control of that kind is created with ("ISPC_CTRL_AE", ..., "ISPC_CTRL_AWB-PID"). */
const char *ControlLogName(ControlKind kind);

/** A new control of that kind (the denoise control with default sensor gain 1.0). */
ISPC::ControlModule *CreateControl(ControlKind kind);

#endif /* NORVA_GST_CONTROL_MAKERS_H */
