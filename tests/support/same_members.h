#ifndef NORVA_TEST_SAME_MEMBERS_H
#define NORVA_TEST_SAME_MEMBERS_H

// Record comparison member by member. Comparing whole records with memcmp also compares their padding, whose
// bytes a copy need not keep (an optimised build copies members one by one): such a test fails in one build
// type and passes in another.

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>

namespace norva_test {

/** One member of a record: its name, offset and size. */
struct Member {
    const char *name;
    size_t offset;
    size_t size;
};

#define NORVA_MEMBER(Type, m)                                                                                          \
    ::norva_test::Member { #m, offsetof(Type, m), sizeof(static_cast <const Type *>(nullptr)->m) }

/** The names of the members whose bytes differ, separated by spaces; empty when all are the same. */
template <typename T> std::string DifferentMembers(const T &a, const T &b, std::initializer_list<Member> members) {
    std::string different;
    for (const Member &m : members) {
        if (std::memcmp(reinterpret_cast<const char *>(&a) + m.offset, reinterpret_cast<const char *>(&b) + m.offset,
                        m.size) != 0) {
            different += different.empty() ? "" : " ";
            different += m.name;
        }
    }
    return different;
}

} // namespace norva_test

#endif
