#ifndef NORVA_SIM_WORKER_POOL_H
#define NORVA_SIM_WORKER_POOL_H

/*
 * A fixed set of worker threads that the simulated device keeps for the image model: the threads start with the
 * pool and wait between frames, so processing a frame creates no thread and allocates nothing. `run` hands out
 * tasks 0..count-1 to the workers and the calling thread and returns when every task is done. Callers of `run`
 * are served one at a time.
 */

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace norva_sim {

class SimWorkerPool {
public:
    typedef void (*Task)(void *context, unsigned index);

    /** A pool of `threads` threads in all, the caller of run counting as one (1 runs everything in the caller). */
    explicit SimWorkerPool(unsigned threads);
    ~SimWorkerPool();
    SimWorkerPool(const SimWorkerPool &) = delete;
    SimWorkerPool &operator=(const SimWorkerPool &) = delete;

    unsigned threads() const { return m_threads; }

    /** Runs task(context, i) for i in 0..count-1, spread over the threads; returns when all have returned. */
    void run(unsigned count, Task task, void *context);

private:
    void work();
    bool takeAndRun();

    unsigned m_threads;
    std::vector<std::thread> m_workers;
    std::mutex m_runLock; /* one run at a time */
    std::mutex m_lock;
    std::condition_variable m_start, m_done;
    uint64_t m_generation = 0;
    unsigned m_busy = 0; /* workers still in the current run */
    bool m_stop = false;
    Task m_task = nullptr;
    void *m_context = nullptr;
    unsigned m_count = 0, m_next = 0;
};

/**
 * Threads for the image model: NORVA_SIM_THREADS when set to a number from 1 to 64, else min(4, available
 * cores).
 */
unsigned SimDefaultThreads();

} // namespace norva_sim

#endif /* NORVA_SIM_WORKER_POOL_H */
