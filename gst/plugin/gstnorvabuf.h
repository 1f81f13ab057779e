#ifndef GST_NORVA_BUF_H
#define GST_NORVA_BUF_H

/*
 * The allocator of the norva elements: it makes no memory of its own, it wraps memory that the ISP driver or a
 * dmabuf mapping already provides as GstMemory of type "norvabuf", without copying. The wrapped data stays the
 * caller's; freeing the memory frees only its record.
 */

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_NORVABUF_MEMORY_TYPE "norvabuf"

#define GST_TYPE_NORVABUF_ALLOCATOR (gst_norvabuf_allocator_get_type())

typedef struct {
    GstAllocator parent;
} GstNorvaBufAllocator;

typedef struct {
    GstAllocatorClass parent_class;
} GstNorvaBufAllocatorClass;

GType gst_norvabuf_allocator_get_type(void);

/** A new allocator; the caller owns the one reference. */
GstAllocator *gst_norvabuf_allocator_new(void);

/** A memory of size and maxsize `size`, offset 0, no parent, with `flags`, showing `data`. */
GstMemory *gst_norvabuf_allocator_wrap(GstAllocator *allocator, GstMemoryFlags flags, gpointer data, gsize size);

G_END_DECLS

#endif /* GST_NORVA_BUF_H */
