#include "conf/smooth.hpp"

#include <cmath>

#include "core/error.hpp"
#include "core/scratch.hpp"

namespace quorix::conf {

namespace {

// Both bounds of every pair i < j at i*n + j, so the inner loop over j runs
// along contiguous rows; the pivot's own bounds never change during its pass
// and are gathered once into pivot rows.
struct SmoothWork {
    std::vector<double> upper, lower, pivot_upper, pivot_lower;
};

// The larger of two values; a NaN loses to a number.
inline double larger(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

}  // namespace

std::optional<std::pair<std::size_t, std::size_t>> triangle_smooth(std::span<double> bounds, std::size_t n) {
    if (bounds.size() != n * n) internal_error("界矩阵不是 " + std::to_string(n) + "×" + std::to_string(n));
    auto work = core::Scratch<SmoothWork>::borrow(n);
    std::vector<double>& up = work->upper;
    std::vector<double>& lo = work->lower;
    up.assign(n * n, 0.0);
    lo.assign(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            up[i * n + j] = bounds[i * n + j];
            lo[i * n + j] = bounds[j * n + i];
        }
    std::vector<double>& uk = work->pivot_upper;
    std::vector<double>& lk = work->pivot_lower;
    uk.assign(n, 0.0);
    lk.assign(n, 0.0);

    std::optional<std::pair<std::size_t, std::size_t>> crossed;
    for (std::size_t k = 0; k < n && !crossed; ++k) {
        for (std::size_t x = 0; x < n; ++x) {
            const std::size_t cell = x < k ? x * n + k : k * n + x;
            uk[x] = up[cell];
            lk[x] = lo[cell];
        }
        for (std::size_t i = 0; i < n && !crossed; ++i) {
            if (i == k) continue;
            const double uik = uk[i], lik = lk[i];
            double* urow = up.data() + i * n;
            double* lrow = lo.data() + i * n;
            for (std::size_t j = i + 1; j < n; ++j) {
                if (j == k) continue;
                const double via = uik + uk[j];
                if (urow[j] > via) urow[j] = via;
                const double candidate = larger(lik - uk[j], lk[j] - uik);
                if (lrow[j] < candidate) lrow[j] = candidate;
                if (lrow[j] > urow[j]) {
                    crossed = std::pair{i, j};
                    break;
                }
            }
        }
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            bounds[i * n + j] = up[i * n + j];
            bounds[j * n + i] = lo[i * n + j];
        }
    return crossed;
}

std::vector<double> full_distance_matrix(std::span<const double> bounds, std::size_t n) {
    if (bounds.size() != n * n) internal_error("界矩阵不是 " + std::to_string(n) + "×" + std::to_string(n));
    std::vector<double> d(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) d[i * n + j] = d[j * n + i] = bounds[i * n + j];
    return d;
}

}  // namespace quorix::conf
