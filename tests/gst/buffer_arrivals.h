#ifndef NORVA_TEST_GST_BUFFER_ARRIVALS_H
#define NORVA_TEST_GST_BUFFER_ARRIVALS_H

// Buffers that reach an element's pad, counted by a probe, and a wait for the next one: the soak suites watch a
// sink this way while they cycle the pipeline's states.

#include <gst/gst.h>

namespace norvasrc_test {

class BufferArrivals {
public:
    BufferArrivals() {
        g_mutex_init(&m_lock);
        g_cond_init(&m_arrived);
    }
    ~BufferArrivals() {
        g_cond_clear(&m_arrived);
        g_mutex_clear(&m_lock);
    }
    BufferArrivals(const BufferArrivals &) = delete;
    BufferArrivals &operator=(const BufferArrivals &) = delete;

    /** Counts the buffers on the sink pad of `element`; the probe must go before this object does. */
    void watch(GstElement *element) {
        GstPad *pad = gst_element_get_static_pad(element, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, count, this, nullptr);
        gst_object_unref(pad);
    }

    guint64 buffers() {
        g_mutex_lock(&m_lock);
        const guint64 n = m_buffers;
        g_mutex_unlock(&m_lock);
        return n;
    }

    /** Waits at most `seconds` until more than `seen` buffers arrived. */
    bool waitBeyond(guint64 seen, gint64 seconds) {
        const gint64 deadline = g_get_monotonic_time() + seconds * G_TIME_SPAN_SECOND;
        g_mutex_lock(&m_lock);
        while (m_buffers <= seen) {
            if (!g_cond_wait_until(&m_arrived, &m_lock, deadline))
                break;
        }
        const bool got = m_buffers > seen;
        g_mutex_unlock(&m_lock);
        return got;
    }

private:
    static GstPadProbeReturn count(GstPad *, GstPadProbeInfo *, gpointer data) {
        BufferArrivals *a = static_cast<BufferArrivals *>(data);
        g_mutex_lock(&a->m_lock);
        a->m_buffers++;
        g_cond_broadcast(&a->m_arrived);
        g_mutex_unlock(&a->m_lock);
        return GST_PAD_PROBE_OK;
    }

    GMutex m_lock;
    GCond m_arrived;
    guint64 m_buffers = 0;
};

} // namespace norvasrc_test

#endif
