#include "conf/stats.hpp"

#include <charconv>
#include <functional>

namespace quorix::conf {
namespace {

#include "conf/stats_tables.inc"

std::size_t mix(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
}

// Unsigned decimal: an optional '+', then digits only, within the type's range.
template <class T>
bool parse_unsigned(std::string_view field, T& out) {
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    if (field.empty() || field.front() < '0' || field.front() > '9') return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
    return ec == std::errc() && end == field.data() + field.size();
}

bool parse_real(std::string_view field, double& out) {
    if (field.size() > 1 && field.front() == '+' && field[1] != '-' && field[1] != '+') field.remove_prefix(1);
    if (field.empty()) return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
    return ec == std::errc() && end == field.data() + field.size();
}

// Calls `row` with the fields of every line that is not a comment.
template <class Row>
void for_each_row(std::string_view text, Row&& row) {
    std::vector<std::string_view> fields;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.front() == '#') continue;
        fields = split_tsv_row(line);
        row(fields);
    }
}

bool parse_reals(const std::vector<std::string_view>& fields, std::size_t first, std::size_t count, StatsRow& out) {
    double* targets[4] = {&out.median, &out.p05, &out.p95, &out.mean};
    for (std::size_t k = 0; k < count; ++k)
        if (!parse_real(fields[first + k], *targets[k])) return false;
    return true;
}

}  // namespace

std::size_t BondLengthKeyHash::operator()(const BondLengthKey& k) const noexcept {
    const std::hash<std::string_view> h;
    std::size_t s = h(k.a);
    s = mix(s, h(k.b));
    s = mix(s, h(k.order));
    return mix(s, k.ring);
}

std::size_t AngleKeyHash::operator()(const AngleKey& k) const noexcept {
    std::size_t s = std::hash<std::string_view>()(k.centre);
    s = mix(s, k.degree);
    s = mix(s, k.aromatic);
    s = mix(s, k.centre_ring);
    return mix(s, k.angle_ring);
}

std::size_t TorsionKeyHash::operator()(const TorsionKey& k) const noexcept {
    return mix(mix(k.ring_size, k.aromatic), k.all_sp3);
}

std::vector<std::string_view> split_tsv_row(std::string_view line) {
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t tab = line.find('\t');
        out.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return out;
        line.remove_prefix(tab + 1);
    }
}

BondLengthStats parse_bond_length_table(std::string_view text) {
    BondLengthStats map;
    for_each_row(text, [&](const std::vector<std::string_view>& f) {
        if (f.size() < 9) return;
        BondLengthKey key{std::string(f[0]), std::string(f[1]), std::string(f[2]), 0};
        StatsRow row;
        if (!parse_unsigned(f[3], key.ring) || !parse_reals(f, 5, 4, row)) return;
        map.insert_or_assign(std::move(key), row);
    });
    return map;
}

BondAngleStats parse_bond_angle_table(std::string_view text) {
    BondAngleStats map;
    for_each_row(text, [&](const std::vector<std::string_view>& f) {
        if (f.size() < 10) return;
        AngleKey key{std::string(f[0]), 0, 0, 0, 0};
        StatsRow row;
        if (!parse_unsigned(f[1], key.degree) || !parse_unsigned(f[2], key.aromatic) ||
            !parse_unsigned(f[3], key.centre_ring) || !parse_unsigned(f[4], key.angle_ring) ||
            !parse_reals(f, 6, 4, row))
            return;
        map.insert_or_assign(std::move(key), row);
    });
    return map;
}

RingTorsionStats parse_ring_torsion_table(std::string_view text) {
    RingTorsionStats map;
    for_each_row(text, [&](const std::vector<std::string_view>& f) {
        if (f.size() < 7) return;
        std::size_t ring = 0;
        std::uint8_t aromatic = 0, all_sp3 = 0;
        StatsRow row;
        if (!parse_unsigned(f[0], ring) || !parse_unsigned(f[1], aromatic) || !parse_unsigned(f[2], all_sp3) ||
            !parse_reals(f, 4, 3, row))
            return;
        map.insert_or_assign(TorsionKey{ring, aromatic == 1, all_sp3 == 1}, row);
    });
    return map;
}

std::string_view bond_length_text() { return BOND_LENGTH_TEXT; }
std::string_view bond_angle_text() { return BOND_ANGLE_TEXT; }
std::string_view ring_torsion_text() { return RING_TORSION_TEXT; }

// Function-local statics: each map is built once, on its own first use, and
// concurrent first users wait for the one that builds it.
const BondLengthStats& bond_length_stats() {
    static const BondLengthStats map = parse_bond_length_table(BOND_LENGTH_TEXT);
    return map;
}

const BondAngleStats& bond_angle_stats() {
    static const BondAngleStats map = parse_bond_angle_table(BOND_ANGLE_TEXT);
    return map;
}

const RingTorsionStats& ring_torsion_stats() {
    static const RingTorsionStats map = parse_ring_torsion_table(RING_TORSION_TEXT);
    return map;
}

namespace {
template <class Map, class Key>
std::optional<StatsRow> find_in(const Map& map, const Key& key) {
    const auto it = map.find(key);
    if (it == map.end()) return std::nullopt;
    return it->second;
}
}  // namespace

std::optional<StatsRow> find_bond_length(const BondLengthKey& key) { return find_in(bond_length_stats(), key); }
std::optional<StatsRow> find_bond_angle(const AngleKey& key) { return find_in(bond_angle_stats(), key); }
std::optional<StatsRow> find_ring_torsion(const TorsionKey& key) { return find_in(ring_torsion_stats(), key); }

}  // namespace quorix::conf
