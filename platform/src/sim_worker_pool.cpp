/* Worker threads of the simulated device (see sim_worker_pool.h). */
#include "platform/sim_worker_pool.h"

#include <algorithm>
#include <cstdlib>

namespace norva_sim {

SimWorkerPool::SimWorkerPool(unsigned threads) : m_threads(std::max(1u, threads)) {
    m_workers.reserve(m_threads - 1);
    for (unsigned i = 1; i < m_threads; i++) {
        m_workers.emplace_back([this] { work(); });
    }
}

SimWorkerPool::~SimWorkerPool() {
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
    }
    m_start.notify_all();
    for (std::thread &t : m_workers) {
        t.join();
    }
}

/** Takes the next task of the current run and runs it; false when none is left. */
bool SimWorkerPool::takeAndRun() {
    Task task;
    void *context;
    unsigned index;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_next >= m_count) {
            return false;
        }
        index = m_next++;
        task = m_task;
        context = m_context;
    }
    task(context, index);
    return true;
}

void SimWorkerPool::work() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> l(m_lock);
            m_start.wait(l, [&] { return m_stop || m_generation != seen; });
            if (m_stop) {
                return;
            }
            seen = m_generation;
        }
        while (takeAndRun()) {
        }
        std::lock_guard<std::mutex> g(m_lock);
        if (--m_busy == 0) {
            m_done.notify_one();
        }
    }
}

void SimWorkerPool::run(unsigned count, Task task, void *context) {
    if (count == 0) {
        return;
    }
    std::lock_guard<std::mutex> serial(m_runLock);
    if (m_workers.empty() || count == 1) {
        for (unsigned i = 0; i < count; i++) {
            task(context, i);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_task = task;
        m_context = context;
        m_count = count;
        m_next = 0;
        m_busy = unsigned(m_workers.size());
        m_generation++;
    }
    m_start.notify_all();
    while (takeAndRun()) {
    }
    std::unique_lock<std::mutex> l(m_lock);
    m_done.wait(l, [&] { return m_busy == 0; });
    m_task = nullptr;
    m_context = nullptr;
    m_count = 0;
}

unsigned SimDefaultThreads() {
    if (const char *v = std::getenv("NORVA_SIM_THREADS")) {
        char *end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && n >= 1 && n <= 64) {
            return unsigned(n);
        }
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return std::max(1u, std::min(4u, cores));
}

} // namespace norva_sim
