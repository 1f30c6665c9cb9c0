#pragma once
// Per-molecule facts that SMARTS primitives test, computed afresh before every
// search: in-place operations such as sanitisation change a molecule, and a kept
// record would go stale without notice.
#include <span>

#include "core/builder.hpp"
#include "io/smarts/mol.hpp"
#include "io/smarts/props.hpp"

namespace quorix::match {

using io::AtomProps;
using io::BondProps;
using io::QueryProps;

// Ring perception is most of the cost. Queries that only ask whether an atom
// or bond is in a ring need no smallest set of rings, and queries that ask
// nothing about rings need no perception at all; either way the search finds
// exactly what it would have found.
enum class RingFacts : std::uint8_t { Compute, Membership, Skip };

// Reads the molecule without changing it (ring perception runs on a copy).
// With RingFacts::Membership the bond in-ring flags are exact, ring count and
// ring bonds are 1 for ring atoms (zero or not is all they tell) and smallest
// ring is 0; with RingFacts::Skip every ring field stays 0.
QueryProps compute_query_props(const core::MolBuilder& mol, RingFacts rings = RingFacts::Compute);

// Compute when some query, recursive groups included, tests a ring count, ring
// size or ring connectivity value; Membership when ring tests without a value
// (R, r, x) or ring bonds are all it has; Skip otherwise.
RingFacts ring_facts_read_by(std::span<const io::Query> queries);

}  // namespace quorix::match
