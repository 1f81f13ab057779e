#ifndef GST_NORVA_BUF_H
#define GST_NORVA_BUF_H

/*
 * The allocator of the norva elements: it makes no memory of its own, it wraps memory that the ISP driver or a
 * dmabuf mapping already provides as GstMemory of type "norvabuf", without copying. The wrapped data stays the
 * caller's; freeing the memory frees only its record.
 *
 * Records of wrapped memories are reused: a freed one goes to the allocator's free list and the next wrap takes
 * it, so a steady stream allocates no record. The list holds no more records than were alive at once (shares
 * made downstream are freed, not kept).
 *
 * A memory can be given a release function that runs when its last reference goes, on the thread that drops it,
 * before the memory is freed (its data is still readable). It works for memories of any allocator (the dmabuf
 * allocator's as well) and allocates nothing per memory.
 */

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_NORVABUF_MEMORY_TYPE "norvabuf"

#define GST_TYPE_NORVABUF_ALLOCATOR (gst_norvabuf_allocator_get_type())
#define GST_IS_NORVABUF_ALLOCATOR(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_NORVABUF_ALLOCATOR))

typedef struct {
    GstAllocator parent;
    /*< private >*/
    GMutex lock;        /* guards the free list */
    gpointer free_list; /* records of freed memories, linked through the records */
    guint free_count;   /* records in the free list */
    guint records;      /* records made, in use or free */
} GstNorvaBufAllocator;

typedef struct {
    GstAllocatorClass parent_class;
} GstNorvaBufAllocatorClass;

GType gst_norvabuf_allocator_get_type(void);

/** A new allocator; the caller owns the one reference. */
GstAllocator *gst_norvabuf_allocator_new(void);

/** A memory of size and maxsize `size`, offset 0, no parent, with `flags`, showing `data`. */
GstMemory *gst_norvabuf_allocator_wrap(GstAllocator *allocator, GstMemoryFlags flags, gpointer data, gsize size);

/** Records the allocator made so far (in use or in its free list), and how many of them are free. */
void gst_norvabuf_allocator_get_records(GstAllocator *allocator, guint *records, guint *free_records);

/**
 * Makes a wrapped memory show a private copy of its data from now on, so that the wrapped data may be reused while
 * the memory lives on (shares of it follow). TRUE when the memory shows its own copy; FALSE for a share or the
 * memory of another allocator, which cannot be redirected. A thread that mapped the memory before keeps reading the
 * wrapped data until it unmaps.
 */
gboolean gst_norvabuf_memory_detach(GstMemory *memory);

/** Called when the last reference to a memory goes, before the memory is freed. */
typedef void (*GstNorvaBufReleaseFunc)(GstMemory *memory, gpointer user_data);

/**
 * Runs `func` with `user_data` when the last reference to `memory` goes. `memory` is a memory this allocator
 * wrapped or a memory of another allocator (GStreamer's dmabuf allocator, for one) that has no dispose function of
 * its own. A norvabuf memory keeps its own function; the memories of another allocator share one per allocator
 * (the last one given), kept with the allocator, which allocates only the first time.
 */
void gst_norvabuf_memory_set_release(GstMemory *memory, GstNorvaBufReleaseFunc func, gpointer user_data);

G_END_DECLS

#endif /* GST_NORVA_BUF_H */
