#include "gstnorvabuf.h"

#include <cstring>

namespace {

struct NorvaBufMemory {
    GstMemory mem;
    gpointer data;
};

NorvaBufMemory *new_memory(GstAllocator *allocator, GstMemoryFlags flags, GstMemory *parent, gpointer data,
                           gsize maxsize, gsize align, gsize offset, gsize size) {
    NorvaBufMemory *m = g_new0(NorvaBufMemory, 1);
    gst_memory_init(&m->mem, flags, allocator, parent, maxsize, align, offset, size);
    m->data = data;
    return m;
}

gpointer norvabuf_map(GstMemory *mem, gsize, GstMapFlags) { return reinterpret_cast<NorvaBufMemory *>(mem)->data; }

void norvabuf_unmap(GstMemory *) {}

GstMemory *norvabuf_copy(GstMemory *mem, gssize offset, gssize size) {
    const NorvaBufMemory *m = reinterpret_cast<NorvaBufMemory *>(mem);
    if (size == -1)
        size = static_cast<gssize>(mem->size) > offset ? static_cast<gssize>(mem->size) - offset : 0;
    // Never read outside the wrapped area.
    gssize available = static_cast<gssize>(mem->maxsize) - static_cast<gssize>(mem->offset) - offset;
    if (offset < 0 || available < 0)
        size = 0;
    else if (size > available)
        size = available;

    GstMemory *copy = gst_allocator_alloc(nullptr, static_cast<gsize>(size), nullptr);
    if (!copy)
        return nullptr;
    GstMapInfo info;
    if (!gst_memory_map(copy, &info, GST_MAP_WRITE)) {
        gst_memory_unref(copy);
        return nullptr;
    }
    if (size > 0)
        std::memcpy(info.data, static_cast<const guint8 *>(m->data) + mem->offset + offset, static_cast<size_t>(size));
    gst_memory_unmap(copy, &info);
    return copy;
}

GstMemory *norvabuf_share(GstMemory *mem, gssize offset, gssize size) {
    const NorvaBufMemory *m = reinterpret_cast<NorvaBufMemory *>(mem);
    GstMemory *parent = mem->parent ? mem->parent : mem;
    if (size == -1)
        size = static_cast<gssize>(mem->size) - offset;
    GstMemoryFlags flags =
        static_cast<GstMemoryFlags>(GST_MINI_OBJECT_FLAGS(parent) | GST_MINI_OBJECT_FLAG_LOCK_READONLY);
    return &new_memory(mem->allocator, flags, parent, m->data, mem->maxsize, mem->align, mem->offset + offset,
                       static_cast<gsize>(size))
                ->mem;
}

gboolean norvabuf_is_span(GstMemory *first, GstMemory *second, gsize *offset) {
    const NorvaBufMemory *a = reinterpret_cast<NorvaBufMemory *>(first);
    const NorvaBufMemory *b = reinterpret_cast<NorvaBufMemory *>(second);
    if (offset)
        *offset = first->offset - (first->parent ? first->parent->offset : 0);
    return static_cast<const guint8 *>(a->data) + first->offset + first->size ==
           static_cast<const guint8 *>(b->data) + second->offset;
}

} // namespace

G_DEFINE_TYPE(GstNorvaBufAllocator, gst_norvabuf_allocator, GST_TYPE_ALLOCATOR)

static void gst_norvabuf_allocator_free(GstAllocator *, GstMemory *memory) {
    g_free(reinterpret_cast<NorvaBufMemory *>(memory));
}

static void gst_norvabuf_allocator_class_init(GstNorvaBufAllocatorClass *klass) {
    GstAllocatorClass *allocator_class = GST_ALLOCATOR_CLASS(klass);
    allocator_class->alloc = nullptr;
    allocator_class->free = gst_norvabuf_allocator_free;
}

static void gst_norvabuf_allocator_init(GstNorvaBufAllocator *self) {
    GstAllocator *allocator = GST_ALLOCATOR(self);
    allocator->mem_type = GST_NORVABUF_MEMORY_TYPE;
    allocator->mem_map = norvabuf_map;
    allocator->mem_unmap = norvabuf_unmap;
    allocator->mem_copy = norvabuf_copy;
    allocator->mem_share = norvabuf_share;
    allocator->mem_is_span = norvabuf_is_span;
    GST_OBJECT_FLAG_SET(allocator, GST_ALLOCATOR_FLAG_CUSTOM_ALLOC);
}

GstAllocator *gst_norvabuf_allocator_new(void) {
    GstAllocator *allocator = GST_ALLOCATOR(g_object_new(GST_TYPE_NORVABUF_ALLOCATOR, nullptr));
    gst_object_ref_sink(allocator);
    return allocator;
}

GstMemory *gst_norvabuf_allocator_wrap(GstAllocator *allocator, GstMemoryFlags flags, gpointer data, gsize size) {
    return &new_memory(allocator, flags, nullptr, data, size, 0, 0, size)->mem;
}
