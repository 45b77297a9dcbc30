#include "model/thread_id_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "model/trace_model.h"

namespace dormiscope {
namespace {

// Against std::map as the reference: ids that collide in the low bits, id 0,
// the largest id, re-registrations and growth far past the first capacity.
TEST(ThreadIdTable, AnswersLikeAMapThroughGrowthAndReRegistration) {
    std::vector<ThreadEntry> entries(3);
    ThreadIdTable table;
    std::map<std::uint32_t, ThreadEntry*> reference;
    std::mt19937 random(7);
    const auto set = [&](std::uint32_t id, ThreadEntry* entry) {
        table.Set(id, entry);
        reference[id] = entry;
    };
    set(0, &entries[0]);
    set(0xFFFFFFFF, &entries[1]);
    for (std::uint32_t id = 4; id < 40'000; id += 4) {
        set(id << 12, &entries[id % 3]);
        if (random() % 5 == 0) {
            set(id << 12, &entries[(id + 1) % 3]);
        }
    }
    EXPECT_EQ(table.size(), reference.size());
    for (const auto& [id, entry] : reference) {
        ASSERT_EQ(table.Find(id), entry) << id;
    }
    for (std::uint32_t id = 1; id < 4096; id += 7) {
        EXPECT_EQ(table.Find(id), nullptr) << id;
    }
}

}  // namespace
}  // namespace dormiscope
