#include "core/CCEntryPool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {

struct Record {
    Record* next;
    std::int64_t value;
    bool flag;
};

} // namespace

// Records spread over several blocks keep their own storage and values, and a freed slot is
// handed out again before the pool grows.
TEST(EntryPoolTest, RecordsAcrossBlocksStayDistinctAndFreedSlotsAreReused) {
    CCEntryPool<Record, 4> pool;
    std::vector<Record*> made;
    for (std::int64_t i = 0; i < 11; ++i)
        made.push_back(pool.make(nullptr, i, i % 2 == 0));
    EXPECT_EQ(std::set<Record*>(made.begin(), made.end()).size(), made.size());
    for (std::int64_t i = 0; i < 11; ++i) {
        EXPECT_EQ(made[i]->value, i);
        EXPECT_EQ(made[i]->flag, i % 2 == 0);
    }
    // Consecutive records of one block sit next to each other.
    EXPECT_EQ(reinterpret_cast<char*>(made[1]) - reinterpret_cast<char*>(made[0]),
              static_cast<std::ptrdiff_t>(sizeof(Record)));

    pool.destroy(made[5]);
    pool.destroy(made[2]);
    Record* again = pool.make();
    EXPECT_EQ(again, made[2]);
    EXPECT_EQ(again->value, 0); // brace-initialised, not left over
    EXPECT_EQ(again->next, nullptr);
    EXPECT_EQ(pool.make(), made[5]);
    pool.destroy(nullptr); // nothing

    for (Record* r : made)
        pool.destroy(r);
}
