// The bounded record log behind the board's event and bus logs: the newest records kept, by count and by bytes,
// whole across the end of the block, and oversized records left out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_record_ring.h"

namespace {

std::vector<std::string> recordsOf(const norva_sim::RecordRing &ring) {
    std::vector<std::string> out;
    ring.forEach([&](const uint8_t *data, size_t n) { out.emplace_back(reinterpret_cast<const char *>(data), n); });
    return out;
}

TEST(RecordRing, KeepsTheNewestWithinItsBounds) {
    struct Case {
        const char *name;
        size_t maxRecords, bytes;
        std::vector<std::string> added, kept;
    };
    const Case cases[] = {
        {"under both bounds", 4, 64, {"a", "bb", "ccc"}, {"a", "bb", "ccc"}},
        {"count bound", 2, 64, {"a", "bb", "ccc"}, {"bb", "ccc"}},
        // 4 bytes of length per record: 24 bytes hold two of 5 and 6 bytes, the third wraps round the end.
        {"byte bound, wrapping", 8, 24, {"hello", "world!", "wrapped"}, {"world!", "wrapped"}},
        {"long record drops several", 8, 28, {"a", "b", "c", "0123456789abcdef"}, {"c", "0123456789abcdef"}},
        {"record larger than the block", 8, 16, {"kept", "0123456789abcdef"}, {"kept"}},
        {"empty record", 2, 16, {"x", ""}, {"x", ""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        norva_sim::RecordRing ring(c.maxRecords, c.bytes);
        for (const std::string &r : c.added)
            ring.add(r.data(), r.size(), nullptr, 0);
        EXPECT_EQ(recordsOf(ring), c.kept);
        EXPECT_EQ(ring.size(), c.kept.size());
    }
}

// A long run through a small block: every record comes back whole, head and body together, in order.
TEST(RecordRing, RecordsStayWholeOverManyTurns) {
    norva_sim::RecordRing ring(3, 40);
    std::vector<std::string> expected;
    for (int i = 0; i < 200; i++) {
        const std::string head = "h" + std::to_string(i) + ":";
        const std::string body(static_cast<size_t>(i % 7), static_cast<char>('a' + i % 26));
        ring.add(head.data(), head.size(), body.data(), body.size());
        expected.push_back(head + body);
    }
    const std::vector<std::string> kept = recordsOf(ring);
    ASSERT_FALSE(kept.empty());
    ASSERT_LE(kept.size(), 3u);
    EXPECT_EQ(kept, std::vector<std::string>(expected.end() - static_cast<long>(kept.size()), expected.end()));
    ring.clear();
    EXPECT_TRUE(recordsOf(ring).empty());
    ring.add("z", 1, nullptr, 0);
    EXPECT_EQ(recordsOf(ring), std::vector<std::string>{"z"});
}

} // namespace
