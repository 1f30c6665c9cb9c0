// Pieces set side by side on hand-made coordinates: each piece moved by one
// exact translation, the gaps, a compact heap of many pieces, and one piece
// left alone.
#include "conf/pieces.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/components.hpp"
#include "support.hpp"

namespace quorix::conf {
namespace {

// Each piece a tight scatter of points on a 1/64 Å grid, the pieces strewn
// hundreds of ångström apart as the embedding leaves them.
std::vector<double> strewn(const std::vector<std::uint32_t>& component) {
    std::vector<double> flat(3 * component.size());
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < flat.size(); ++i) {
        state = state * 1103515245u + 12345u;
        const double jitter = static_cast<double>((state >> 16) % 256) / 64.0;  // 0 to 4 Å
        const std::uint32_t c = component[i / 3];
        flat[i] = jitter + 700.0 * static_cast<double>((c * 7 + i % 3) % 5) - 1400.0;
    }
    return flat;
}

double distance(const std::vector<double>& f, std::size_t i, std::size_t j) {
    return std::hypot(f[3 * i] - f[3 * j], f[3 * i + 1] - f[3 * j + 1], f[3 * i + 2] - f[3 * j + 2]);
}

class Placing : public ::testing::TestWithParam<std::pair<std::string, double>> {};

TEST_P(Placing, TranslatesEachPieceIntoTouchWithoutOverlap) {
    const auto& [smiles, max_span] = GetParam();
    const core::MolBuilder mol = test::read_or_fail(smiles);
    const std::size_t n = mol.atoms.size();
    const std::vector<std::uint32_t> piece = core::connected_components(mol);
    const std::uint32_t count = *std::max_element(piece.begin(), piece.end()) + 1;
    const std::vector<double> before = strewn(piece);
    std::vector<double> after = before;
    place_pieces(mol, after);

    // One shift per piece, the same to the last bit for all its atoms: the
    // piece is translated, neither turned nor mirrored nor distorted.
    std::vector<double> shift(3 * count, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t i = 0; i < n; ++i)
        for (int a = 0; a < 3; ++a) {
            const double s = after[3 * i + a] - before[3 * i + a];
            double& seen = shift[3 * piece[i] + a];
            if (std::isnan(seen)) seen = s;
            EXPECT_EQ(s, seen) << smiles << " atom " << i;
        }

    // No pair across pieces closer than the gap allows; pieces within 4 Å of
    // one another link every piece into one heap; the heap centred, compact.
    std::vector<std::uint32_t> linked(count, 0);
    linked[0] = 1;
    double closest = std::numeric_limits<double>::infinity(), span = 0.0;
    std::vector<double> centre(3, 0.0);
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j)
                if (piece[i] != piece[j] && linked[piece[i]] && !linked[piece[j]] && distance(after, i, j) <= 4.0) {
                    linked[piece[j]] = 1;
                    grew = true;
                }
    }
    for (std::size_t i = 0; i < n; ++i) {
        for (int a = 0; a < 3; ++a) centre[a] += after[3 * i + a] / static_cast<double>(n);
        for (std::size_t j = i + 1; j < n; ++j) {
            span = std::max(span, distance(after, i, j));
            if (piece[i] != piece[j]) closest = std::min(closest, distance(after, i, j));
        }
    }
    EXPECT_NEAR(closest, PIECE_GAP, 1e-5) << smiles;
    EXPECT_EQ(std::count(linked.begin(), linked.end(), 1u), count) << smiles;
    EXPECT_LT(span, max_span) << smiles;
    for (double c : centre) EXPECT_LT(std::fabs(c), 1e-5) << smiles;

    std::vector<double> again = before;
    place_pieces(mol, again);
    EXPECT_EQ(again, after) << smiles;
}

std::string repeated(const std::string& piece, int times) {
    std::string s = piece;
    for (int i = 1; i < times; ++i) s += "." + piece;
    return s;
}

// Spans: a heap, not a row; a row of the 60 ions alone would be 177 Å long.
INSTANTIATE_TEST_SUITE_P(Pieces, Placing,
                         ::testing::Values(std::pair{std::string("[Na+].[Cl-]"), 3.5},
                                           std::pair{std::string("[O-]C(=O)C.[Na+]"), 9.0},
                                           std::pair{std::string("OC1CCCCC1.[H]O[H].[H]O[H].[Cl-].[NH4+]"), 14.0},
                                           std::pair{repeated("[H]O[H]", 20), 22.0},
                                           std::pair{repeated("[Na+].[Cl-]", 30), 25.0},
                                           std::pair{std::string("C1CC1.[Cu+2]<-N.CCCCCCCC"), 12.0}));

TEST(Placing, OnePieceIsLeftAlone) {
    for (const char* smiles : {"CCO", "[NH3]->[Cu+2]", "[Na+]"}) {
        const core::MolBuilder mol = test::read_or_fail(smiles);
        const std::vector<double> before = strewn(core::connected_components(mol));
        std::vector<double> after = before;
        place_pieces(mol, after);
        EXPECT_EQ(after, before) << smiles;
    }
}

TEST(Placing, ALostCoordinateStaysInItsPiece) {
    const core::MolBuilder mol = test::read_or_fail("CCO.[Na+].[Cl-]");
    std::vector<double> flat = strewn(core::connected_components(mol));
    flat[3 * 3] = std::numeric_limits<double>::quiet_NaN();  // the sodium's x
    place_pieces(mol, flat);
    for (std::size_t i = 0; i < flat.size(); ++i) EXPECT_EQ(std::isnan(flat[i]), i == 9) << i;
}

}  // namespace
}  // namespace quorix::conf
