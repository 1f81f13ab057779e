#ifndef SIM_LSDECODER_H
#define SIM_LSDECODER_H
/*
 * The simulated ISP's reading of a load structure: every register field back into the register
 * values of a CI_PIPELINE record (signed fields sign-extended). Written from the register map
 * alone, independently of the library's writer, so that a writer fault shows in the simulation.
 * Registers are decoded whatever their enables; the consumer looks at the enables itself.
 */
#include <cstddef>

#include "ci/ci_pipeline.h"

/** 0, or 11 for a null argument or a structure shorter than 1268 bytes. */
QOR_RESULT SimLS_Decode(const QOR_UINT8 *pLoadStructure, size_t size, CI_PIPELINE *pOut);

#endif /* SIM_LSDECODER_H */
