#pragma once
// The module's classes and functions as the registration in module.cpp sees
// them, and the payload type of each class.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "conf/pipeline.hpp"
#include "core/builder.hpp"
#include "io/smarts/mol.hpp"
#include "io/smarts/reaction.hpp"
#include "match/react.hpp"
#include "python/finish.hpp"
#include "python/frame.hpp"

namespace quorix::python {

// Mol: one MolBuilder.
extern ClassObject mol_class;
template <>
inline ClassObject& class_of<core::MolBuilder>() {
    return mol_class;
}
Result new_mol_object(core::MolBuilder&& mol);
// One new Mol per molecule, in order.
Result mols_to_list(std::vector<core::MolBuilder>&& mols);

// Conformer: the hydrogen-completed molecule and its generated coordinates.
struct PyConformer {
    core::MolBuilder mol;
    conf::ConformerResult result;
};
extern ClassObject conformer_class;
template <>
inline ClassObject& class_of<PyConformer>() {
    return conformer_class;
}
Result new_conformer_object(PyConformer&& conformer);

// Query: one parsed SMARTS.
extern ClassObject query_class;
template <>
inline ClassObject& class_of<io::Query>() {
    return query_class;
}

// Reaction: the reaction templates.
extern ClassObject reaction_class;
template <>
inline ClassObject& class_of<io::ReactionTemplates>() {
    return reaction_class;
}

// Outcome: one result of applying a reaction, fixed at assembly.
struct PyOutcome {
    std::vector<core::MolBuilder> products;
    std::vector<core::MolBuilder> reactants;
    std::vector<core::MolBuilder> byproducts;
    std::string byproduct_verdict;
    std::vector<std::vector<std::uint32_t>> discarded;
    // Ascending byte order of the keys; empty when byproducts were not requested.
    std::vector<std::pair<std::string, std::int64_t>> byproduct_budget;
};
extern ClassObject outcome_class;
template <>
inline ClassObject& class_of<PyOutcome>() {
    return outcome_class;
}
// One payload per raw outcome, in order; capping runs on `kept` (the inputs as
// the caller passed them) when byproducts are requested.
std::vector<PyOutcome> assemble_outcomes(std::vector<match::RawOutcome>&& raw, std::span<const core::MolBuilder> kept,
                                         bool byproducts);
// A new list holding one new Outcome per payload.
Result outcomes_to_list(std::vector<PyOutcome>&& payloads);
// Molblock: a finished molblock with its coordinates and title.
extern ClassObject molblock_class;
template <>
inline ClassObject& class_of<PyMolblock>() {
    return molblock_class;
}
Result new_molblock_object(PyMolblock&& block);

// SdfRecord: one record of an SDF text, or its error.
extern ClassObject sdf_record_class;
template <>
inline ClassObject& class_of<PySdfRecord>() {
    return sdf_record_class;
}

// Module functions.
extern PyMethodDef parse_smiles_def;
extern PyMethodDef parse_smarts_def;
extern PyMethodDef parse_reaction_def;
extern PyMethodDef parse_molblock_def;
extern PyMethodDef read_sdf_def;

#ifdef QUORIX_TEST_HOOKS
// Test-only functions; never part of a shipped module.
extern std::vector<PyMethodDef> test_hook_defs;
#endif

}  // namespace quorix::python
