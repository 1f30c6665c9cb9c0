#pragma once
// Bond-length, bond-angle and ring-torsion statistics compiled in as
// tab-separated text. Each table becomes a hash map the first time a lookup
// needs it; the maps are only looked up, never iterated, so their hashing
// cannot reach a result.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorix::conf {

struct BondLengthKey {
    std::string a;      // element symbols in byte-wise order
    std::string b;
    std::string order;  // "1", "2", "3" or "ar"
    std::size_t ring = 0;  // 0: the bond is in no ring
    bool operator==(const BondLengthKey&) const = default;
};

struct AngleKey {
    std::string centre;
    std::size_t degree = 0;
    std::uint8_t aromatic = 0;
    std::size_t centre_ring = 0;
    std::size_t angle_ring = 0;
    bool operator==(const AngleKey&) const = default;
};

struct TorsionKey {
    std::size_t ring_size = 0;
    bool aromatic = false;
    bool all_sp3 = false;
    bool operator==(const TorsionKey&) const = default;
};

struct StatsRow {
    double median = 0.0;
    double p05 = 0.0;
    double p95 = 0.0;
    double mean = 0.0;  // not read from the torsion table
};

struct BondLengthKeyHash { std::size_t operator()(const BondLengthKey& k) const noexcept; };
struct AngleKeyHash { std::size_t operator()(const AngleKey& k) const noexcept; };
struct TorsionKeyHash { std::size_t operator()(const TorsionKey& k) const noexcept; };

using BondLengthStats = std::unordered_map<BondLengthKey, StatsRow, BondLengthKeyHash>;
using BondAngleStats = std::unordered_map<AngleKey, StatsRow, AngleKeyHash>;
using RingTorsionStats = std::unordered_map<TorsionKey, StatsRow, TorsionKeyHash>;

// A line cut at every tab; adjacent tabs give an empty field.
std::vector<std::string_view> split_tsv_row(std::string_view line);

// Malformed rows are dropped; a later row with an equal key replaces an earlier one.
BondLengthStats parse_bond_length_table(std::string_view text);
BondAngleStats parse_bond_angle_table(std::string_view text);
RingTorsionStats parse_ring_torsion_table(std::string_view text);

// The compiled texts.
std::string_view bond_length_text();
std::string_view bond_angle_text();
std::string_view ring_torsion_text();

// The process-wide maps, each parsed from its text on its own first use.
const BondLengthStats& bond_length_stats();
const BondAngleStats& bond_angle_stats();
const RingTorsionStats& ring_torsion_stats();

// Lookups that never insert.
std::optional<StatsRow> find_bond_length(const BondLengthKey& key);
std::optional<StatsRow> find_bond_angle(const AngleKey& key);
std::optional<StatsRow> find_ring_torsion(const TorsionKey& key);

}  // namespace quorix::conf
