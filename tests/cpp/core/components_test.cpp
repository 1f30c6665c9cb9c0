#include "core/components.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support.hpp"

namespace quorix {
namespace {

TEST(Components, NumberedByLowestAtomWithDativeBondsJoining) {
    EXPECT_TRUE(core::connected_components(core::MolBuilder{}).empty());
    EXPECT_EQ(core::connected_components(test::read_or_fail("C.CC.[NH3]->[Cu]")),
              (std::vector<std::uint32_t>{0, 1, 1, 2, 2}));
    EXPECT_EQ(core::connected_components(test::read_or_fail("O.C1CC1.[Na+]")),
              (std::vector<std::uint32_t>{0, 1, 1, 1, 2}));
}

}  // namespace
}  // namespace quorix
