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

// The facts that cost more than reading an atom: ring perception, the ring list
// and valence. A query that reads none of them is matched without computing them;
// fields left uncomputed stay 0, and no primitive of the query reads them.
struct PropNeeds {
    bool ring_membership = true;  // smallest ring size per atom, ring flag per bond
    bool ring_list = true;        // ring count and ring bond count per atom
    bool valence = true;
};

// What the query reads, its recursive groups included.
PropNeeds query_needs(const io::Query& query);
// What any of the queries reads.
PropNeeds query_needs(std::span<const io::Query> queries);

// Reads the molecule without changing it.
QueryProps compute_query_props(const core::MolBuilder& mol, PropNeeds needs = {});

}  // namespace quorix::match
