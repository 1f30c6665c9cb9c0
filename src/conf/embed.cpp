#include "conf/embed.hpp"

#include <cmath>

#include "core/error.hpp"

namespace quorix::conf {

std::string EmbedError::debug() const {
    if (const auto* e = std::get_if<EigenError>(&kind)) return "Eigen(" + e->debug() + ")";
    return "BadShape";
}

std::vector<double> metric_matrix(std::span<const double> distances, std::size_t n) {
    if (distances.size() != n * n) internal_error("距离表不是 " + std::to_string(n) + "×" + std::to_string(n));
    std::vector<double> g(n * n);
    if (n == 0) return g;
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) total += distances[i * n + j] * distances[i * n + j];
    const double dn = static_cast<double>(n);
    const double centre = total / (dn * dn);
    std::vector<double> r(n);
    for (std::size_t i = 0; i < n; ++i) {
        double row = 0.0;
        for (std::size_t j = 0; j < n; ++j) row += distances[i * n + j] * distances[i * n + j];
        r[i] = row / dn - centre;
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double dij = distances[i * n + j];
            g[i * n + j] = (r[i] + r[j] - dij * dij) * 0.5;
        }
    return g;
}

std::expected<std::vector<Coord>, EmbedError> embed_coordinates(std::span<const double> distances, std::size_t n) {
    if (distances.size() != n * n) return std::unexpected(EmbedError{embed_error::BadShape{}});
    // No points, no eigenvalues: there is no leading one to scale the tolerance by.
    if (n == 0) return std::vector<Coord>{};
    const std::vector<double> g = metric_matrix(distances, n);
    auto eigen = symmetric_eigen(g, n);
    if (!eigen) return std::unexpected(EmbedError{eigen.error()});
    const double tol = std::fabs(eigen->values[0]) * 1e-12;
    std::array<double, 3> scale{0.0, 0.0, 0.0};
    for (std::size_t k = 0; k < 3 && k < n; ++k)
        if (eigen->values[k] > tol) scale[k] = std::sqrt(eigen->values[k]);
    std::vector<Coord> coords(n, Coord{0.0, 0.0, 0.0});
    for (std::size_t k = 0; k < 3 && k < n; ++k)
        for (std::size_t i = 0; i < n; ++i) coords[i][k] = scale[k] * eigen->vectors[k * n + i];
    return coords;
}

}  // namespace quorix::conf
