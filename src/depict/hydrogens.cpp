#include "depict/hydrogens.hpp"

#include <algorithm>
#include <string>

namespace quorix::depict {
namespace {

[[noreturn]] void bad_planned_bond(const core::BuilderError& error) {
    std::string text = "补出来的键端点越界: ";
    if (const auto* e = std::get_if<core::AtomIndexOutOfRange>(&error))
        text += "AtomIndexOutOfRange { index: " + std::to_string(e->index) +
                ", num_atoms: " + std::to_string(e->num_atoms) + " }";
    else if (const auto* s = std::get_if<core::SelfLoop>(&error))
        text += "SelfLoop { atom: " + std::to_string(s->atom) + " }";
    internal_error(text);
}

}  // namespace

core::MolBuilder add_wedge_hydrogens(const WedgeHydrogens& plan, const core::MolBuilder& mol) {
    core::MolBuilder out = mol;
    for (const auto& [index, atom] : plan.replaced_atoms)
        if (index < out.atoms.size()) out.atoms[index] = atom;
    for (const core::Atom& atom : plan.added_atoms) out.add_atom(atom);
    const std::uint32_t n = out.num_atoms();
    for (const core::Bond& bond : plan.added_bonds) {
        if (bond.begin >= n || bond.end >= n)
            bad_planned_bond(core::AtomIndexOutOfRange{std::max(bond.begin, bond.end), n});
        if (bond.begin == bond.end) bad_planned_bond(core::SelfLoop{bond.begin});
        out.push_bond(bond);
    }
    return out;
}

}  // namespace quorix::depict
