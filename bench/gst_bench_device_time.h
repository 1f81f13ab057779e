/**
 * @file gst_bench_device_time.h
 * @brief CPU time the simulated device spends on commands (ISP ioctls, I2C reads and writes of the sensors), by the
 * role of the thread that issued them, so that the element benchmarks can take the device's work out of a thread's
 * CPU time.
 */
#pragma once

#include <atomic>
#include <ctime>

#include <sys/types.h>

#include "alloc_counter.h"
#include "ci/ci_ioctrl.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

namespace norva_bench {

/** The roles a program gives its threads; a thread without one counts as kOtherThread. */
enum DeviceRole { kStreamingThread, kMainThread, kOtherThread, kDeviceRoles };

/** A thread's CPU clock (or another clock) in nanoseconds. */
inline long long CpuNs(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

inline std::atomic<long long> gDeviceNs[kDeviceRoles] = {};
inline thread_local DeviceRole tDeviceRole = kOtherThread;
/** The calling thread's device CPU time so far, and the frames it acquired (CI_CAPTURE_ACQUIRE commands). */
inline thread_local long long tThreadDeviceNs = 0;
inline thread_local long tThreadAcquires = 0;

/** Device CPU time so far of the threads of one role. */
inline long long DeviceNs(DeviceRole role) { return gDeviceNs[role].load(std::memory_order_relaxed); }

/** Device CPU time so far of every thread. */
inline long long DeviceNs() { return DeviceNs(kStreamingThread) + DeviceNs(kMainThread) + DeviceNs(kOtherThread); }

/** Gives the calling thread its role. */
inline void SetDeviceRole(DeviceRole role) { tDeviceRole = role; }

/** Runs one device command, its CPU time counted as the device's for the calling thread's role. */
template <typename Command> auto TimedCommand(Command &&command) {
    const long long start = CpuNs(CLOCK_THREAD_CPUTIME_ID);
    SetInDevice(true);
    const auto r = command();
    SetInDevice(false);
    const long long spent = CpuNs(CLOCK_THREAD_CPUTIME_ID) - start;
    gDeviceNs[tDeviceRole].fetch_add(spent, std::memory_order_relaxed);
    tThreadDeviceNs += spent;
    return r;
}

inline long TimedIoctl(int fd, unsigned long request, void *arg) {
    const long r = TimedCommand([&] { return norva_sim::SimulationOps()->ioctl(fd, request, arg); });
    if (request == CI_IOCTL_REQUEST[CI_CAPTURE_ACQUIRE])
        ++tThreadAcquires;
    return r;
}

/** Reads and writes reach the sensors' register models over I2C. */
inline ssize_t TimedRead(int fd, void *buf, size_t count) {
    return TimedCommand([&] { return norva_sim::SimulationOps()->read(fd, buf, count); });
}
inline ssize_t TimedWrite(int fd, const void *buf, size_t count) {
    return TimedCommand([&] { return norva_sim::SimulationOps()->write(fd, buf, count); });
}

/** Routes the device commands of the process (ioctl, read, write) through the timing above. */
inline void TimeDeviceCommands() {
    static SEAM_OPS ops;
    ops = *norva_sim::SimulationOps();
    ops.ioctl = TimedIoctl;
    ops.read = TimedRead;
    ops.write = TimedWrite;
    SEAM_Override(&ops);
}

} // namespace norva_bench
