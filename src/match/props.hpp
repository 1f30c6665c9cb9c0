#pragma once
// Per-molecule facts that SMARTS primitives test, computed afresh before every
// search: in-place operations such as sanitisation change a molecule, and a kept
// record would go stale without notice.
#include "core/builder.hpp"
#include "io/smarts/props.hpp"

namespace quorix::match {

using io::AtomProps;
using io::BondProps;
using io::QueryProps;

// Reads the molecule without changing it (ring perception runs on a copy).
QueryProps compute_query_props(const core::MolBuilder& mol);

}  // namespace quorix::match
