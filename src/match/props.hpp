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

// Ring perception is most of the cost; a search whose queries test no ring
// fact may skip it, and then finds exactly what it would have found.
enum class RingFacts : std::uint8_t { Compute, Skip };

// Reads the molecule without changing it (ring perception runs on a copy).
// With RingFacts::Skip the ring fields (ring count, smallest ring, ring bonds,
// bond in-ring) stay 0.
QueryProps compute_query_props(const core::MolBuilder& mol, RingFacts rings = RingFacts::Compute);

// Compute when some query, recursive groups included, tests ring count, ring
// size, ring connectivity or a ring bond; Skip otherwise.
RingFacts ring_facts_read_by(std::span<const io::Query> queries);

}  // namespace quorix::match
