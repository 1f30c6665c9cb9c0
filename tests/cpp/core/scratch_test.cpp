#include "core/scratch.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Buffer {
    std::vector<int> data;
};

TEST(Scratch, WarmForSmallProblemsFreedAfterLargeOnesDistinctWhenNested) {
    using quorix::core::KEEP_SIZE;
    using quorix::core::Scratch;
    {
        auto outer = Scratch<Buffer>::borrow(10);
        outer->data.assign(100, 1);
        auto inner = Scratch<Buffer>::borrow(10);  // a nested call of the same code
        EXPECT_NE(&*outer, &*inner);
    }
    {
        auto again = Scratch<Buffer>::borrow(10);
        EXPECT_GE(again->data.capacity(), 100u) << "a small problem's memory stays warm";
        again->data.assign(1000, 2);
        auto big = Scratch<Buffer>::borrow(KEEP_SIZE + 1);
        big->data.assign(5000, 3);
    }
    for (int k = 0; k < 3; ++k) {
        auto next = Scratch<Buffer>::borrow(10);
        EXPECT_LT(next->data.capacity(), 5000u) << "a large problem's memory is given back";
    }
}

}  // namespace
