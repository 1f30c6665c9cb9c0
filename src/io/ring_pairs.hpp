#pragma once
// The unordered atom pairs already joined by a ring-closure bond, for the readers
// that refuse a ring closure repeating a bond. Few rings are scanned directly; many
// switch to an open-addressing table. `RingBond` is any record with `begin` and `end`.
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "core/flat_set.hpp"

namespace quorix::io {

class RingPairs {
public:
    template <class RingBond>
    bool contains(std::span<const RingBond> bonds, std::uint32_t a, std::uint32_t b) const {
        if (bonds.size() <= FEW) {
            for (const RingBond& r : bonds)
                if ((r.begin == a && r.end == b) || (r.begin == b && r.end == a)) return true;
            return false;
        }
        return set_.contains(key(a, b));
    }
    // Called after `bonds` has grown by the new pair.
    template <class RingBond>
    void added(std::span<const RingBond> bonds) {
        if (bonds.size() <= FEW) return;
        if (set_.size() == 0)
            for (const RingBond& r : bonds.first(bonds.size() - 1)) set_.insert(key(r.begin, r.end));
        set_.insert(key(bonds.back().begin, bonds.back().end));
    }

private:
    static constexpr std::size_t FEW = 16;
    core::FlatU64Set set_;

    static std::uint64_t key(std::uint32_t a, std::uint32_t b) {
        if (a > b) std::swap(a, b);
        return (std::uint64_t(a) << 32) | b;  // b > a >= 0, so never 0
    }
};

}  // namespace quorix::io
