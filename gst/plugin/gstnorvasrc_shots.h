#ifndef GST_NORVASRC_SHOTS_H
#define GST_NORVASRC_SHOTS_H

/*
 * The frames norvasrc has in flight. One capture serves every source pad of the element: the shots of the main
 * and (in norvamultisrc) the slave context of one frame form a CombinedShot, shared through reference-counted
 * handles by the per-pad queues and by the output memories downstream. The last handle dropped gives both shots
 * back to their cameras. Records are pooled, so a steady stream allocates none.
 */

#include <atomic>
#include <utility>
#include <map>
#include <mutex>
#include <vector>

#include <gst/gst.h>

#include "ispc/Shot.h"

struct _GstNorvasrc;

/** What buffer building needs of one capture buffer, read under the object lock when the frame is acquired. */
struct ShotOutput {
    bool valid = false;
    int fd = -1;            /**< dmabuf descriptor, -1 for a driver buffer */
    guint64 size = 0;       /**< bytes of the whole capture buffer */
    void *mapped = nullptr; /**< the dmabuf mapped into the process, or null */
    CI_BUFFTYPE type = CI_TYPE_NONE;
};

/** The frame's outputs in the order encoder, display, data extraction. */
enum ShotOutputIndex { SHOT_OUT_YUV = 0, SHOT_OUT_DISPLAY = 1, SHOT_OUT_BAYER = 2, SHOT_OUT_N = 3 };

/** One captured frame shared by every pad. */
struct CombinedShot {
    ISPC::Shot main;
    ISPC::Shot slave;      /**< meaningful only with hasSlave */
    bool hasSlave = false; /**< the slave shot was acquired */
    guint64 id = 0;        /**< frame number; the buffers' offset */
    ShotOutput mainOut[SHOT_OUT_N];
    ShotOutput slaveOut[SHOT_OUT_N];
    /* The main context's control results for this frame. */
    gdouble iris = 0.0;
    gfloat focus = 0.0f;
    gfloat brightness = 0.0f;

    guint generation = 0; /**< the contexts the shots came from (ShotPool::generation) */
    std::atomic<int> refs{0};
    struct _GstNorvasrc *src = nullptr; /**< not a reference: records never outlive their element's contexts */
};

/** Returns the shots of a record to their cameras and the record to the pool; runs on the last handle's drop. */
void norvasrc_shot_free(CombinedShot *shot);

/** A shared handle to a CombinedShot (atomic count; the last drop runs norvasrc_shot_free). */
class ShotHandle {
public:
    ShotHandle() = default;
    explicit ShotHandle(CombinedShot *shot) : shot_(shot) {
        if (shot_ != nullptr)
            shot_->refs.fetch_add(1, std::memory_order_relaxed);
    }
    ShotHandle(const ShotHandle &other) : ShotHandle(other.shot_) {}
    ShotHandle(ShotHandle &&other) noexcept : shot_(other.shot_) { other.shot_ = nullptr; }
    ShotHandle &operator=(ShotHandle other) noexcept {
        std::swap(shot_, other.shot_);
        return *this;
    }
    ~ShotHandle() { reset(); }
    void reset() {
        CombinedShot *shot = shot_;
        shot_ = nullptr;
        if (shot != nullptr && shot->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            norvasrc_shot_free(shot);
    }
    CombinedShot *get() const { return shot_; }
    CombinedShot *operator->() const { return shot_; }
    explicit operator bool() const { return shot_ != nullptr; }

private:
    CombinedShot *shot_ = nullptr;
};

/** The frames waiting for one pad, oldest first (a vector: a few entries, no allocation once grown). */
using ShotQueue = std::vector<ShotHandle>;

/** An output memory alive downstream and the frame it shows. */
struct MemoryShot {
    gint64 key;      /**< the address of the memory */
    guintptr owner;  /**< the pad's owner it went to */
    ShotHandle shot; /**< null once the owner stopped: the memory no longer holds the frame (detached) */
};

/**
 * How a pad hands its frames downstream. A peer that announces GstVideoMeta reads the device's plane layout from
 * it; any other peer reads the format's default layout, which a frame whose layout differs is copied into (rows
 * without the device's padding), into buffers of `pool`, made once at negotiation.
 */
struct OwnerLayout {
    bool meta = true;              /**< the peer reads the video meta */
    GstBufferPool *pool = nullptr; /**< buffers of the default layout (owned); only without meta */
    guint planes = 0;
    gsize offsets[4] = {0, 0, 0, 0}; /**< the default layout */
    gint strides[4] = {0, 0, 0, 0};
    guint rows[4] = {0, 0, 0, 0};
    gsize size = 0; /**< bytes of one frame in the default layout */
};

/** A pad's previous frame times, so that its timestamps never go back. */
struct ChannelTime {
    guint64 utc = 0;
    GstClockTime ts = 0;
};

/** The frame records of an element: those in use are counted; free ones are reused. */
struct ShotPool {
    std::mutex lock;
    std::vector<CombinedShot *> free;
    guint live = 0;               /**< records that hold shots of the cameras */
    guint liveSlave = 0;          /**< of those, records that hold a slave shot too */
    bool release_pending = false; /**< the contexts go when the last live record does */
    guint generation = 0;         /**< counts destroyed contexts; guarded by the context lock */
    /* While the fetcher waits for the device under the context lock, the last drop of a record does not wait for
     * that lock: the record goes on `pending` (still live) and the fetcher gives it back right after the wait. */
    bool acquiring = false;
    std::vector<CombinedShot *> pending;
    std::vector<CombinedShot *> draining; /**< the fetcher's work space while it gives pending records back */
    ~ShotPool() {
        for (CombinedShot *shot : free)
            delete shot;
    }
};

/** Work space of the free-buffer rule, kept between calls so that it allocates nothing once grown. */
struct FreeBufferScratch {
    std::vector<guintptr> held;
    std::vector<std::vector<guintptr>> queues;
    std::vector<guintptr> distinct;
};

/**
 * Whether one more capture buffer may be enqueued. `held` lists the frames output memories show (repeats
 * allowed); `queues` the frames waiting for each pad in ascending owner order, oldest first. A buffer is free
 * when preenq plus the distinct frames held or queued stay below alloc. Otherwise, if some queued frame is held
 * by no memory, the first such frame in queue order is the victim: *victim names it (the caller drops its first
 * occurrence from every queue) and the result is TRUE. `distinct` is work space.
 */
gboolean norvasrc_free_buffer_rule(guint64 preenq, guint64 alloc, const std::vector<guintptr> &held,
                                   const std::vector<std::vector<guintptr>> &queues, std::vector<guintptr> &distinct,
                                   guintptr *victim);

/** The record shared by element instances, in one or several processes, to share sensor exposure and gain. */
struct SensorParams {
    guint64 exposure; /**< microseconds */
    gdouble gain;     /**< linear */
};

/** A holder of the POSIX shared-memory object "norvasrc_sensor_params". */
struct SensorParamsShm {
    bool created = false; /**< this holder created the object and removes its name */
    int fd = -1;
    SensorParams *data = nullptr;
    bool read(SensorParams &out) const;
    bool write(const SensorParams &in);
    void finalize();
};

#endif /* GST_NORVASRC_SHOTS_H */
