// Ring templates and arc placement: the lookup's verdicts, the table's keys and
// the arc geometry at its limits.
#include <cmath>
#include <string_view>

#include "depict/arcs.hpp"
#include "depict/templates.hpp"
#include "depict_support.hpp"
#include "io/canon.hpp"

namespace quorix {
namespace {

using depict::TemplateLookup;

depict::TemplateResult place(const test::Systems& s, const depict::RingTemplate* extra = nullptr) {
    const auto& r = s.records.at(0);
    return depict::place_ring_template(s.mol, r.atoms, s.ranks, r.rings, extra);
}

TEST(RingTemplateTable, EveryKeyComesBackAsItsOwnCanonicalSmiles) {
    const auto table = depict::ring_templates();
    ASSERT_EQ(table.size(), 54u);
    for (const depict::BuiltinTemplate& t : table) {
        core::MolBuilder m = test::read_or_fail(t.smiles);
        ASSERT_TRUE(chem::sanitize(m));
        EXPECT_EQ(io::to_canonical_smiles(m), t.smiles);
        EXPECT_EQ(m.num_atoms(), t.atom_count) << t.smiles;
        EXPECT_EQ(t.coords.size(), t.atom_count) << t.smiles;
    }
}

// The three drawings every copy of the table shares, entry by entry.
TEST(RingTemplateTable, GivenDrawingsAreStoredExactly) {
    struct Given {
        std::size_t index;
        std::string_view smiles;
        std::vector<double> xy;
    };
    const Given given[] = {
        {46, "C1C2CC1C2",
         {-0.592799, -1.248968, -0.466908, 0.361363, -0.529854, -0.443803, -1.428063, -0.373583, 0.368355, -0.514022}},
        {25, "C1C2CC1CC2",
         {-1.107084, -0.554563, -0.110993, -0.309821, 0.556718, 0.270227, 0.806711, -0.864953, -0.293972, -1.480315,
          -0.53196, 0.364479}},
        {0, "C1C2CCC1CC2",
         {-0.493425, -0.251716, 0.717738, -0.137761, -1.066265, 0.821484, -1.553081, -0.177676, 0.152691, -1.094856,
          -0.905303, -1.017726, 0.100661, 0.853165}},
    };
    for (const Given& g : given) {
        const depict::BuiltinTemplate& t = depict::ring_templates()[g.index];
        EXPECT_EQ(t.smiles, g.smiles);
        ASSERT_EQ(t.coords.size() * 2, g.xy.size()) << g.smiles;
        for (std::size_t k = 0; k < t.coords.size(); ++k)
            EXPECT_EQ(t.coords[k], (depict::Point{g.xy[2 * k], g.xy[2 * k + 1]})) << g.smiles << " " << k;
    }
}

// Each skeleton drawn from its own key finds its drawing, and the drawing read
// through the canonical numbering is a clean one: a table stored in any other
// atom order would stretch bonds across the picture.
TEST(RingTemplateTable, EveryDrawingFitsTheCanonicalNumbering) {
    for (const depict::BuiltinTemplate& t : depict::ring_templates()) {
        const auto s = test::ring_systems_of(t.smiles);
        ASSERT_EQ(s->records.size(), 1u) << t.smiles;
        const auto result = place(*s);
        ASSERT_EQ(result.lookup, TemplateLookup::Hit) << t.smiles;
        const test::Geometry g = test::geometry(s->mol, result.positions);
        EXPECT_GT(g.shortest, 0.75) << t.smiles;
        EXPECT_LT(g.longest, 1.3) << t.smiles;
        EXPECT_GT(g.closest, 0.3) << t.smiles;
    }
}

// Any element and bond order on the norbornane skeleton finds the first
// template, its coordinates taken as stored, atom by canonical number.
TEST(RingTemplateLookup, NorbornaneShapeHitsTheFirstTemplate) {
    for (const char* smiles : {"C1CC2CCC1C2", "O=C1NC2CC1C=C2", "C1=CC2CNC1C2"}) {
        const auto s = test::ring_systems_of(smiles);
        const auto result = place(*s);
        ASSERT_EQ(result.lookup, TemplateLookup::Hit) << smiles;
        const auto skeleton = depict::ring_skeleton(s->mol, s->records[0].atoms, s->ranks);
        core::MolBuilder sanitised = *skeleton;
        ASSERT_TRUE(chem::sanitize(sanitised));
        const auto numbers = io::canonical_numbering(sanitised);
        std::vector<std::uint32_t> order = s->records[0].atoms;
        std::sort(order.begin(), order.end(), [&](auto a, auto b) { return s->ranks[a] < s->ranks[b]; });
        for (std::size_t i = 0; i < order.size(); ++i)
            EXPECT_EQ(result.positions.at(order[i]), depict::ring_templates()[0].coords[numbers[i]]);
    }
}

TEST(RingTemplateLookup, ExtraTemplateDecidesAlone) {
    const auto s = test::ring_systems_of("C1CC2CCC1C2");
    const depict::RingTemplate other{std::string("C1CCCCC1"), {}, 6};
    EXPECT_EQ(place(*s, &other).lookup, TemplateLookup::NotInTable);
    depict::RingTemplate short_one{std::string("C1C2CCC1CC2"), {{0, 0}, {1, 0}}, 7};
    EXPECT_EQ(place(*s, &short_one).lookup, TemplateLookup::NotInTable);
    short_one.atom_count = 2;
    EXPECT_EQ(place(*s, &short_one).lookup, TemplateLookup::NotInTable);
    std::vector<depict::Point> own(7);
    for (std::size_t k = 0; k < 7; ++k) own[k] = {double(k), 0.0};
    const depict::RingTemplate good{std::string("C1C2CCC1CC2"), own, 7};
    const auto hit = place(*s, &good);
    EXPECT_EQ(hit.lookup, TemplateLookup::Hit);
    const depict::RingTemplate absent{std::nullopt, {}, 0};
    EXPECT_EQ(place(*s, &absent).lookup, TemplateLookup::Hit);
}

TEST(RingTemplateLookup, UnsanitisableSkeletonHasNoFingerprint) {
    // Phosphorus with five bonds inside one fused system: as a skeleton carbon it fails.
    const auto s = test::ring_systems_of("C1C2C3C4CP1234");
    const auto result = place(*s);
    EXPECT_EQ(result.lookup, TemplateLookup::NoFingerprint);
    EXPECT_EQ(result.positions.size(), s->records[0].atoms.size());
}

TEST(ArcPlacement, GapLimits) {
    depict::PositionMap placed{{0, {0, 0}}, {1, {1e-10, 0}}, {2, {2, 0}}};
    // Anchors 1e-10 apart: the run closes a regular pentagon through them.
    const auto pentagon = depict::place_arc(placed, 0, 1, 4);
    ASSERT_TRUE(pentagon);
    for (std::size_t j = 1; j < 4; ++j) EXPECT_NEAR(depict::length((*pentagon)[j] - (*pentagon)[j - 1]), 1.0, 1e-9);
    EXPECT_NEAR(depict::length((*pentagon)[0]), 1.0, 1e-9);
    // One atom cannot bridge a gap of 2.
    EXPECT_FALSE(depict::place_arc(placed, 0, 2, 1));
    // Two atoms over a gap of 2: three unit chords, symmetric about the gap.
    const auto arc = depict::place_arc({{0, {0, 0}}, {2, {2, 0}}}, 0, 2, 2);
    ASSERT_TRUE(arc);
    EXPECT_NEAR((*arc)[0].y, (*arc)[1].y, 1e-9);
    EXPECT_NEAR(depict::length((*arc)[0]), 1.0, 1e-9);
}

TEST(ArcPlacement, EqualClearanceTakesTheSmallerPoints) {
    // Nothing else drawn: both sides are equally clear, so the arc below the
    // gap (smaller y) wins.
    const auto arc = depict::place_arc({{0, {0, 0}}, {1, {1, 0}}}, 0, 1, 4);
    ASSERT_TRUE(arc);
    EXPECT_LT((*arc)[0].y, 0.0);
}

}  // namespace
}  // namespace quorix

namespace quorix {
namespace {

// A ten-ring (atoms 10..19) drawn first, then a nine-ring that meets it in two
// stretches. Its undrawn atoms form two runs; when the run at the start of the
// ring's order reaches back across the end, the scan ends with it and the
// other run stays undrawn, so the arc placement gives up.
TEST(ArcPlacement, ScanEndsWithTheRunAcrossTheEnd) {
    const std::vector<std::uint32_t> ranks = test::identity(20);
    const chem::Ring outer{{10, 11, 12, 13, 14, 15, 16, 17, 18, 19}, {}};
    const chem::Ring across{{0, 1, 11, 12, 2, 4, 14, 15, 3}, {}};  // atom 3 ends the order, undrawn
    const chem::Ring inside{{0, 1, 11, 12, 2, 4, 14, 15, 10}, {}};  // atom 10 ends it, drawn
    EXPECT_FALSE(depict::arc_placement(ranks, std::vector<const chem::Ring*>{&across, &outer}));
    const auto drawn = depict::arc_placement(ranks, std::vector<const chem::Ring*>{&inside, &outer});
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->size(), 14u);
    EXPECT_NEAR(depict::length(drawn->at(2) - drawn->at(12)), 1.0, 1e-9);
    EXPECT_NEAR(depict::length(drawn->at(4) - drawn->at(14)), 1.0, 1e-9);
}

}  // namespace
}  // namespace quorix
