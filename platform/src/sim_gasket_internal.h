#ifndef NORVA_SIM_GASKET_INTERNAL_H
#define NORVA_SIM_GASKET_INTERNAL_H

/* What the gasket and data-generator files of the simulated device ask of each other (platform lock held). */

#include "platform/sim_line_format.h"

namespace norva_sim {

/** The gasket is claimed with CI_GASKET_ACQUIRE (for a sensor). */
bool GasketClaimed(unsigned gasket);
/** A started data generator feeds the gasket. */
bool DatagenDrivesGasket(unsigned gasket);
/** Clears the frame and error counters (a generator starts feeding the gasket). */
void ResetGasketCounters(unsigned gasket);
/** Counts a frame received on the gasket with the line-format errors found in it. */
void GasketFrameReceived(unsigned gasket, const LineErrors &errors);

} // namespace norva_sim

#endif /* NORVA_SIM_GASKET_INTERNAL_H */
