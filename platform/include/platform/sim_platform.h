#ifndef NORVA_SIM_PLATFORM_H
#define NORVA_SIM_PLATFORM_H

/* Controls and observations of the simulated platform for tests and tools. */

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_node.h"

namespace norva_sim {

/** Restores the defaults: hardware description, faults, trace, counters' faults, virtual clock. */
void ResetPlatform();

/** One command as the device saw it. */
struct TraceEntry {
    int fd;
    unsigned long request;
    int nr;                      /* -1 for a request value the device does not know */
    long value;                  /* the argument as an integer (by-value commands) */
    std::vector<uint8_t> argIn;  /* the record as it came in */
    std::vector<uint8_t> argOut; /* the record as the device left it */
    long result;
    bool injected; /* the answer came from fault injection */
};
/** The commands traced, oldest first: the newest TraceCapacity() of them. */
std::vector<TraceEntry> Trace();
void ClearTrace();
/**
 * Bounds the trace to the newest `commands` commands (0 traces nothing), keeping the newest of those already
 * traced. ResetPlatform restores the default of 256; a test that reads longer sequences sets what it needs.
 */
void SetTraceCapacity(size_t commands);
size_t TraceCapacity();

enum class FaultMode { Once, Always };
/** The command answers `answer` (usually -errno) instead of running, once or always, after `skip` calls. */
void InjectCommandAnswer(unsigned nr, long answer, FaultMode mode = FaultMode::Once, unsigned skip = 0);
void InjectCommandFault(unsigned nr, int negErrno, FaultMode mode = FaultMode::Once, unsigned skip = 0);
void ClearCommandFaults();

/** Opening the device fails with -ENOENT while set. */
void SetDeviceAbsent(bool absent);
/** The next close of a device descriptor closes it but reports the errno. */
void FailNextClose(int error);

struct PlatformCounters {
    int openDescriptors;
    int liveMappings;
    int driverObjects;
    int deviceMemoryAreas;
};
PlatformCounters GetCounters();

} // namespace norva_sim

#endif /* NORVA_SIM_PLATFORM_H */
