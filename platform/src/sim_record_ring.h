#ifndef NORVA_SIM_RECORD_RING_H
#define NORVA_SIM_RECORD_RING_H

/*
 * A bounded log of byte records (the board's event and bus logs): at most `maxRecords` records in one block of
 * `bytes` bytes, taken at the first record. Adding a record drops the oldest ones until it fits and allocates
 * nothing, so that a device written on every frame costs its log no allocation.
 */

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace norva_sim {

class RecordRing {
public:
    RecordRing(size_t maxRecords, size_t bytes) : maxRecords_(maxRecords), capacity_(bytes) {}

    /** Appends a record of the two parts together; one longer than the whole block is not kept. */
    void add(const void *head, size_t headSize, const void *body, size_t bodySize) {
        const size_t size = headSize + bodySize;
        if (size + kLength > capacity_ || maxRecords_ == 0)
            return;
        if (!block_)
            block_.reset(new uint8_t[capacity_]); // not zeroed: pages are taken as the log grows
        while (count_ > 0 && (used_ + kLength + size > capacity_ || count_ >= maxRecords_))
            dropOldest();
        const uint32_t length = static_cast<uint32_t>(size);
        size_t at = (first_ + used_) % capacity_;
        at = put(at, &length, kLength);
        at = put(at, head, headSize);
        put(at, body, bodySize);
        used_ += kLength + size;
        count_++;
    }

    /** Calls f(data, size) for every record, oldest first, on a copy of it. */
    template <class F> void forEach(F &&f) const {
        std::vector<uint8_t> record;
        size_t at = first_;
        for (size_t i = 0; i < count_; i++) {
            uint32_t length = 0;
            at = get(at, &length, kLength);
            record.resize(length);
            at = get(at, record.data(), length);
            f(record.data(), static_cast<size_t>(length));
        }
    }

    size_t size() const { return count_; }

    void clear() { first_ = used_ = count_ = 0; }

private:
    static constexpr size_t kLength = sizeof(uint32_t);

    size_t put(size_t at, const void *data, size_t n) {
        const uint8_t *p = static_cast<const uint8_t *>(data);
        const size_t first = n < capacity_ - at ? n : capacity_ - at;
        if (first > 0)
            std::memcpy(block_.get() + at, p, first);
        if (n > first)
            std::memcpy(block_.get(), p + first, n - first);
        return (at + n) % capacity_;
    }

    size_t get(size_t at, void *data, size_t n) const {
        uint8_t *p = static_cast<uint8_t *>(data);
        const size_t first = n < capacity_ - at ? n : capacity_ - at;
        if (first > 0)
            std::memcpy(p, block_.get() + at, first);
        if (n > first)
            std::memcpy(p + first, block_.get(), n - first);
        return (at + n) % capacity_;
    }

    void dropOldest() {
        uint32_t length = 0;
        get(first_, &length, kLength);
        first_ = (first_ + kLength + length) % capacity_;
        used_ -= kLength + length;
        count_--;
    }

    size_t maxRecords_;
    size_t capacity_;
    std::unique_ptr<uint8_t[]> block_;
    size_t first_ = 0; /* offset of the oldest record */
    size_t used_ = 0;  /* bytes of the records */
    size_t count_ = 0;
};

} // namespace norva_sim

#endif
