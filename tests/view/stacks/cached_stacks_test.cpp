#include "view/stacks/cached_stacks.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

StackEventData Definition(std::uint8_t opcode, std::uint64_t key, std::vector<std::uint64_t> frames) {
    StackEventData stack;
    stack.opcode = opcode;
    stack.StackKey = key;
    stack.frames = std::move(frames);
    return stack;
}

TEST(CachedStacks, EachReferenceTakesTheNextDefinitionOfItsKey) {
    std::vector<std::pair<std::uint32_t, std::vector<std::uint64_t>>> resolved;
    CachedStacks stacks([&](std::uint32_t waiting, const std::vector<std::uint64_t>& frames) {
        resolved.emplace_back(waiting, frames);
    });
    stacks.Refer(0xA0, 1);
    stacks.Refer(0xA0, 2);
    stacks.Define(Definition(kOpcodeStackKeyDelete, 0xB0, {9}));  // nobody waits for it
    stacks.Define(Definition(kOpcodeStackKeyDelete, 0xA0, {1, 2}));
    stacks.Refer(0xA0, 3);  // the key, reused for another stack
    stacks.Define(Definition(kOpcodeStack, 0xA0, {7}));  // a whole stack defines nothing
    stacks.Define(Definition(kOpcodeStackKeyRundown, 0xA0, {3}));
    stacks.Refer(0xC0, 4);  // never defined

    using Frames = std::vector<std::uint64_t>;
    ASSERT_EQ(resolved.size(), 3U);
    EXPECT_EQ(resolved[0], std::make_pair(1U, Frames{1, 2}));
    EXPECT_EQ(resolved[1], std::make_pair(2U, Frames{1, 2}));
    EXPECT_EQ(resolved[2], std::make_pair(3U, Frames{3}));
    EXPECT_EQ(stacks.undefined_references(), 1U);
}

}  // namespace
}  // namespace dormiscope
