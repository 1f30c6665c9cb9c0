// Writes src/depict/ring_templates.inc, the built-in ring-template table.
//
// Keys: each line of ring_template_keys.txt is a skeleton's canonical SMILES and
// its atom count. The key is read, sanitised and written again as canonical
// SMILES; a key that does not come back byte for byte is reported and the run
// fails, because the lookup could never find it.
//
// Coordinates: the three drawings in ring_templates_given.txt are copied
// exactly. Every other skeleton is drawn by our own ring-system layout (fused
// polygons where fusion finishes, else the arc placement, and always the seeded
// spring layout as one more candidate); each candidate is then polished by a
// small energy minimisation (unit bonds, 120-degree neighbour pairs, soft
// repulsion of everything else) and the candidate with the fewest crossings,
// then the most even bonds, then the widest non-bonded spacing is kept. The
// result is centred and stored by canonical number with six decimals.
// draw_layout.py renders the table for the eye (see gen_ring_templates.sh).
//
//   gen_ring_templates KEYS GIVEN OUT.inc PICTURE_DUMP
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "depict/arcs.hpp"
#include "depict/rings.hpp"
#include "depict/spring.hpp"
#include "io/canon.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;
using depict::Point;

namespace {

struct Graph {
    std::size_t n = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> bonds;
    std::vector<std::vector<int>> hops;  // graph distance, capped
};

Graph graph_of(const core::MolBuilder& m) {
    Graph g;
    g.n = m.atoms.size();
    for (const core::Bond& b : m.bonds) g.bonds.emplace_back(b.begin, b.end);
    g.hops.assign(g.n, std::vector<int>(g.n, 99));
    for (std::size_t s = 0; s < g.n; ++s) {
        g.hops[s][s] = 0;
        std::vector<std::uint32_t> queue{std::uint32_t(s)};
        for (std::size_t q = 0; q < queue.size(); ++q)
            for (const core::Neighbor nb : m.neighbors(queue[q]))
                if (g.hops[s][nb.atom] == 99) {
                    g.hops[s][nb.atom] = g.hops[s][queue[q]] + 1;
                    queue.push_back(nb.atom);
                }
    }
    return g;
}

// Unit bonds, sqrt(3) between atoms two bonds apart, and nothing else nearer
// than 1.4: gradient descent with a shrinking step.
void polish(const Graph& g, std::vector<Point>& p) {
    const double bond_w = 1.0, angle_w = 0.15, repel_w = 0.6;
    for (int it = 0; it < 4000; ++it) {
        std::vector<Point> grad(g.n);
        for (std::size_t i = 0; i < g.n; ++i)
            for (std::size_t j = i + 1; j < g.n; ++j) {
                const Point d = p[j] - p[i];
                const double l = std::max(depict::length(d), 1e-9);
                double target = 0, w = 0;
                if (g.hops[i][j] == 1) target = 1.0, w = bond_w;
                else if (g.hops[i][j] == 2) target = std::sqrt(3.0), w = angle_w;
                else if (l < 1.4) target = 1.4, w = repel_w;
                if (w == 0) continue;
                const double f = 2 * w * (l - target) / l;
                grad[i] = grad[i] - f * d;
                grad[j] = grad[j] + f * d;
            }
        const double step = 0.02 * (1.0 - it / 4000.0) + 0.002;
        for (std::size_t i = 0; i < g.n; ++i) p[i] = p[i] - step * grad[i];
    }
}

struct Quality {
    bool distorted;      // some bond off by more than 0.35: never worth an uncrossed picture
    int crossings;
    long bond_spread;    // worst |length - 1| in steps of 0.05
    long spacing;        // minus the smallest non-bonded distance (up to 1) in hundredths
    bool operator<(const Quality& o) const {
        return std::tie(distorted, crossings, bond_spread, spacing) <
               std::tie(o.distorted, o.crossings, o.bond_spread, o.spacing);
    }
};

Quality quality(const Graph& g, const std::vector<Point>& p) {
    Quality q{false, 0, 0, 0};
    double worst = 0;
    for (std::size_t a = 0; a < g.bonds.size(); ++a) {
        const auto [i, j] = g.bonds[a];
        worst = std::max(worst, std::fabs(depict::length(p[i] - p[j]) - 1.0));
        for (std::size_t b = a + 1; b < g.bonds.size(); ++b) {
            const auto [k, l] = g.bonds[b];
            q.crossings += depict::segments_cross(p[i], p[j], p[k], p[l]);
        }
    }
    q.distorted = worst > 0.35;
    q.bond_spread = std::lround(worst * 20);
    double nearest = 1e9;
    for (std::size_t i = 0; i < g.n; ++i)
        for (std::size_t j = i + 1; j < g.n; ++j)
            if (g.hops[i][j] > 1) nearest = std::min(nearest, depict::length(p[i] - p[j]));
    q.spacing = -std::lround(std::min(nearest, 1.0) * 100);
    return q;
}

std::vector<Point> as_vector(const depict::PositionMap& map, std::size_t n) {
    std::vector<Point> p(n);
    for (const auto& [a, pt] : map) p[a] = pt;
    return p;
}

// Candidate drawings of one skeleton by our own ring-system layout.
std::vector<std::vector<Point>> candidates(const core::MolBuilder& m) {
    const auto ranks = io::canonical_ranks(m);
    const auto rings = chem::sssr(m);
    std::vector<const chem::Ring*> refs;
    for (const chem::Ring& r : rings) refs.push_back(&r);
    std::vector<std::uint32_t> atoms(m.atoms.size());
    for (std::uint32_t i = 0; i < atoms.size(); ++i) atoms[i] = i;
    std::vector<std::vector<Point>> out;
    // A template that matches nothing keeps the table out of the way.
    const depict::RingTemplate none{std::string("-"), {}, 0};
    const depict::RingSystemRecord record{atoms, refs};
    out.push_back(as_vector(depict::layout_ring_system(m, record, ranks, &none).positions, atoms.size()));
    if (auto arcs = depict::arc_placement(ranks, refs)) out.push_back(as_vector(*arcs, atoms.size()));
    out.push_back(as_vector(depict::seeded_spring_layout(m, atoms, ranks, refs), atoms.size()));
    // Scattered starts find the uncrossed drawings of cages that growth misses;
    // a fixed seed keeps the table reproducible.
    std::mt19937 rng(12345);
    const double box = 1.5 * std::sqrt(static_cast<double>(atoms.size()));
    std::uniform_real_distribution<double> coordinate(-box, box);
    for (int start = 0; start < 150; ++start) {
        std::vector<Point> p(atoms.size());
        for (Point& q : p) q = {coordinate(rng), coordinate(rng)};
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<Point> draw(const core::MolBuilder& m) {
    const Graph g = graph_of(m);
    std::vector<Point> best;
    Quality best_q{true, 1 << 30, 0, 0};
    for (std::vector<Point> p : candidates(m)) {
        for (int polished = 0; polished < 2; ++polished) {
            if (polished) polish(g, p);
            const Quality q = quality(g, p);
            if (best.empty() || q < best_q) best = p, best_q = q;
        }
    }
    Point c{};
    for (const Point& p : best) c = c + p;
    c = (1.0 / static_cast<double>(best.size())) * c;
    for (Point& p : best) p = p - c;
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s KEYS GIVEN OUT.inc PICTURE_DUMP\n", argv[0]);
        return 2;
    }
    std::map<std::string, std::vector<Point>> given;
    {
        std::ifstream in(argv[2]);
        for (std::string line; std::getline(in, line);) {
            std::istringstream s(line);
            std::string key;
            s >> key;
            std::vector<Point> pts;
            for (Point p; s >> p.x >> p.y;) pts.push_back(p);
            given[key] = pts;
        }
    }
    std::ifstream keys(argv[1]);
    std::ofstream inc(argv[3]), dump(argv[4]);
    inc << "// Generated by tools/gen_ring_templates.sh from tools/ring_template_keys.txt; do not edit.\n";
    std::vector<std::string> rows;
    int bad = 0, index = 0;
    for (std::string key; keys >> key;) {
        std::size_t count = 0;
        keys >> count;
        ++index;
        auto read = io::read_smiles(key);
        if (!read || !chem::sanitize(*read)) {
            std::fprintf(stderr, "key %s does not read\n", key.c_str());
            return 1;
        }
        const core::MolBuilder& m = *read;
        const std::string back = io::canonical_smiles(m).text;
        if (back != key || m.atoms.size() != count) {
            std::fprintf(stderr, "key %s comes back as %s (%zu atoms)\n", key.c_str(), back.c_str(), m.atoms.size());
            ++bad;
        }
        const auto numbers = io::canonical_numbering(m);
        std::vector<Point> by_atom;
        const auto found = given.find(key);
        if (found != given.end()) {
            by_atom.resize(count);
            for (std::size_t a = 0; a < count; ++a) by_atom[a] = found->second.at(numbers[a]);
        } else {
            by_atom = draw(m);
        }
        std::vector<Point> by_number(count);
        for (std::size_t a = 0; a < count; ++a) by_number[numbers[a]] = by_atom[a];
        char buf[64];
        inc << "constexpr Point TEMPLATE_" << index << "[] = {";
        for (std::size_t k = 0; k < count; ++k) {
            std::snprintf(buf, sizeof buf, "%s{%.6f, %.6f}", k ? ", " : "", by_number[k].x, by_number[k].y);
            inc << buf;
        }
        inc << "};\n";
        rows.push_back("    {\"" + key + "\", TEMPLATE_" + std::to_string(index) + ", " + std::to_string(count) + "},\n");
        dump << "# " << index << " " << key << "\n";
        for (std::size_t a = 0; a < count; ++a) {
            std::snprintf(buf, sizeof buf, "%.6f %.6f", by_number[numbers[a]].x, by_number[numbers[a]].y);
            dump << "A " << a << " " << buf << " C\n";
        }
        for (const core::Bond& b : m.bonds) dump << "B " << b.begin << " " << b.end << "\n";
    }
    inc << "constexpr BuiltinTemplate RING_TEMPLATES[] = {\n";
    for (const std::string& r : rows) inc << r;
    inc << "};\n";
    return bad ? 1 : 0;
}
