#pragma once
// Substructure search: every embedding of a SMARTS query into a molecule, found
// by backtracking over an explicit stack, with recursive groups memoised per
// (group, atom) and tetrahedral and cis/trans marks checked on complete matches.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/builder.hpp"
#include "core/scratch.hpp"
#include "io/smarts/mol.hpp"
#include "match/props.hpp"

namespace quorix::match {

struct MatchOptions {
    std::uint64_t max_matches = 0;  // 0 = no limit
    bool uniquify = true;
    bool use_chirality = true;
};

// Entry i is the molecule atom matched to query atom i.
using Match = std::vector<std::uint32_t>;

struct MatchResult {
    std::vector<Match> matches;  // in the order the search completed them
    std::uint64_t steps = 0;     // candidate atoms tried, recursive groups included
};

// `props` must be compute_query_props of the molecule in its current state, with
// at least query_needs(query).
MatchResult find_matches_counted(const io::Query& query, const core::MolBuilder& mol, const QueryProps& props,
                                 const MatchOptions& options);
std::vector<Match> find_matches(const io::Query& query, const core::MolBuilder& mol, const QueryProps& props,
                                const MatchOptions& options);

namespace detail {
struct SearchStorage;
}

// The matches of find_matches (same options, same order) one at a time: the
// search pauses after each match and resumes where it stopped, so a caller
// that needs only the first few pays only for those and keeps none it has
// passed. The query, molecule and properties must outlive the stream.
class MatchStream {
public:
    MatchStream(const io::Query& query, const core::MolBuilder& mol, const QueryProps& props,
                const MatchOptions& options);
    ~MatchStream();
    MatchStream(MatchStream&&) noexcept;
    MatchStream& operator=(MatchStream&&) noexcept;

    // The next match, the caller's to keep or move until the next call; null
    // once there are no more.
    Match* next();
    // Candidate atoms tried so far, as find_matches_counted counts them.
    std::uint64_t steps() const { return steps_; }

private:
    void stop();
    std::optional<core::Scratch<detail::SearchStorage>::Lease> lease_;
    std::uint64_t steps_ = 0;
};

// One candidate estimate per query atom: how many molecule atoms have an element
// the atom's expression admits (all atoms when it admits any element).
std::vector<std::uint64_t> estimate_candidates(std::span<const io::AtomExpr> atom_exprs,
                                               std::span<const AtomProps> atoms);

// Placement order: rarest seed first, then grown along the query's bonds towards
// the atom with most placed neighbours (then smaller estimate, larger degree,
// lower index); each connected part starts at a new seed.
std::vector<std::uint32_t> plan_search_order(const core::MolBuilder& graph,
                                             std::span<const std::uint64_t> estimates);

// True when the node is a primitive of that kind, or an And holding one
// (searched through nested And nodes only).
bool has_bond_kind(const io::BondExpr& expr, io::BondPrimitive kind);

struct DirectionalNeighbour {
    std::uint32_t neighbour;
    std::uint8_t direction;  // 1 for `/`, 2 for a backslash, read from the atom outwards
    bool operator==(const DirectionalNeighbour&) const = default;
};

// The first neighbour of a query atom, other than `excluded`, whose bond
// expression carries a direction; none when there is no such bond.
std::optional<DirectionalNeighbour> directional_neighbour(const io::Query& query, std::uint32_t atom,
                                                          std::uint32_t excluded);

}  // namespace quorix::match
