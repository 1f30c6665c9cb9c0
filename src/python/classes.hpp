#pragma once
// The module's classes and functions as the registration in module.cpp sees
// them, and the payload type of each class.
#include <vector>

#include "core/builder.hpp"
#include "io/smarts/mol.hpp"
#include "io/smarts/reaction.hpp"
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
