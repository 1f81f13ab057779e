#include "gstnorvabuf.h"

#include <cstring>

namespace {

struct NorvaBufMemory {
    GstMemory mem;
    gpointer data;        /* read and switched atomically: a detach redirects it to `owned` */
    gpointer owned;       /* a private copy of the data made by a detach, freed with the record */
    NorvaBufMemory *next; /* in the allocator's free list */
    bool pooled;          /* a wrap, kept for reuse when freed; a share is freed */
    GstNorvaBufReleaseFunc release;
    gpointer releaseData;
};

/** The release function of the memories of another allocator, kept with that allocator. */
struct ForeignRelease {
    GstNorvaBufReleaseFunc func;
    gpointer data;
};

GQuark foreignReleaseQuark() {
    static GQuark quark = g_quark_from_static_string("GstNorvaBufRelease");
    return quark;
}

GstNorvaBufAllocator *norvabufAllocator(GstAllocator *allocator) {
    return reinterpret_cast<GstNorvaBufAllocator *>(allocator);
}

/** A record from the free list, or a new one counted as made. */
NorvaBufMemory *takeRecord(GstAllocator *allocator) {
    GstNorvaBufAllocator *self = norvabufAllocator(allocator);
    g_mutex_lock(&self->lock);
    NorvaBufMemory *m = static_cast<NorvaBufMemory *>(self->free_list);
    if (m != nullptr) {
        self->free_list = m->next;
        --self->free_count;
    } else {
        ++self->records;
    }
    g_mutex_unlock(&self->lock);
    if (m == nullptr)
        m = g_new0(NorvaBufMemory, 1);
    return m;
}

NorvaBufMemory *new_memory(GstAllocator *allocator, bool pooled, GstMemoryFlags flags, GstMemory *parent, gpointer data,
                           gsize maxsize, gsize align, gsize offset, gsize size) {
    NorvaBufMemory *m = pooled ? takeRecord(allocator) : g_new0(NorvaBufMemory, 1);
    gst_memory_init(&m->mem, flags, allocator, parent, maxsize, align, offset, size);
    m->data = data;
    m->owned = nullptr;
    m->next = nullptr;
    m->pooled = pooled;
    m->release = nullptr;
    m->releaseData = nullptr;
    return m;
}

/** The memory a share was made of (shares are made of the root memory), or the memory itself. */
NorvaBufMemory *rootOf(GstMemory *mem) {
    return reinterpret_cast<NorvaBufMemory *>(mem->parent != nullptr ? mem->parent : mem);
}

/** The data a memory shows now: its root's, which a detach may have redirected to a copy. */
guint8 *dataOf(GstMemory *mem) { return static_cast<guint8 *>(g_atomic_pointer_get(&rootOf(mem)->data)); }

gpointer norvabuf_map(GstMemory *mem, gsize, GstMapFlags) { return dataOf(mem); }

void norvabuf_unmap(GstMemory *) {}

GstMemory *norvabuf_copy(GstMemory *mem, gssize offset, gssize size) {
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
        std::memcpy(info.data, dataOf(mem) + mem->offset + offset, static_cast<size_t>(size));
    gst_memory_unmap(copy, &info);
    return copy;
}

GstMemory *norvabuf_share(GstMemory *mem, gssize offset, gssize size) {
    GstMemory *parent = mem->parent ? mem->parent : mem;
    if (size == -1)
        size = static_cast<gssize>(mem->size) - offset;
    GstMemoryFlags flags =
        static_cast<GstMemoryFlags>(GST_MINI_OBJECT_FLAGS(parent) | GST_MINI_OBJECT_FLAG_LOCK_READONLY);
    return &new_memory(mem->allocator, false, flags, parent, dataOf(mem), mem->maxsize, mem->align,
                       mem->offset + offset, static_cast<gsize>(size))
                ->mem;
}

gboolean norvabuf_is_span(GstMemory *first, GstMemory *second, gsize *offset) {
    if (offset)
        *offset = first->offset - (first->parent ? first->parent->offset : 0);
    return dataOf(first) + first->offset + first->size == dataOf(second) + second->offset;
}

/** The dispose function of memories with a release function: runs it; the memory is then freed as usual. */
gboolean memoryDispose(GstMiniObject *object) {
    GstMemory *mem = reinterpret_cast<GstMemory *>(object);
    GstNorvaBufReleaseFunc func = nullptr;
    gpointer data = nullptr;
    if (GST_IS_NORVABUF_ALLOCATOR(mem->allocator)) {
        const NorvaBufMemory *m = reinterpret_cast<NorvaBufMemory *>(mem);
        func = m->release;
        data = m->releaseData;
    } else if (mem->allocator != nullptr) {
        const auto *r =
            static_cast<const ForeignRelease *>(g_object_get_qdata(G_OBJECT(mem->allocator), foreignReleaseQuark()));
        if (r != nullptr) {
            func = r->func;
            data = r->data;
        }
    }
    if (func != nullptr)
        func(mem, data);
    return TRUE;
}

} // namespace

G_DEFINE_TYPE(GstNorvaBufAllocator, gst_norvabuf_allocator, GST_TYPE_ALLOCATOR)

static void gst_norvabuf_allocator_free(GstAllocator *allocator, GstMemory *memory) {
    NorvaBufMemory *m = reinterpret_cast<NorvaBufMemory *>(memory);
    g_free(m->owned);
    m->owned = nullptr;
    if (!m->pooled) {
        g_free(m);
        return;
    }
    GstNorvaBufAllocator *self = norvabufAllocator(allocator);
    g_mutex_lock(&self->lock);
    m->next = static_cast<NorvaBufMemory *>(self->free_list);
    self->free_list = m;
    ++self->free_count;
    g_mutex_unlock(&self->lock);
}

static void gst_norvabuf_allocator_finalize(GObject *object) {
    GstNorvaBufAllocator *self = reinterpret_cast<GstNorvaBufAllocator *>(object);
    // Every memory holds a reference to its allocator: all records are in the free list now.
    NorvaBufMemory *m = static_cast<NorvaBufMemory *>(self->free_list);
    while (m != nullptr) {
        NorvaBufMemory *next = m->next;
        g_free(m);
        m = next;
    }
    self->free_list = nullptr;
    g_mutex_clear(&self->lock);
    G_OBJECT_CLASS(gst_norvabuf_allocator_parent_class)->finalize(object);
}

static void gst_norvabuf_allocator_class_init(GstNorvaBufAllocatorClass *klass) {
    GstAllocatorClass *allocator_class = GST_ALLOCATOR_CLASS(klass);
    allocator_class->alloc = nullptr;
    allocator_class->free = gst_norvabuf_allocator_free;
    G_OBJECT_CLASS(klass)->finalize = gst_norvabuf_allocator_finalize;
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
    g_mutex_init(&self->lock);
    self->free_list = nullptr;
    self->free_count = 0;
    self->records = 0;
}

GstAllocator *gst_norvabuf_allocator_new(void) {
    GstAllocator *allocator = GST_ALLOCATOR(g_object_new(GST_TYPE_NORVABUF_ALLOCATOR, nullptr));
    gst_object_ref_sink(allocator);
    return allocator;
}

GstMemory *gst_norvabuf_allocator_wrap(GstAllocator *allocator, GstMemoryFlags flags, gpointer data, gsize size) {
    g_return_val_if_fail(GST_IS_NORVABUF_ALLOCATOR(allocator), nullptr);
    return &new_memory(allocator, true, flags, nullptr, data, size, 0, 0, size)->mem;
}

void gst_norvabuf_allocator_get_records(GstAllocator *allocator, guint *records, guint *free_records) {
    g_return_if_fail(GST_IS_NORVABUF_ALLOCATOR(allocator));
    GstNorvaBufAllocator *self = norvabufAllocator(allocator);
    g_mutex_lock(&self->lock);
    if (records != nullptr)
        *records = self->records;
    if (free_records != nullptr)
        *free_records = self->free_count;
    g_mutex_unlock(&self->lock);
}

gboolean gst_norvabuf_memory_detach(GstMemory *memory) {
    g_return_val_if_fail(memory != nullptr, FALSE);
    if (!GST_IS_NORVABUF_ALLOCATOR(memory->allocator) || memory->parent != nullptr)
        return FALSE;
    NorvaBufMemory *m = reinterpret_cast<NorvaBufMemory *>(memory);
    if (m->owned != nullptr)
        return TRUE;
    gpointer copy = g_malloc(memory->maxsize);
    std::memcpy(copy, m->data, memory->maxsize);
    m->owned = copy;
    g_atomic_pointer_set(&m->data, copy);
    return TRUE;
}

void gst_norvabuf_memory_set_release(GstMemory *memory, GstNorvaBufReleaseFunc func, gpointer user_data) {
    g_return_if_fail(memory != nullptr && memory->allocator != nullptr);
    if (GST_IS_NORVABUF_ALLOCATOR(memory->allocator)) {
        NorvaBufMemory *m = reinterpret_cast<NorvaBufMemory *>(memory);
        m->release = func;
        m->releaseData = user_data;
    } else {
        GObject *allocator = G_OBJECT(memory->allocator);
        const auto *r = static_cast<const ForeignRelease *>(g_object_get_qdata(allocator, foreignReleaseQuark()));
        if (r == nullptr || r->func != func || r->data != user_data) {
            ForeignRelease *fresh = g_new(ForeignRelease, 1);
            fresh->func = func;
            fresh->data = user_data;
            g_object_set_qdata_full(allocator, foreignReleaseQuark(), fresh, g_free);
        }
    }
    GST_MINI_OBJECT_CAST(memory)->dispose = memoryDispose;
}
