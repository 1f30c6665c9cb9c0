#include "match/react.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "match/assignment.hpp"
#include "core/permutation.hpp"
#include "core/polyhedron.hpp"

namespace quorix::match {

using core::Atom;
using core::Bond;
using core::BondDirection;
using core::BondOrder;
using core::BondStereo;
using core::ChiralTag;
using core::MolBuilder;
using core::NONE;

namespace {

// Every embedding, symmetric ones included, and stereo marks outside recursive
// groups restrict nothing: stereo is carried over, not required.
constexpr MatchOptions REACTION_MATCH{0, false, false};
constexpr std::uint8_t NO_CHIRALITY = 255;
constexpr std::uint32_t MAX_MAP_NUMBER = 65535;

std::uint32_t degree_of(const MolBuilder& graph, std::uint32_t atom) {
    return atom < graph.degree.size() ? graph.degree[atom] : 0;
}

bool contains(std::span<const std::uint32_t> list, std::uint32_t x) {
    return std::find(list.begin(), list.end(), x) != list.end();
}

void neighbour_atoms(const MolBuilder& mol, std::uint32_t atom, std::vector<std::uint32_t>& out) {
    out.clear();
    for (core::Neighbor nb : mol.neighbors(atom)) out.push_back(nb.atom);
}

// ---------------------------------------------------------------------------
// Product construction.

// What the first reactant-template atom carrying a map number says about it.
struct MapFacts {
    std::uint16_t map = 0;
    std::uint32_t input = 0;
    std::uint32_t atom = 0;
    std::uint32_t degree = 0;
    std::uint8_t chirality = NO_CHIRALITY;
    std::vector<std::optional<std::uint16_t>> neighbours;
};

// Whether the neighbour map numbers come back in an odd order in the product
// template; lists too short or too different to say count as even.
bool template_parity_odd(const std::vector<std::optional<std::uint16_t>>& reactant,
                         const std::vector<std::optional<std::uint16_t>>& product) {
    const std::size_t r = reactant.size(), p = product.size();
    if (r < 3 || p < 3 || (r > p ? r - p : p - r) > 1) return false;
    auto widen = [](const std::vector<std::optional<std::uint16_t>>& list, std::size_t len, std::size_t& gaps) {
        std::vector<std::uint32_t> out;
        out.reserve(len);
        for (const auto& m : list) out.push_back(m ? *m : NONE);
        while (out.size() < len) out.push_back(NONE);
        gaps = static_cast<std::size_t>(std::count(out.begin(), out.end(), NONE));
        return out;
    };
    const std::size_t len = std::max(r, p);
    std::size_t gr = 0, gp = 0;
    const auto a = widen(reactant, len, gr);
    const auto b = widen(product, len, gp);
    if (gr > 1 || gp > 1) return false;
    return core::permutation_parity(a, b) == 1;
}

class ProductBuilder {
public:
    ProductBuilder(const io::ReactionTemplates& templates, std::span<const MolBuilder* const> inputs,
                   std::span<const Match> selection, std::span<const std::uint64_t> assignment,
                   std::span<const std::vector<std::uint32_t>> component_ids)
        : t_(templates), inputs_(inputs), selection_(selection), assignment_(assignment), components_(component_ids) {
        check_arguments();
        const std::size_t n = inputs.size();
        matched_atom_.resize(n);
        matched_bond_.resize(n);
        corr_.resize(n);
        std::size_t atoms = 0, bonds = 0;
        for (std::size_t k = 0; k < n; ++k) {
            matched_atom_[k].assign(inputs[k]->num_atoms(), 0);
            matched_bond_[k].assign(inputs[k]->num_bonds(), 0);
            corr_[k].assign(inputs[k]->num_atoms(), NONE);
            atoms += inputs[k]->num_atoms();
            bonds += inputs[k]->num_bonds();
        }
        work_ = MolBuilder::with_capacity(atoms, bonds);
    }

    std::vector<BuiltProduct> build() {
        flag_matched_bonds();
        collect_map_facts();
        for (const io::Query& product : t_.products) {
            add_template_atoms(product);
            add_template_bonds(product);
        }
        for (std::size_t k = 0; k < inputs_.size(); ++k) carry_untouched(k);
        for (std::size_t k = 0; k < inputs_.size(); ++k) {
            reexpress_atom_stereo(k);
            reexpress_bond_stereo(k);
        }
        return split();
    }

private:
    void check_arguments() const {
        const std::size_t templates = t_.reactants.size();
        if (selection_.size() != templates || assignment_.size() != templates)
            internal_error("匹配组合与反应物模板数不符");
        if (components_.size() != inputs_.size()) internal_error("连通分量表与输入数不符");
        for (std::size_t k = 0; k < inputs_.size(); ++k)
            if (components_[k].size() != inputs_[k]->num_atoms()) internal_error("连通分量表与原子数不符");
        for (std::size_t t = 0; t < templates; ++t) {
            const io::Query& q = t_.reactants[t];
            if (assignment_[t] >= inputs_.size()) internal_error("模板分配到了不存在的输入");
            if (selection_[t].size() < q.num_atoms()) internal_error("匹配比模板短");
            if (q.atom_exprs.size() != q.num_atoms() || q.bond_exprs.size() != q.num_bonds())
                internal_error("模板的表达式与图不符");
            const std::uint32_t n = inputs_[assignment_[t]]->num_atoms();
            for (std::uint32_t i = 0; i < q.num_atoms(); ++i)
                if (selection_[t][i] >= n) internal_error("匹配原子越界");
        }
        for (const io::Query& q : t_.products)
            if (q.atom_exprs.size() != q.num_atoms() || q.bond_exprs.size() != q.num_bonds())
                internal_error("模板的表达式与图不符");
    }

    void flag_matched_bonds() {
        for (std::size_t t = 0; t < t_.reactants.size(); ++t) {
            const std::size_t k = assignment_[t];
            const MolBuilder& in = *inputs_[k];
            for (const Bond& b : t_.reactants[t].graph.bonds) {
                const std::uint32_t ib = in.bond_between(selection_[t][b.begin], selection_[t][b.end]);
                if (ib != NONE) matched_bond_[k][ib] = 1;
            }
        }
    }

    void collect_map_facts() {
        for (std::size_t t = 0; t < t_.reactants.size(); ++t) {
            const std::size_t k = assignment_[t];
            const io::Query& q = t_.reactants[t];
            for (std::uint32_t i = 0; i < q.num_atoms(); ++i) {
                const std::uint32_t image = selection_[t][i];
                matched_atom_[k][image] = 1;
                const auto n = q.atom_exprs[i].find_map_number();
                if (!n) continue;
                auto it = std::lower_bound(facts_.begin(), facts_.end(), *n,
                                           [](const MapFacts& f, std::uint16_t m) { return f.map < m; });
                if (it != facts_.end() && it->map == *n) continue;
                facts_.insert(it, MapFacts{*n, static_cast<std::uint32_t>(k), image, degree_of(q.graph, i),
                                           q.atom_exprs[i].find_chirality(), neighbour_map_numbers(q, i)});
            }
        }
    }

    const MapFacts* facts_of(std::optional<std::uint16_t> n) const {
        if (!n) return nullptr;
        auto it = std::lower_bound(facts_.begin(), facts_.end(), *n,
                                   [](const MapFacts& f, std::uint16_t m) { return f.map < m; });
        return it != facts_.end() && it->map == *n ? &*it : nullptr;
    }

    std::uint32_t add_work_atom(const Atom& atom, bool template_stereo) {
        template_stereo_.push_back(template_stereo ? 1 : 0);
        return work_.add_atom(atom);
    }

    void add_template_atoms(const io::Query& product) {
        const std::uint32_t n = product.num_atoms();
        tmpl_work_.assign(n, NONE);
        tmpl_image_.assign(n, {NONE, NONE});
        for (std::uint32_t i = 0; i < n; ++i) {
            const io::AtomExpr& expr = product.atom_exprs[i];
            const MapFacts* f = facts_of(expr.find_map_number());
            Atom rec{};
            if (f) rec = inputs_[f->input]->atoms[f->atom];
            const bool same_degree = f && f->degree == degree_of(product.graph, i);
            const auto element = expr.find_element();
            if (element && *element != rec.atomic_num) {
                rec.num_explicit_hs = rec.num_implicit_hs = 0;
                rec.flags &= ~core::FIXED_HS;
                rec.formal_charge = 0;
                rec.isotope = 0;
                rec.chiral_tag = ChiralTag::Unspecified;
            } else if (!same_degree) {
                // A changed bond count makes the stored hydrogen count wrong.
                rec.num_explicit_hs = rec.num_implicit_hs = 0;
                rec.flags &= ~core::FIXED_HS;
            }
            const ChiralTag before = rec.chiral_tag;
            apply_atom_template(rec, expr);
            const std::uint8_t r = f ? f->chirality : NO_CHIRALITY;
            const std::uint8_t p = expr.find_chirality();
            bool from_template = false;
            if (r != NO_CHIRALITY && p == NO_CHIRALITY) {
                rec.chiral_tag = ChiralTag::Unspecified;
            } else if (r == NO_CHIRALITY && p != NO_CHIRALITY) {
                from_template = true;
            } else if (r != NO_CHIRALITY) {
                const bool odd = template_parity_odd(f->neighbours, neighbour_map_numbers(product, i));
                rec.chiral_tag = ((r == p) != odd) ? before : mirrored(before);
            }
            rec.map_num = 0;
            const std::uint32_t w = add_work_atom(rec, from_template);
            tmpl_work_[i] = w;
            if (f) {
                tmpl_image_[i] = {f->input, f->atom};
                corr_[f->input][f->atom] = w;
            }
        }
    }

    // The input bond between the images of two template atoms mapped to one
    // input, found from the first image's side; NONE otherwise.
    std::uint32_t input_bond(std::uint32_t b, std::uint32_t e) const {
        const auto [kb, ab] = tmpl_image_[b];
        const auto [ke, ae] = tmpl_image_[e];
        if (kb == NONE || ke == NONE || kb != ke) return NONE;
        for (core::Neighbor nb : inputs_[kb]->neighbors(ab))
            if (nb.atom == ae) return nb.bond;
        return NONE;
    }

    void add_template_bonds(const io::Query& product) {
        const MolBuilder& g = product.graph;
        const std::uint32_t nb = product.num_bonds();
        std::vector<std::uint8_t> cls(nb), directional(nb), stereo_double(nb);
        for (std::uint32_t b = 0; b < nb; ++b) {
            cls[b] = product_bond_class(product.bond_exprs[b]);
            directional[b] = product.bond_exprs[b].direction() != BondDirection::None;
        }
        auto other_at = [&](std::uint32_t atom, std::uint32_t bond, const std::vector<std::uint8_t>& mark) {
            for (core::Neighbor x : g.neighbors(atom))
                if (x.bond != bond && mark[x.bond]) return true;
            return false;
        };
        for (std::uint32_t b = 0; b < nb; ++b)
            stereo_double[b] = cls[b] == 2 && other_at(g.bonds[b].begin, b, directional) &&
                               other_at(g.bonds[b].end, b, directional);
        for (std::uint32_t b = 0; b < nb; ++b) {
            const io::BondExpr& expr = product.bond_exprs[b];
            const std::uint32_t tb = g.bonds[b].begin, te = g.bonds[b].end;
            const std::uint32_t wb = tmpl_work_[tb], we = tmpl_work_[te];
            if (wb == we) continue;
            const std::uint32_t ib = input_bond(tb, te);
            Bond bond;
            if (cls[b] <= 6) {
                bond.order = static_cast<BondOrder>(cls[b]);
            } else if (cls[b] == 7) {
                const bool aromatic = (work_.atoms[wb].flags & core::AROMATIC) && (work_.atoms[we].flags & core::AROMATIC);
                bond.order = aromatic ? BondOrder::Aromatic : BondOrder::Single;
            } else {
                bond.order = ib != NONE ? inputs_[tmpl_image_[tb].first]->bonds[ib].order : BondOrder::Unspecified;
            }
            const bool reversed = expr.has_dative_reversed();
            bond.begin = reversed ? we : wb;
            bond.end = reversed ? wb : we;
            const bool keeps = directional[b] && (other_at(tb, b, stereo_double) || other_at(te, b, stereo_double));
            if (keeps) {
                bond.direction = expr.direction();
            } else if (ib != NONE) {
                const Bond& in = inputs_[tmpl_image_[tb].first]->bonds[ib];
                bond.direction = in.direction;
                if (in.begin != tmpl_image_[tb].second) {
                    bond.direction = core::reversed(bond.direction);
                }
            }
            bond.flags = bond.order == BondOrder::Aromatic ? core::AROMATIC : 0;
            work_.push_bond(bond);
        }
    }

    std::uint32_t carry_atom(std::size_t k, std::uint32_t a) {
        Atom rec = inputs_[k]->atoms[a];
        rec.map_num = 0;
        const std::uint32_t w = add_work_atom(rec, false);
        corr_[k][a] = w;
        return w;
    }

    // Untouched components come whole; atoms hanging off mapped atoms through
    // unmatched bonds follow them; a matched atom that reached no product blocks.
    void carry_untouched(std::size_t k) {
        const MolBuilder& in = *inputs_[k];
        const std::vector<std::uint32_t>& comp = components_[k];
        std::uint32_t num_components = 0;
        for (std::uint32_t c : comp) num_components = std::max(num_components, c + 1);
        std::vector<std::uint8_t> touched(num_components, 0), seeded(num_components, 0);
        for (std::uint32_t a = 0; a < in.num_atoms(); ++a)
            if (matched_atom_[k][a]) touched[comp[a]] = 1;
        for (std::uint32_t a = 0; a < in.num_atoms(); ++a) {
            const std::uint32_t c = comp[a];
            if (touched[c] || seeded[c]) continue;
            seeded[c] = 1;
            carry_atom(k, a);
        }
        std::vector<std::uint32_t> stack, pending;
        for (std::uint32_t a = 0; a < in.num_atoms(); ++a)
            if (corr_[k][a] != NONE) stack.push_back(a);
        while (!stack.empty()) {
            const std::uint32_t u = stack.back();
            stack.pop_back();
            for (core::Neighbor nb : in.neighbors(u)) {
                const std::uint32_t v = nb.atom;
                if (matched_atom_[k][v] && corr_[k][v] == NONE) continue;
                if (matched_bond_[k][nb.bond]) continue;
                if (corr_[k][v] == NONE) {
                    carry_atom(k, v);
                    stack.push_back(v);
                }
                pending.push_back(nb.bond);
            }
        }
        // Each pending bond is noted from both ends; the second note finds the
        // bond already there.
        std::stable_sort(pending.begin(), pending.end());
        for (std::uint32_t bd : pending) {
            const Bond& ib = in.bonds[bd];
            const std::uint32_t p = corr_[k][ib.begin], q = corr_[k][ib.end];
            if (work_.bond_between(p, q) != NONE) continue;
            Bond bond = ib;
            bond.begin = p;
            bond.end = q;
            bond.stereo_atoms = {NONE, NONE};
            work_.push_bond(bond);
        }
    }

    void reexpress_atom_stereo(std::size_t k) {
        const MolBuilder& in = *inputs_[k];
        std::vector<std::uint32_t> actual, listed;
        for (std::uint32_t a = 0; a < in.num_atoms(); ++a) {
            const std::uint32_t p = corr_[k][a];
            if (p == NONE || template_stereo_[p]) continue;
            Atom& atom = work_.atoms[p];
            if (atom.chiral_tag == ChiralTag::Unspecified) continue;
            if (core::is_tetrahedral(atom.chiral_tag)) {
                atom.chiral_tag = reexpress_tetrahedral(in, a, corr_[k], work_, p, atom.chiral_tag);
                continue;
            }
            neighbour_atoms(work_, p, actual);
            listed.clear();
            for (core::Neighbor nb : in.neighbors(a)) {
                const std::uint32_t q = corr_[k][nb.atom];
                if (q != NONE && contains(actual, q)) listed.push_back(q);
            }
            std::optional<std::uint8_t> renumbered;
            if (atom.chiral_permutation != 0 && listed.size() == actual.size())
                renumbered = core::renumber_polyhedral_permutation(atom.chiral_tag, atom.chiral_permutation, listed, actual);
            if (renumbered) {
                atom.chiral_permutation = *renumbered;
            } else {
                atom.chiral_tag = ChiralTag::Unspecified;
                atom.chiral_permutation = 0;
            }
        }
    }

    // The reference atom on one side of a carried double bond, and whether
    // taking it flips the configuration; none when the side has none left.
    struct SideReference {
        std::uint32_t atom;
        bool flip;
    };
    std::optional<SideReference> side_reference(std::size_t k, std::uint32_t input_atom, std::uint32_t other_input,
                                                std::uint32_t stereo_atom, std::uint32_t work_atom,
                                                std::uint32_t other_work) const {
        const MolBuilder& in = *inputs_[k];
        std::vector<std::uint32_t> m;
        for (core::Neighbor nb : work_.neighbors(work_atom))
            if (nb.atom != other_work) m.push_back(nb.atom);
        const std::uint32_t direct = stereo_atom < in.num_atoms() ? corr_[k][stereo_atom] : NONE;
        if (direct != NONE && contains(m, direct)) return SideReference{direct, false};
        std::vector<std::uint32_t> r;
        for (core::Neighbor nb : in.neighbors(input_atom))
            if (nb.atom != other_input) r.push_back(nb.atom);
        const auto at_s = std::find(r.begin(), r.end(), stereo_atom);
        if (at_s == r.end()) return std::nullopt;
        std::vector<std::optional<std::uint32_t>> ligands;
        for (std::uint32_t x : r) {
            const std::uint32_t c = corr_[k][x];
            ligands.push_back(c != NONE && contains(m, c) ? std::optional<std::uint32_t>(c) : std::nullopt);
        }
        if (auto filled = fill_unmapped_ligands(ligands, m)) return SideReference{(*filled)[at_s - r.begin()], false};
        for (std::uint32_t x : r) {
            if (x == stereo_atom) continue;
            const std::uint32_t c = corr_[k][x];
            if (c != NONE && contains(m, c)) return SideReference{c, true};
            return std::nullopt;
        }
        return std::nullopt;
    }

    void reexpress_bond_stereo(std::size_t k) {
        const MolBuilder& in = *inputs_[k];
        for (const Bond& bd : in.bonds) {
            if (bd.stereo == BondStereo::None || bd.stereo_atoms[0] == NONE || bd.stereo_atoms[1] == NONE) continue;
            const std::uint32_t p0 = corr_[k][bd.begin], p1 = corr_[k][bd.end];
            if (p0 == NONE || p1 == NONE) continue;
            const std::uint32_t wb = work_.bond_between(p0, p1);
            if (wb == NONE) continue;
            Bond& w = work_.bonds[wb];
            if (w.stereo == BondStereo::None || w.stereo_atoms[0] != NONE) continue;
            const auto s0 = side_reference(k, bd.begin, bd.end, bd.stereo_atoms[0], p0, p1);
            const auto s1 = s0 ? side_reference(k, bd.end, bd.begin, bd.stereo_atoms[1], p1, p0) : std::nullopt;
            if (!s0 || !s1) {
                w.stereo = BondStereo::None;
                continue;
            }
            if (s0->flip != s1->flip) {
                if (w.stereo == BondStereo::Cis) w.stereo = BondStereo::Trans;
                else if (w.stereo == BondStereo::Trans) w.stereo = BondStereo::Cis;
                else {
                    w.stereo = BondStereo::None;
                    continue;
                }
            }
            w.stereo_atoms = {s0->atom, s1->atom};
        }
    }

    std::vector<BuiltProduct> split() const {
        Pieces pieces = split_into_pieces(work_);
        std::vector<BuiltProduct> out(pieces.molecules.size());
        for (std::size_t c = 0; c < out.size(); ++c) {
            out[c].molecule = std::move(pieces.molecules[c]);
            out[c].correspondence.resize(inputs_.size());
        }
        for (std::size_t k = 0; k < inputs_.size(); ++k)
            for (std::uint32_t a = 0; a < corr_[k].size(); ++a)
                if (const std::uint32_t x = corr_[k][a]; x != NONE)
                    out[pieces.component[x]].correspondence[k].emplace_back(a, pieces.local[x]);
        return out;
    }

    const io::ReactionTemplates& t_;
    std::span<const MolBuilder* const> inputs_;
    std::span<const Match> selection_;
    std::span<const std::uint64_t> assignment_;
    std::span<const std::vector<std::uint32_t>> components_;

    std::vector<std::vector<std::uint8_t>> matched_atom_, matched_bond_;
    std::vector<std::vector<std::uint32_t>> corr_;  // per input atom: working atom
    std::vector<MapFacts> facts_;                   // ascending map number
    MolBuilder work_;
    std::vector<std::uint8_t> template_stereo_;     // per working atom
    std::vector<std::uint32_t> tmpl_work_;          // per atom of the product template at hand
    std::vector<std::pair<std::uint32_t, std::uint32_t>> tmpl_image_;  // (input, atom) or NONE
};

// ---------------------------------------------------------------------------
// Application.

// Every embedding, in matcher order, fetched only as far as someone asks: the
// odometer needs a template's later matches only once the earlier outcomes
// are built.
class LazyMatches {
public:
    LazyMatches(const io::Query& query, const MolBuilder& mol, const QueryProps& props)
        : stream_(query, mol, props, REACTION_MATCH) {}

    // Whether match k exists, fetching up to it.
    bool has(std::size_t k) {
        while (got_.size() <= k && !done_) {
            if (Match* m = stream_.next()) got_.push_back(std::move(*m));
            else done_ = true;
        }
        return k < got_.size();
    }
    const Match& operator[](std::size_t k) const { return got_[k]; }
    std::uint64_t steps() const { return stream_.steps(); }

private:
    MatchStream stream_;
    std::vector<Match> got_;
    bool done_ = false;
};

struct Application {
    const io::ReactionTemplates& templates;
    std::span<const MolBuilder* const> inputs;
    std::span<const std::vector<std::uint32_t>> components;
    std::uint64_t max_products;
    bool atom_mapping;
};

bool limit_reached(const Application& app, std::size_t outcomes) {
    return app.max_products > 0 && outcomes >= app.max_products;
}

std::uint64_t matcher_steps(std::span<const LazyMatches> lists) {
    std::uint64_t steps = 0;
    for (const LazyMatches& l : lists) steps += l.steps();
    return steps;
}

// The odometer over the match lists, template 0 fastest; each list must hold a
// first match.
std::vector<RawOutcome> enumerate_match_combinations(const Application& app, std::span<LazyMatches> lists,
                                                     std::span<const std::uint64_t> assignment) {
    std::vector<RawOutcome> out;
    std::vector<std::size_t> counters(lists.size(), 0);
    std::vector<Match> selection(lists.size());
    for (;;) {
        for (std::size_t t = 0; t < lists.size(); ++t) selection[t] = lists[t][counters[t]];
        out.push_back(number_atom_maps(
            app.inputs, build_products(app.templates, app.inputs, selection, assignment, app.components),
            app.atom_mapping));
        if (limit_reached(app, out.size())) return out;
        std::size_t t = 0;
        for (; t < lists.size(); ++t) {
            if (lists[t].has(++counters[t])) break;
            counters[t] = 0;
        }
        if (t == lists.size()) return out;
    }
}

// Back to one discarded list per input, in that input's own numbering.
void split_discarded(RawOutcome& outcome, std::span<const std::uint32_t> atom_counts) {
    std::vector<std::vector<std::uint32_t>> split(atom_counts.size());
    std::size_t i = 0;
    std::uint32_t offset = 0;
    for (std::uint32_t a : outcome.discarded[0]) {
        while (a - offset >= atom_counts[i]) offset += atom_counts[i++];
        split[i].push_back(a - offset);
    }
    outcome.discarded = std::move(split);
}

// The combinations of run_on_substrate whose matches share no atom, in odometer
// order (template 0 fastest). Walked depth first from the last template, so a
// clash among the slower templates skips every combination behind it at once,
// and a branch stops when the atoms left cannot hold the templates still to
// place. Set packing stays exponential in the worst case.
class DisjointCombinations {
public:
    DisjointCombinations(std::span<LazyMatches> lists, const io::ReactionTemplates& templates,
                         std::uint32_t num_atoms)
        : lists_(lists), chosen_(lists.size(), 0), next_(lists.size(), 0), used_(num_atoms, 0),
          free_(num_atoms) {
        std::uint64_t need = 0;
        for (const io::Query& q : templates.reactants) {
            need += q.num_atoms();
            need_.push_back(need);
        }
        level_ = lists.size();  // not started
    }

    // Moves to the next combination; false after the last one.
    bool next() {
        const std::size_t n = lists_.size();
        if (done_) return false;
        if (level_ == n) {
            if (n == 0 || need_[n - 1] > free_) return finish();
            level_ = n - 1;
            next_[level_] = 0;
        } else {
            release(0);  // the combination handed out last
            next_[0] = chosen_[0] + 1;
            level_ = 0;
        }
        for (;;) {
            const std::size_t t = level_;
            std::size_t k = next_[t];
            while (lists_[t].has(k) && !fits(lists_[t][k])) ++k;
            if (!lists_[t].has(k)) {
                if (t + 1 == n) return finish();
                level_ = t + 1;
                release(level_);
                next_[level_] = chosen_[level_] + 1;
                continue;
            }
            take(lists_[t][k]);
            chosen_[t] = k;
            if (t == 0) return true;
            if (need_[t - 1] > free_) {
                release(t);
                next_[t] = k + 1;
                continue;
            }
            level_ = t - 1;
            next_[level_] = 0;
        }
    }

    std::span<const std::size_t> chosen() const { return chosen_; }
    std::uint64_t steps() const { return steps_; }

private:
    bool fits(const Match& m) {
        ++steps_;
        for (std::uint32_t a : m)
            if (used_[a]) return false;
        return true;
    }
    void take(const Match& m) {
        for (std::uint32_t a : m) used_[a] = 1;
        free_ -= m.size();
    }
    void release(std::size_t t) {
        const Match& m = lists_[t][chosen_[t]];
        for (std::uint32_t a : m) used_[a] = 0;
        free_ += m.size();
    }
    bool finish() {
        done_ = true;
        return false;
    }

    std::span<LazyMatches> lists_;
    std::vector<std::size_t> chosen_, next_;
    std::vector<std::uint64_t> need_;  // atoms templates 0..t take together
    std::vector<std::uint8_t> used_;
    std::uint64_t free_;
    std::size_t level_;
    std::uint64_t steps_ = 0;
    bool done_ = false;
};

}  // namespace

// ---------------------------------------------------------------------------
// Public operations.

JoinedInputs join_inputs(std::span<const ReactionInput> inputs) {
    JoinedInputs out;
    std::size_t atoms = 0, bonds = 0;
    for (const ReactionInput& in : inputs) {
        atoms += in.mol->num_atoms();
        bonds += in.mol->num_bonds();
    }
    out.mol = MolBuilder::with_capacity(atoms, bonds);
    for (const ReactionInput& in : inputs) {
        const std::uint32_t offset = out.mol.num_atoms();
        out.atom_counts.push_back(in.mol->num_atoms());
        for (const Atom& a : in.mol->atoms) out.mol.add_atom(a);
        for (Bond b : in.mol->bonds) {
            b.begin += offset;
            b.end += offset;
            for (std::uint32_t& s : b.stereo_atoms)
                if (s != NONE) s += offset;
            out.mol.push_bond(b);
        }
    }
    return out;
}

std::vector<BuiltProduct> build_products(const io::ReactionTemplates& templates,
                                         std::span<const MolBuilder* const> inputs,
                                         std::span<const Match> selection, std::span<const std::uint64_t> assignment,
                                         std::span<const std::vector<std::uint32_t>> component_ids) {
    return ProductBuilder(templates, inputs, selection, assignment, component_ids).build();
}

RawOutcome number_atom_maps(std::span<const MolBuilder* const> inputs, std::vector<BuiltProduct>&& built,
                            bool atom_mapping) {
    RawOutcome out;
    const std::size_t n = inputs.size();
    // Per input atom: the first (product, product atom) it became.
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> first(n);
    for (std::size_t i = 0; i < n; ++i) first[i].assign(inputs[i]->num_atoms(), {NONE, NONE});
    for (std::uint32_t p = 0; p < built.size(); ++p) {
        if (built[p].correspondence.size() > n) internal_error("对应表指向不存在的输入");
        for (std::size_t i = 0; i < built[p].correspondence.size(); ++i)
            for (const auto& [a, v] : built[p].correspondence[i]) {
                if (v >= built[p].molecule.num_atoms()) internal_error("对应表指向不存在的产物原子");
                auto& slot = at(first[i], a);
                if (slot.first == NONE) slot = {p, v};
            }
    }
    out.discarded.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::uint32_t a = 0; a < first[i].size(); ++a)
            if (first[i][a].first == NONE) out.discarded[i].push_back(a);
    out.products.reserve(built.size());
    for (BuiltProduct& p : built) out.products.push_back(std::move(p.molecule));
    if (!atom_mapping) return out;

    out.reactants.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.reactants.push_back(*inputs[i]);
        for (Atom& a : out.reactants.back().atoms) a.map_num = 0;
    }
    std::uint32_t counter = 1;
    for (std::size_t i = 0; i < n; ++i)
        for (std::uint32_t a = 0; a < first[i].size(); ++a) {
            const auto [p, v] = first[i][a];
            if (p == NONE) continue;
            if (counter > MAX_MAP_NUMBER) return out;
            out.reactants[i].atoms[a].map_num = static_cast<std::uint16_t>(counter);
            out.products[p].atoms[v].map_num = static_cast<std::uint16_t>(counter);
            ++counter;
        }
    return out;
}

RunResult run_counted(const io::ReactionTemplates& templates, std::span<const ReactionInput> inputs,
                      std::uint64_t max_products, bool atom_mapping) {
    RunResult result;
    const std::size_t n = inputs.size();
    if (n != templates.reactants.size() || templates.products.empty()) return result;
    std::vector<LazyMatches> lists;
    lists.reserve(n);
    bool positional = true;
    for (std::size_t t = 0; t < n; ++t) {
        lists.emplace_back(templates.reactants[t], *inputs[t].mol, inputs[t].props);
        positional = lists.back().has(0) && positional;
    }
    std::vector<std::uint64_t> assignment(n);
    for (std::size_t t = 0; t < n; ++t) assignment[t] = t;
    if (!positional) {
        // Which template can take which input at all, one stopped search a pair;
        // then the first one-to-one assignment among those pairs.
        // A lone template without a match has no other input to try: the
        // common case, settled without building anything more.
        if (n == 1) {
            result.steps += matcher_steps(lists);
            return result;
        }
        std::vector<std::uint8_t> possible(n * n, 0);
        for (std::size_t t = 0; t < n; ++t)
            for (std::size_t j = 0; j < n; ++j) {
                if (j == t) {
                    possible[t * n + j] = lists[t].has(0);
                    continue;
                }
                const MatchResult first = find_matches_counted(templates.reactants[t], *inputs[j].mol,
                                                               inputs[j].props, MatchOptions{1, false, false});
                result.steps += first.steps;
                possible[t * n + j] = !first.matches.empty();
            }
        auto found = first_assignment(possible, n, result.steps);
        if (!found) {
            result.steps += matcher_steps(lists);
            return result;
        }
        assignment = std::move(*found);
        for (std::size_t t = 0; t < n; ++t) {
            if (assignment[t] == t) continue;
            const ReactionInput& in = inputs[assignment[t]];
            result.steps += lists[t].steps();
            lists[t] = LazyMatches(templates.reactants[t], *in.mol, in.props);
            if (!lists[t].has(0)) internal_error("分配到的输入没有匹配");
        }
    }
    std::vector<std::vector<std::uint32_t>> components(n);
    std::vector<const MolBuilder*> mols(n);
    for (std::size_t i = 0; i < n; ++i) {
        mols[i] = inputs[i].mol;
        components[i] = core::connected_components(*inputs[i].mol);
    }
    const Application app{templates, mols, components, max_products, atom_mapping};
    result.outcomes = enumerate_match_combinations(app, lists, assignment);
    result.steps += matcher_steps(lists) + result.outcomes.size();
    return result;
}

std::vector<RawOutcome> run(const io::ReactionTemplates& templates, std::span<const ReactionInput> inputs,
                            std::uint64_t max_products, bool atom_mapping) {
    return run_counted(templates, inputs, max_products, atom_mapping).outcomes;
}

RunResult run_on_substrate_counted(const io::ReactionTemplates& templates, std::span<const ReactionInput> inputs,
                                   std::uint64_t max_products, bool atom_mapping) {
    RunResult result;
    if (inputs.empty() || templates.reactants.empty() || templates.products.empty()) return result;
    const JoinedInputs joined = join_inputs(inputs);
    const QueryProps props = compute_query_props(joined.mol, query_needs(templates.reactants));
    const std::size_t nt = templates.reactants.size();
    std::vector<LazyMatches> lists;
    lists.reserve(nt);
    for (std::size_t t = 0; t < nt; ++t) {
        lists.emplace_back(templates.reactants[t], joined.mol, props);
        if (!lists.back().has(0)) {
            result.steps = matcher_steps(lists);
            return result;
        }
    }
    const std::vector<std::vector<std::uint32_t>> components{core::connected_components(joined.mol)};
    const MolBuilder* const single[] = {&joined.mol};
    const Application app{templates, single, components, max_products, atom_mapping};
    const std::vector<std::uint64_t> assignment(nt, 0);

    DisjointCombinations combinations(lists, templates, joined.mol.num_atoms());
    std::vector<Match> selection(nt);
    while (combinations.next()) {
        for (std::size_t t = 0; t < nt; ++t) selection[t] = lists[t][combinations.chosen()[t]];
        RawOutcome outcome = number_atom_maps(
            app.inputs, build_products(templates, app.inputs, selection, assignment, app.components), atom_mapping);
        split_discarded(outcome, joined.atom_counts);
        result.outcomes.push_back(std::move(outcome));
        if (limit_reached(app, result.outcomes.size())) break;
    }
    result.steps = matcher_steps(lists) + combinations.steps() + result.outcomes.size();
    return result;
}

std::vector<RawOutcome> run_on_substrate(const io::ReactionTemplates& templates,
                                         std::span<const ReactionInput> inputs, std::uint64_t max_products,
                                         bool atom_mapping) {
    return run_on_substrate_counted(templates, inputs, max_products, atom_mapping).outcomes;
}

// ---------------------------------------------------------------------------
// Template readers.

void apply_atom_template(Atom& atom, const io::AtomExpr& expr) {
    expr.for_each_in_and_lists([&](const io::AtomPrimitive& p) {
        switch (p.kind) {
            case io::AtomPrimitive::Element:
                atom.atomic_num = p.atomic_num;
                if (p.aromaticity == io::AtomPrimitive::ALIPHATIC_ONLY) atom.flags &= ~core::AROMATIC;
                else if (p.aromaticity == io::AtomPrimitive::AROMATIC_ONLY) atom.flags |= core::AROMATIC;
                break;
            case io::AtomPrimitive::TotalH:
                atom.num_explicit_hs = p.value > 255 ? 0 : static_cast<std::uint8_t>(p.value);
                atom.num_implicit_hs = 0;
                atom.flags |= core::FIXED_HS;
                break;
            case io::AtomPrimitive::Charge:
                atom.formal_charge = (p.charge >= -128 && p.charge <= 127) ? static_cast<std::int8_t>(p.charge) : 0;
                break;
            case io::AtomPrimitive::Isotope: atom.isotope = static_cast<std::uint16_t>(p.value); break;
            case io::AtomPrimitive::Chirality: atom.chiral_tag = static_cast<ChiralTag>(p.chirality); break;
            default: break;
        }
    });
}

namespace {

constexpr std::uint8_t CLASS_SINGLE = 1;
constexpr std::uint8_t CLASS_SINGLE_OR_AROMATIC = 7;
constexpr std::uint8_t CLASS_ANY = 8;

std::uint8_t primitive_class(io::BondPrimitive p) {
    switch (p) {
        case io::BondPrimitive::Any: return CLASS_ANY;
        case io::BondPrimitive::Single:
        case io::BondPrimitive::Ring:
        case io::BondPrimitive::Up:
        case io::BondPrimitive::Down: return CLASS_SINGLE;
        case io::BondPrimitive::Double: return static_cast<std::uint8_t>(BondOrder::Double);
        case io::BondPrimitive::Triple: return static_cast<std::uint8_t>(BondOrder::Triple);
        case io::BondPrimitive::Quadruple: return static_cast<std::uint8_t>(BondOrder::Quadruple);
        case io::BondPrimitive::Aromatic: return static_cast<std::uint8_t>(BondOrder::Aromatic);
        case io::BondPrimitive::Dative:
        case io::BondPrimitive::DativeReversed: return static_cast<std::uint8_t>(BondOrder::Dative);
    }
    return CLASS_ANY;
}

// Or(Single, Aromatic), Single first: what a bond written without a symbol means.
bool is_unwritten_bond(const io::BondExpr& expr, std::uint32_t node) {
    const auto& x = expr.node(node);
    if (x.kind != io::ExprKind::Or || x.num_children != 2) return false;
    const auto& a = expr.node(x.first_child);
    const auto& b = expr.node(a.next_sibling);
    return a.kind == io::ExprKind::Primitive && a.prim == io::BondPrimitive::Single &&
           b.kind == io::ExprKind::Primitive && b.prim == io::BondPrimitive::Aromatic;
}

std::uint8_t node_class(const io::BondExpr& expr, std::uint32_t node) {
    const auto& x = expr.node(node);
    switch (x.kind) {
        case io::ExprKind::Primitive: return primitive_class(x.prim);
        case io::ExprKind::Not: return CLASS_SINGLE_OR_AROMATIC;
        case io::ExprKind::And:
            for (std::uint32_t c = x.first_child; c != NONE; c = expr.node(c).next_sibling)
                if (const std::uint8_t k = node_class(expr, c); k != CLASS_SINGLE) return k;
            return CLASS_SINGLE;
        case io::ExprKind::Or:
            if (is_unwritten_bond(expr, node)) return CLASS_SINGLE_OR_AROMATIC;
            for (std::uint32_t c = x.first_child; c != NONE; c = expr.node(c).next_sibling)
                if (const std::uint8_t k = node_class(expr, c); k < CLASS_SINGLE_OR_AROMATIC) return k;
            return CLASS_SINGLE_OR_AROMATIC;
    }
    return CLASS_ANY;
}

}  // namespace

std::uint8_t product_bond_class(const io::BondExpr& expr) {
    if (expr.empty()) return CLASS_SINGLE_OR_AROMATIC;
    return node_class(expr, expr.root());
}

std::vector<std::optional<std::uint16_t>> neighbour_map_numbers(const io::Query& query, std::uint32_t atom) {
    std::vector<std::optional<std::uint16_t>> out;
    if (atom >= query.num_atoms() || degree_of(query.graph, atom) == 0) return out;
    for (core::Neighbor nb : query.graph.neighbors(atom)) out.push_back(query.atom_exprs[nb.atom].find_map_number());
    return out;
}

}  // namespace quorix::match
