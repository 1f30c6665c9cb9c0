#pragma once
// Applying reaction templates: template matches on the inputs, products built
// from each combination of matches, atom maps and the atoms that reached no
// product. Products leave here unsanitised.
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "io/smarts/reaction.hpp"
#include "match/matcher.hpp"
#include "match/pieces.hpp"
#include "match/stereo_map.hpp"
#include "match/props.hpp"

namespace quorix::match {

// One input molecule, read in place (the caller keeps it alive and unchanged for
// the call), with its query properties: those of compute_query_props, with at
// least what the reactant templates read.
struct ReactionInput {
    const core::MolBuilder* mol;
    QueryProps props;
};

// (input atom, product atom) pairs in ascending input atom order.
using Correspondence = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct BuiltProduct {
    core::MolBuilder molecule;
    std::vector<Correspondence> correspondence;  // one per input
};

struct RawOutcome {
    std::vector<core::MolBuilder> products;
    std::vector<core::MolBuilder> reactants;              // map-numbered copies, atom mapping only
    std::vector<std::vector<std::uint32_t>> discarded;    // per input, ascending
};

// Pairs reactant template i with input i; only when some template has no match
// on its own input is the first one-to-one assignment that works used instead.
// `max_products` 0 means no limit.
std::vector<RawOutcome> run(const io::ReactionTemplates& templates, std::span<const ReactionInput> inputs,
                            std::uint64_t max_products, bool atom_mapping);
// Every template matches anywhere in one graph joined from all inputs; matches
// of different templates may not share atoms.
std::vector<RawOutcome> run_on_substrate(const io::ReactionTemplates& templates,
                                         std::span<const ReactionInput> inputs, std::uint64_t max_products,
                                         bool atom_mapping);

// The same results, with the work it took: candidate atoms the matcher tried,
// pairings and combinations examined, outcomes built.
struct RunResult {
    std::vector<RawOutcome> outcomes;
    std::uint64_t steps = 0;
};
RunResult run_counted(const io::ReactionTemplates& templates, std::span<const ReactionInput> inputs,
                      std::uint64_t max_products, bool atom_mapping);
RunResult run_on_substrate_counted(const io::ReactionTemplates& templates, std::span<const ReactionInput> inputs,
                                   std::uint64_t max_products, bool atom_mapping);

struct JoinedInputs {
    core::MolBuilder mol;
    std::vector<std::uint32_t> atom_counts;  // per input
};
JoinedInputs join_inputs(std::span<const ReactionInput> inputs);

// The products of one match combination: `selection[t]` is the match of
// reactant template t on input `assignment[t]`.
std::vector<BuiltProduct> build_products(const io::ReactionTemplates& templates,
                                         std::span<const core::MolBuilder* const> inputs,
                                         std::span<const Match> selection, std::span<const std::uint64_t> assignment,
                                         std::span<const std::vector<std::uint32_t>> component_ids);

// Turns built products into an outcome: discarded atoms and, on request, map
// numbers pairing reactant-copy atoms with the product atoms they became.
RawOutcome number_atom_maps(std::span<const core::MolBuilder* const> inputs, std::vector<BuiltProduct>&& built,
                            bool atom_mapping);

// Writes the Element, TotalH, Charge, Isotope and Chirality primitives of a
// product-template atom (through And nodes only) into an atom record.
void apply_atom_template(core::Atom& atom, const io::AtomExpr& expr);

// 1 to 6: the BondOrder values Single to Dative; 7 single-or-aromatic; 8 any.
std::uint8_t product_bond_class(const io::BondExpr& expr);

// Map number of each template neighbour of `atom`, in neighbour order.
std::vector<std::optional<std::uint16_t>> neighbour_map_numbers(const io::Query& query, std::uint32_t atom);

}  // namespace quorix::match
