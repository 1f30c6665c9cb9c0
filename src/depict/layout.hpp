#pragma once
// Shared vocabulary of the 2-D layout: points in bond-length units, the ordered
// position map, the degradation records, and the small scoring services and
// orderings that every layout stage decides its ties with.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "core/builder.hpp"
#include "core/error.hpp"

namespace quorix::depict {

struct Point {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const Point&) const = default;
};

inline Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
inline Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
inline Point operator*(double s, Point a) { return {s * a.x, s * a.y}; }
inline double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
inline double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }
double length(Point a);
// Counter-clockwise turn by `phi`.
Point rotated(Point v, double phi);
// The same turn given its cosine and sine.
inline Point rotated(Point v, double c, double s) { return {v.x * c - v.y * s, v.x * s + v.y * c}; }
// Divided by its length unless that is below the machine epsilon.
Point normalised(Point v);

inline constexpr double EPSILON = 2.220446049250313e-16;
inline constexpr double LARGEST = std::numeric_limits<double>::max();

// Atom index -> point, iterated in ascending atom index: every sum and minimum
// over it runs in that order. One sorted array rather than a tree: the maps are
// small, copied often and walked in order far more than they grow, and a node per
// atom cost more in allocation than the lookups it saved. Insertion invalidates
// iterators and references, unlike a tree's.
class PositionMap {
public:
    using key_type = std::uint32_t;
    using mapped_type = Point;
    using value_type = std::pair<std::uint32_t, Point>;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    PositionMap() = default;
    PositionMap(std::initializer_list<value_type> items) : PositionMap(items.begin(), items.end()) {}
    // Like a tree built from the range: the first point given for an atom stays.
    template <class It>
    PositionMap(It first, It last) {
        for (; first != last; ++first) emplace(first->first, first->second);
    }

    iterator begin() { return items_.begin(); }
    iterator end() { return items_.end(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear() { items_.clear(); }
    void reserve(std::size_t n) { items_.reserve(n); }

    iterator find(std::uint32_t atom) { return items_.begin() + static_cast<std::ptrdiff_t>(slot(atom)); }
    const_iterator find(std::uint32_t atom) const {
        return items_.begin() + static_cast<std::ptrdiff_t>(slot(atom));
    }
    bool contains(std::uint32_t atom) const { return slot(atom) != items_.size(); }
    std::size_t count(std::uint32_t atom) const { return contains(atom) ? 1 : 0; }
    const Point& at(std::uint32_t atom) const;
    Point& at(std::uint32_t atom) { return const_cast<Point&>(std::as_const(*this).at(atom)); }
    Point& operator[](std::uint32_t atom) { return emplace(atom, Point{}).first->second; }

    // Adds the atom unless present; (its entry, whether it was added).
    std::pair<iterator, bool> emplace(std::uint32_t atom, Point p) {
        if (items_.empty() || items_.back().first < atom) {
            items_.emplace_back(atom, p);
            return {items_.end() - 1, true};
        }
        const auto it = lower(atom);
        if (it->first == atom) return {it, false};
        return {items_.emplace(it, atom, p), true};
    }
    iterator emplace_hint(const_iterator, std::uint32_t atom, Point p) { return emplace(atom, p).first; }

    bool operator==(const PositionMap&) const = default;

private:
    iterator lower(std::uint32_t atom) {
        return std::partition_point(items_.begin(), items_.end(), [atom](const value_type& e) { return e.first < atom; });
    }
    // The index of the atom's entry, or size() when absent.
    std::size_t slot(std::uint32_t atom) const {
        std::size_t lo = 0, n = items_.size();
        while (n > 0) {
            const std::size_t half = n / 2;
            if (items_[lo + half].first < atom) {
                lo += half + 1;
                n -= half + 1;
            } else {
                n = half;
            }
        }
        return lo < items_.size() && items_[lo].first == atom ? lo : items_.size();
    }

    std::vector<value_type> items_;
};

enum class TemplateLookup : std::uint8_t { Hit = 0, NotInTable = 1, NoFingerprint = 2 };

struct BridgedRingSystem {
    std::vector<std::uint32_t> atoms;
    TemplateLookup template_lookup = TemplateLookup::Hit;
    bool operator==(const BridgedRingSystem&) const = default;
};
struct HaptoCoordination {
    std::uint32_t metal = 0;
    std::vector<std::uint32_t> ring;
    bool operator==(const HaptoCoordination&) const = default;
};
using Degradation = std::variant<BridgedRingSystem, HaptoCoordination>;

// Quantisation of layout values before they are compared: one millionth.
inline constexpr double RESOLUTION = 1e6;

// The ranks of `atoms`, ascending: the key of an atom set.
std::vector<std::uint32_t> rank_sorted_atoms(std::span<const std::uint32_t> ranks,
                                             std::span<const std::uint32_t> atoms);

// (rank key of record i, i) for records that hold an `atoms` list.
template <class Record>
std::pair<std::vector<std::uint32_t>, std::size_t> component_rank_key(std::span<const Record> records,
                                                                      std::span<const std::uint32_t> ranks,
                                                                      std::size_t i) {
    return {rank_sorted_atoms(ranks, at(records, i).atoms), i};
}

// Rank lists compare element by element, a proper prefix first: std::vector's
// own ordering. Sets of more atoms go first in the size-first ordering.
inline bool size_then_rank_less(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    if (a.size() != b.size()) return a.size() > b.size();
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}
inline bool size_then_rank_less(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    return size_then_rank_less(std::span<const std::uint32_t>(a), std::span<const std::uint32_t>(b));
}

// (smaller end rank, larger end rank, bond index).
std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> bond_rank_key(const core::MolBuilder& mol,
                                                                      std::span<const std::uint32_t> ranks,
                                                                      std::uint32_t bond);

// Smallest rank in the set; an empty set gives all-ones and sorts last.
std::uint32_t lowest_rank(std::span<const std::uint32_t> ranks, std::span<const std::uint32_t> atoms);

// Crowding near the proposed bond ends one bond length from `origin` in each
// direction: round(sum of 1/(d^2 + 1e-6) x 1e6); lower is roomier.
std::int64_t crowding_score(const PositionMap& placed, std::span<const double> angles, Point origin);
// crowding_score(placed, first, origin) < crowding_score(placed, second, origin),
// told first from sums taken without a square root whenever their error bounds
// already settle it; only a close call takes the two exact sums.
// `first_ends` and `second_ends`, when given (a slot per angle), receive the
// proposed bond ends origin + (cos, sin) that the sums measure from.
bool crowding_less(const PositionMap& placed, std::span<const double> first, std::span<const double> second,
                   Point origin, std::span<Point> first_ends = {}, std::span<Point> second_ends = {});

// The smallest distance between two candidate points or from a candidate to a
// placed atom other than the two ignored ones; larger means more room.
double placement_clearance(const PositionMap& placed, std::uint32_t ignore_a, std::uint32_t ignore_b,
                           std::span<const Point> candidates);

// The atom count as u32, which every atom index of the depiction assumes.
inline std::uint32_t atom_count_u32(const core::MolBuilder& mol) {
    if (mol.atoms.size() > 0xFFFFFFFFull) internal_error("原子数超出 u32");
    return static_cast<std::uint32_t>(mol.atoms.size());
}

// The bond count as u32, which every bond walk of the depiction assumes.
inline std::uint32_t bond_count_u32(const core::MolBuilder& mol) {
    if (mol.bonds.size() > 0xFFFFFFFFull) internal_error("键数超出 u32");
    return static_cast<std::uint32_t>(mol.bonds.size());
}

// Every cis/trans double bond drawn as stored.
bool stereo_drawn_intact(const core::MolBuilder& mol, const PositionMap& positions);

}  // namespace quorix::depict
