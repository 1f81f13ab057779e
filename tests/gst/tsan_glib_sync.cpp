// Linked into the element suites of a ThreadSanitizer build only. GLib is not instrumented, and its GMutex and GCond
// work on futexes, which the sanitizer does not see (GRecMutex and GRWLock are POSIX locks, which it does): every
// structure the elements guard with a GMutex (GStreamer's object lock, the element's mutex and its condition
// variables) would look unguarded. These definitions take the place of GLib's for every library that calls them
// (GStreamer, the plug-in, the suites), call GLib's own, and tell the sanitizer what the lock did.
//
// GLib's calls inside itself are bound within the library and stay unseen. Of those, the suites depend on two
// hand-overs between threads, annotated at their interfaces: the asynchronous queue through which GstHarness hands
// buffers from the streaming thread to the test thread (a push releases, a pop that returns an item acquires), and
// the thread pool that runs GStreamer's streaming tasks (a push releases the task, its run acquires it). What GLib
// does inside them (list nodes made in one thread and freed in another, under its own unseen lock) is not watched.
#include <dlfcn.h>
#include <glib.h>
#include <sanitizer/tsan_interface.h>

namespace {

/** GLib's own definition of a function these definitions replace. */
template <typename F> F glibs(const char *name) {
    void *fn = dlsym(RTLD_NEXT, name);
    if (fn == nullptr)
        g_error("no %s in GLib", name);
    return reinterpret_cast<F>(fn);
}

#define NORVA_GLIB(name) static const auto real = glibs<decltype(&name)>(#name)

extern "C" void AnnotateIgnoreWritesBegin(const char *file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char *file, int line);

/** Within its scope the sanitizer does not watch this thread's memory accesses, allocations and frees. */
struct Unwatched {
    Unwatched() { AnnotateIgnoreWritesBegin(__FILE__, __LINE__); }
    ~Unwatched() { AnnotateIgnoreWritesEnd(__FILE__, __LINE__); }
    Unwatched(const Unwatched &) = delete;
    Unwatched &operator=(const Unwatched &) = delete;
};

/** A thread pool's own function and data, run through runTask. */
struct PoolFunc {
    GFunc func;
    gpointer data;
};

void runTask(gpointer task, gpointer pool) {
    const PoolFunc *f = static_cast<const PoolFunc *>(pool);
    __tsan_acquire(task);
    f->func(task, f->data);
}

/** The sanitizer's view of a lock taken by GLib: after the real lock. */
void locked(void *m, unsigned flags) {
    __tsan_mutex_pre_lock(m, flags);
    __tsan_mutex_post_lock(m, flags, 0);
}

/** The sanitizer's view of a lock given back: before the real unlock. */
void unlocking(void *m, unsigned flags) {
    __tsan_mutex_pre_unlock(m, flags);
    __tsan_mutex_post_unlock(m, flags);
}

} // namespace

extern "C" {

void g_mutex_init(GMutex *m) {
    NORVA_GLIB(g_mutex_init);
    real(m);
    __tsan_mutex_create(m, 0);
}

void g_mutex_clear(GMutex *m) {
    NORVA_GLIB(g_mutex_clear);
    __tsan_mutex_destroy(m, 0);
    real(m);
}

void g_mutex_lock(GMutex *m) {
    NORVA_GLIB(g_mutex_lock);
    __tsan_mutex_pre_lock(m, 0);
    real(m);
    __tsan_mutex_post_lock(m, 0, 0);
}

gboolean g_mutex_trylock(GMutex *m) {
    NORVA_GLIB(g_mutex_trylock);
    __tsan_mutex_pre_lock(m, __tsan_mutex_try_lock);
    const gboolean taken = real(m);
    __tsan_mutex_post_lock(m, __tsan_mutex_try_lock | (taken ? 0 : __tsan_mutex_try_lock_failed), 0);
    return taken;
}

void g_mutex_unlock(GMutex *m) {
    NORVA_GLIB(g_mutex_unlock);
    unlocking(m, 0);
    real(m);
}

// A wait gives the mutex back and takes it again before it returns, inside GLib.
void g_cond_wait(GCond *c, GMutex *m) {
    NORVA_GLIB(g_cond_wait);
    unlocking(m, 0);
    real(c, m);
    locked(m, 0);
}

gboolean g_cond_wait_until(GCond *c, GMutex *m, gint64 endTime) {
    NORVA_GLIB(g_cond_wait_until);
    unlocking(m, 0);
    const gboolean signalled = real(c, m, endTime);
    locked(m, 0);
    return signalled;
}

void g_async_queue_push(GAsyncQueue *q, gpointer item) {
    NORVA_GLIB(g_async_queue_push);
    __tsan_release(q);
    Unwatched unwatched;
    real(q, item);
}

void g_async_queue_push_unlocked(GAsyncQueue *q, gpointer item) {
    NORVA_GLIB(g_async_queue_push_unlocked);
    __tsan_release(q);
    Unwatched unwatched;
    real(q, item);
}

gpointer g_async_queue_pop(GAsyncQueue *q) {
    NORVA_GLIB(g_async_queue_pop);
    gpointer item;
    {
        Unwatched unwatched;
        item = real(q);
    }
    __tsan_acquire(q);
    return item;
}

gpointer g_async_queue_try_pop(GAsyncQueue *q) {
    NORVA_GLIB(g_async_queue_try_pop);
    gpointer item;
    {
        Unwatched unwatched;
        item = real(q);
    }
    if (item != nullptr)
        __tsan_acquire(q);
    return item;
}

gpointer g_async_queue_try_pop_unlocked(GAsyncQueue *q) {
    NORVA_GLIB(g_async_queue_try_pop_unlocked);
    gpointer item;
    {
        Unwatched unwatched;
        item = real(q);
    }
    if (item != nullptr)
        __tsan_acquire(q);
    return item;
}

gpointer g_async_queue_timeout_pop(GAsyncQueue *q, guint64 timeout) {
    NORVA_GLIB(g_async_queue_timeout_pop);
    gpointer item;
    {
        Unwatched unwatched;
        item = real(q, timeout);
    }
    if (item != nullptr)
        __tsan_acquire(q);
    return item;
}

void g_async_queue_lock(GAsyncQueue *q) {
    NORVA_GLIB(g_async_queue_lock);
    real(q);
    __tsan_acquire(q);
}

void g_async_queue_unlock(GAsyncQueue *q) {
    NORVA_GLIB(g_async_queue_unlock);
    __tsan_release(q);
    real(q);
}

GThreadPool *g_thread_pool_new(GFunc func, gpointer data, gint maxThreads, gboolean exclusive, GError **error) {
    NORVA_GLIB(g_thread_pool_new);
    // Kept for the life of the process: a pool's threads may still run a task after the pool is freed. GStreamer
    // makes a handful of pools per process.
    PoolFunc *own = new PoolFunc{func, data};
    Unwatched unwatched;
    return real(runTask, own, maxThreads, exclusive, error);
}

gboolean g_thread_pool_push(GThreadPool *pool, gpointer task, GError **error) {
    NORVA_GLIB(g_thread_pool_push);
    __tsan_release(task);
    Unwatched unwatched;
    return real(pool, task, error);
}

void g_thread_pool_free(GThreadPool *pool, gboolean immediate, gboolean wait) {
    NORVA_GLIB(g_thread_pool_free);
    Unwatched unwatched;
    real(pool, immediate, wait);
}

// The settings of the pools wake idle pool threads through GLib's own queue.
void g_thread_pool_set_max_unused_threads(gint maxThreads) {
    NORVA_GLIB(g_thread_pool_set_max_unused_threads);
    Unwatched unwatched;
    real(maxThreads);
}

void g_thread_pool_stop_unused_threads(void) {
    NORVA_GLIB(g_thread_pool_stop_unused_threads);
    Unwatched unwatched;
    real();
}

gboolean g_thread_pool_set_max_threads(GThreadPool *pool, gint maxThreads, GError **error) {
    NORVA_GLIB(g_thread_pool_set_max_threads);
    Unwatched unwatched;
    return real(pool, maxThreads, error);
}

} // extern "C"
