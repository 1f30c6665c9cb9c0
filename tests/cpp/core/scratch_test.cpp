#include "core/scratch.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <thread>
#include <vector>

namespace {

using quorix::core::KEEP_SIZE;
using quorix::core::Scratch;

struct Buffer {
    std::vector<int> data;
};

// Whether the object that served a problem of `size` comes back, warm, to the
// next small call. Each run has a thread of its own, so its pool starts empty
// and the next borrow can only be that object or a fresh one.
bool kept_after(std::size_t size) {
    bool warm = false;
    std::thread([&] {
        {
            auto served = Scratch<Buffer>::borrow(size);
            served->data.assign(5000, 1);
        }
        auto next = Scratch<Buffer>::borrow(10);
        warm = next->data.capacity() >= 5000;
    }).join();
    return warm;
}

TEST(Scratch, KeepsWhatServedSmallProblemsAndFreesWhatServedLargeOnes) {
    EXPECT_TRUE(kept_after(10));
    EXPECT_TRUE(kept_after(KEEP_SIZE));
    EXPECT_FALSE(kept_after(KEEP_SIZE + 1));
}

TEST(Scratch, NestedBorrowsAreDistinct) {
    auto outer = Scratch<Buffer>::borrow(10);
    auto inner = Scratch<Buffer>::borrow(10);  // a nested call of the same code
    EXPECT_NE(&*outer, &*inner);
}

}  // namespace
