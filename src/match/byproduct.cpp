#include "match/byproduct.hpp"

#include <algorithm>
#include <optional>

#include "chem/kekulize.hpp"
#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "match/pieces.hpp"
#include "match/stereo_map.hpp"

namespace quorix::match {

namespace E = core::Element;

using core::Atom;
using core::Bond;
using core::BondOrder;
using core::MolBuilder;
using core::NONE;

namespace {

constexpr std::uint32_t LAST_ELEMENT = core::NUM_ELEMENTS - 1;

// A ring below this size cannot hold a triple bond.
constexpr std::uint32_t STRAIN_FREE_RING = 8;
// Four new or raised bonds are as many as a byproduct is trusted to need.
constexpr std::int32_t MAX_REMAINING = 8;

struct Counters {
    std::uint32_t open = 0;
    std::uint32_t removed = 0;
};

std::int64_t hydrogen_total(std::span<const Atom> atoms) {
    std::int64_t total = 0;
    for (const Atom& a : atoms) total += a.total_hs() + (a.atomic_num == E::H ? 1 : 0);
    return total;
}

std::int64_t charge_total(std::span<const Atom> atoms) {
    std::int64_t total = 0;
    for (const Atom& a : atoms) total += a.formal_charge;
    return total;
}

bool is_halogen(std::uint8_t z) {
    return z == E::F || z == E::Cl || z == E::Br || z == E::I ||
           z == E::At;
}

// The valence a cut bond carried at its discarded end.
std::uint32_t cut_valence(const Bond& b, std::uint32_t discarded_end) {
    switch (b.order) {
        case BondOrder::Unspecified:
        case BondOrder::Single:
        case BondOrder::Aromatic: return 1;
        case BondOrder::Double: return 2;
        case BondOrder::Triple: return 3;
        case BondOrder::Quadruple: return 4;
        case BondOrder::Dative: return discarded_end == b.end ? 1 : 0;
    }
    return 0;
}

// Lowest valence of the element `shift` places before atomic number z, as an
// isoelectronic stand-in for a charged atom; none when it has no limit.
std::optional<std::int32_t> first_valence(std::int32_t z, std::int32_t shift) {
    const std::int32_t x = std::min<std::int32_t>(z - shift, LAST_ELEMENT);
    if (x < 1) return std::nullopt;
    const auto valences = core::ELEMENTS[x].valences;
    if (valences.empty() || valences[0] == -1) return std::nullopt;
    return valences[0];
}

bool unrestricted(std::uint8_t z) {
    if (z > LAST_ELEMENT) return true;
    const auto valences = core::ELEMENTS[z].valences;
    return valences.size() == 1 && valences[0] == -1;
}

std::uint32_t charge_class(std::uint8_t z, std::int32_t sign) {
    const bool chalcogen = z == E::O || z == E::S;
    if (sign > 0) return z == E::N ? 0 : chalcogen ? 1 : 2;
    if (z == E::F || z == E::Cl || z == E::Br || z == E::I) return 0;
    return chalcogen ? 1 : z == E::N ? 2 : 3;
}

// Places the charge the products lack, one unit at a time; false when some
// unit found no atom to take it.
bool place_charge(MolBuilder& frag, std::vector<Counters>& pairs, std::int32_t shift) {
    const std::int32_t sign = shift > 0 ? 1 : -1;
    for (std::int32_t unit = 0; unit < (shift > 0 ? shift : -shift); ++unit) {
        std::uint32_t best = NONE, best_class = 0;
        bool raises = false;
        for (std::uint32_t a = 0; a < frag.num_atoms(); ++a) {
            const Atom& atom = frag.atoms[a];
            if (unrestricted(atom.atomic_num)) continue;
            const std::int32_t q = atom.formal_charge;
            const std::int32_t q2 = std::clamp(q + sign, -128, 127);
            const auto v = first_valence(atom.atomic_num, q), v2 = first_valence(atom.atomic_num, q2);
            if (!v || !v2) continue;
            if (!(*v2 > *v || (*v2 < *v && pairs[a].open != 0))) continue;
            const std::uint32_t c = charge_class(atom.atomic_num, sign);
            if (best == NONE || c < best_class) {
                best = a;
                best_class = c;
                raises = *v2 > *v;
            }
        }
        if (best == NONE) return false;
        Atom& atom = frag.atoms[best];
        atom.formal_charge = static_cast<std::int8_t>(std::clamp(atom.formal_charge + sign, -128, 127));
        if (raises) ++pairs[best].open;
        else if (pairs[best].open > 0) --pairs[best].open;
    }
    return true;
}

bool has_open_neighbour(const MolBuilder& frag, const std::vector<Counters>& pairs, std::uint32_t atom) {
    for (core::Neighbor nb : frag.neighbors(atom))
        if (pairs[nb.atom].open != 0) return true;
    return false;
}

// Takes surplus hydrogens off, next to open atoms first.
bool remove_fragment_hydrogens(const MolBuilder& frag, std::vector<Counters>& pairs, std::uint32_t k) {
    for (const bool near_open : {true, false}) {
        for (std::uint32_t a = 0; a < frag.num_atoms() && k > 0; ++a) {
            const Atom& atom = frag.atoms[a];
            if (atom.atomic_num == E::H || has_open_neighbour(frag, pairs, a) != near_open) continue;
            while (k > 0 && pairs[a].removed < atom.total_hs()) {
                ++pairs[a].open;
                ++pairs[a].removed;
                --k;
            }
        }
    }
    return k == 0;
}

// Forms or raises n bonds between open atoms: raise an existing bond first,
// then join two pieces, and close a ring only as a last resort.
bool pair_open_atoms(MolBuilder& frag, std::vector<Counters>& pairs, std::uint32_t n) {
    std::vector<std::uint32_t> open;
    for (std::uint32_t a = 0; a < frag.num_atoms(); ++a)
        if (pairs[a].open != 0) open.push_back(a);
    for (std::uint32_t step = 0; step < n; ++step) {
        const std::vector<std::uint32_t> comp = core::connected_components(frag);
        std::uint32_t best_a = NONE, best_b = NONE, best_score = 3;
        for (std::size_t i = 0; i < open.size(); ++i)
            for (std::size_t j = i + 1; j < open.size(); ++j) {
                const std::uint32_t a = open[i], b = open[j];
                if (is_halogen(frag.atoms[a].atomic_num) && is_halogen(frag.atoms[b].atomic_num)) continue;
                const std::uint32_t score = frag.bond_between(a, b) != NONE ? 0 : comp[a] != comp[b] ? 1 : 2;
                if (score < best_score) {
                    best_score = score;
                    best_a = a;
                    best_b = b;
                }
            }
        if (best_a == NONE) return false;
        if (const std::uint32_t existing = frag.bond_between(best_a, best_b); existing != NONE) {
            Bond& b = frag.bonds[existing];
            if (b.order == BondOrder::Single || b.order == BondOrder::Aromatic) b.order = BondOrder::Double;
            else if (b.order == BondOrder::Double) b.order = BondOrder::Triple;
            else return false;
        } else {
            Bond b;
            b.begin = best_a;
            b.end = best_b;
            b.order = BondOrder::Single;
            frag.push_bond(b);
        }
        for (std::uint32_t x : {best_a, best_b}) --pairs[x].open;
        std::erase_if(open, [&](std::uint32_t x) { return pairs[x].open == 0; });
    }
    return true;
}

// Atoms with a fixed hydrogen count take their open valences as hydrogens here;
// the others get theirs from sanitisation.
void set_fragment_hydrogens(std::span<Atom> atoms, const std::vector<Counters>& pairs) {
    for (std::size_t a = 0; a < atoms.size(); ++a) {
        Atom& atom = atoms[a];
        if (!(atom.flags & core::FIXED_HS)) continue;
        const std::uint32_t raised = std::min<std::uint32_t>(atom.num_explicit_hs + pairs[a].open, 255);
        atom.num_explicit_hs = static_cast<std::uint8_t>(raised > pairs[a].removed ? raised - pairs[a].removed : 0);
    }
}

bool has_strained_closure(const MolBuilder& frag) {
    const bool any_triple =
        std::any_of(frag.bonds.begin(), frag.bonds.end(), [](const Bond& b) { return b.order == BondOrder::Triple; });
    if (!any_triple) return false;
    MolBuilder copy = frag;
    const chem::RingMembership rings = chem::ring_membership(copy);
    auto strained = [&](std::uint32_t a) {
        const std::uint32_t s = rings.smallest_ring[a];
        return s != 0 && s < STRAIN_FREE_RING;
    };
    for (const Bond& b : frag.bonds)
        if (b.order == BondOrder::Triple && (strained(b.begin) || strained(b.end))) return true;
    return false;
}

// Byproducts carry no double-bond reference atoms.
std::vector<MolBuilder> split_byproducts(MolBuilder& frag) {
    for (Bond& b : frag.bonds) b.stereo_atoms = {NONE, NONE};
    return split_into_pieces(frag).molecules;
}

std::int32_t narrow(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

CapResult unresolved(CapReason reason, const CapBudget& budget) {
    CapResult r;
    r.verdict = CapVerdict::Unresolved;
    r.reason = reason;
    r.budget = budget;
    return r;
}

// The fragment: copies of the discarded atoms and the bonds among them, with an
// open valence for each bond the reaction cut.
struct Fragment {
    MolBuilder mol;
    std::vector<Counters> pairs;
};

Fragment build_fragment(std::span<const MolBuilder> prepared, const RawOutcome& outcome) {
    Fragment f;
    const std::size_t inputs = std::min(prepared.size(), outcome.discarded.size());
    std::vector<std::vector<std::uint32_t>> index(inputs);
    for (std::size_t i = 0; i < inputs; ++i) {
        const MolBuilder& r = prepared[i];
        index[i].assign(r.num_atoms(), NONE);
        for (std::uint32_t a : outcome.discarded[i]) {
            if (a >= r.num_atoms() || index[i][a] != NONE) continue;
            Atom copy = r.atoms[a];
            copy.map_num = 0;
            index[i][a] = f.mol.add_atom(copy);
            f.pairs.push_back({});
        }
    }
    for (std::size_t i = 0; i < inputs; ++i) {
        const MolBuilder& r = prepared[i];
        for (const Bond& b : r.bonds) {
            if (b.begin >= r.num_atoms() || b.end >= r.num_atoms()) continue;
            const std::uint32_t fb = index[i][b.begin], fe = index[i][b.end];
            if (fb != NONE && fe != NONE) {
                if (fb == fe) continue;
                Bond copy = b;
                copy.begin = fb;
                copy.end = fe;
                copy.stereo_atoms = {NONE, NONE};
                f.mol.push_bond(copy);
            } else if (fb != NONE) {
                f.pairs[fb].open += cut_valence(b, b.begin);
            } else if (fe != NONE) {
                f.pairs[fe].open += cut_valence(b, b.end);
            }
        }
    }
    // Tetrahedral tags re-expressed for the fragment's neighbour order.
    for (std::size_t i = 0; i < inputs; ++i) {
        const MolBuilder& r = prepared[i];
        for (std::uint32_t a : outcome.discarded[i]) {
            if (a >= r.num_atoms()) continue;
            const std::uint32_t m = index[i][a];
            Atom& atom = f.mol.atoms[m];
            if (core::is_tetrahedral(atom.chiral_tag))
                atom.chiral_tag = reexpress_tetrahedral(r, a, index[i], f.mol, m, atom.chiral_tag);
        }
    }
    return f;
}

}  // namespace

std::string_view reason_text(CapReason reason) {
    switch (reason) {
        case CapReason::OddValence: return "odd_valence";
        case CapReason::BudgetExceedsValence: return "budget_exceeds_valence";
        case CapReason::HydrogenBudgetNegative: return "hydrogen_budget_negative";
        case CapReason::TooManyBonds: return "too_many_bonds";
        case CapReason::ProductsUnsanitizable: return "products_unsanitizable";
        case CapReason::NoPairing: return "no_pairing";
        case CapReason::FragmentUnsanitizable: return "fragment_unsanitizable";
        case CapReason::StrainedClosure: return "strained_closure";
        case CapReason::SubstrateUnkekulizable: return "substrate_unkekulizable";
        case CapReason::BudgetMismatch: return "budget_mismatch";
    }
    internal_error("未知的收口原因");
}

const CapReactants::Prepared& CapReactants::get() {
    if (prepared_) return *prepared_;
    // Reactants are counted on sanitised copies, as the products are: a molecule
    // as read has no implicit hydrogens yet, and counting it as passed would
    // unbalance every ledger. The fragment is cut from the same copies, in
    // their Kekulé form.
    Prepared& p = prepared_.emplace();
    p.mols.reserve(reactants_.size());
    for (const MolBuilder& r : reactants_) {
        MolBuilder copy = r;
        if (!chem::sanitize(copy) || !chem::kekulize(copy)) {
            p.kekulized = false;
            break;
        }
        if (copy.num_atoms() != r.num_atoms()) internal_error("净化改变了原子数");
        p.hydrogens += hydrogen_total(copy.atoms);
        p.charge += charge_total(copy.atoms);
        p.mols.push_back(std::move(copy));
    }
    return p;
}

CapResult cap_byproducts(std::span<const MolBuilder> reactants, const RawOutcome& outcome) {
    CapReactants prepared(reactants);
    return cap_byproducts(prepared, outcome);
}

CapResult cap_byproducts(CapReactants& reactants, const RawOutcome& outcome) {
    const bool nothing = std::all_of(outcome.discarded.begin(), outcome.discarded.end(),
                                     [](const auto& list) { return list.empty(); });
    if (nothing) return CapResult{};

    CapBudget budget;
    std::int64_t product_h = 0, product_charge = 0;
    for (const MolBuilder& p : outcome.products) {
        MolBuilder copy = p;
        if (!chem::sanitize(copy)) return unresolved(CapReason::ProductsUnsanitizable, budget);
        product_h += hydrogen_total(copy.atoms);
        product_charge += charge_total(copy.atoms);
    }

    const CapReactants::Prepared& prepared = reactants.get();
    if (!prepared.kekulized) return unresolved(CapReason::SubstrateUnkekulizable, budget);
    const std::int64_t reactant_h = prepared.hydrogens, reactant_charge = prepared.charge;

    Fragment f = build_fragment(prepared.mols, outcome);
    MolBuilder& frag = f.mol;
    std::uint64_t open = 0;
    for (const Counters& c : f.pairs) open += c.open;
    budget.open_valence = static_cast<std::uint32_t>(std::min<std::uint64_t>(open, UINT32_MAX));
    const std::int64_t fragment_h = hydrogen_total(frag.atoms);
    budget.fragment_hydrogens = static_cast<std::uint32_t>(std::clamp<std::int64_t>(fragment_h, 0, UINT32_MAX));
    budget.delta_h = narrow(reactant_h - product_h);
    budget.need = narrow(std::int64_t{budget.delta_h} - budget.fragment_hydrogens);
    budget.delta_charge = narrow(reactant_charge - product_charge);
    budget.fragment_charge = narrow(charge_total(frag.atoms));
    budget.charge_shift = narrow(std::int64_t{budget.delta_charge} - budget.fragment_charge);

    const bool placed = budget.charge_shift == 0 || place_charge(frag, f.pairs, budget.charge_shift);
    open = 0;
    for (const Counters& c : f.pairs) open += c.open;
    budget.remaining = narrow(static_cast<std::int64_t>(open) - budget.need);

    if (budget.delta_h < 0) return unresolved(CapReason::HydrogenBudgetNegative, budget);
    if (!placed) return unresolved(CapReason::NoPairing, budget);
    if (budget.remaining < 0) return unresolved(CapReason::BudgetExceedsValence, budget);
    if (budget.remaining % 2 != 0) return unresolved(CapReason::OddValence, budget);
    if (budget.remaining > MAX_REMAINING) return unresolved(CapReason::TooManyBonds, budget);

    if (budget.need < 0 && !remove_fragment_hydrogens(frag, f.pairs, static_cast<std::uint32_t>(-std::int64_t{budget.need})))
        return unresolved(CapReason::OddValence, budget);
    const std::uint32_t heavy_before = static_cast<std::uint32_t>(std::count_if(
        frag.atoms.begin(), frag.atoms.end(), [](const Atom& a) { return a.atomic_num != E::H; }));
    const std::uint32_t n = static_cast<std::uint32_t>(budget.remaining / 2);
    if (!pair_open_atoms(frag, f.pairs, n)) return unresolved(CapReason::NoPairing, budget);
    set_fragment_hydrogens(frag.atoms, f.pairs);
    if (!chem::sanitize(frag)) return unresolved(CapReason::FragmentUnsanitizable, budget);
    if (has_strained_closure(frag)) return unresolved(CapReason::StrainedClosure, budget);

    const std::uint32_t heavy_after = static_cast<std::uint32_t>(std::count_if(
        frag.atoms.begin(), frag.atoms.end(), [](const Atom& a) { return a.atomic_num != E::H; }));
    if (heavy_after != heavy_before || hydrogen_total(frag.atoms) != budget.delta_h ||
        charge_total(frag.atoms) != budget.delta_charge)
        return unresolved(CapReason::BudgetMismatch, budget);

    CapResult out;
    out.byproducts = split_byproducts(frag);
    out.verdict = n == 0 ? CapVerdict::Capped : CapVerdict::Bonded;
    out.n = n;
    out.budget = budget;
    return out;
}

}  // namespace quorix::match
