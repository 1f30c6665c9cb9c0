#include "conf/linalg.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/error.hpp"

namespace quorix::conf {

std::string EigenError::debug() const {
    struct Visitor {
        std::string operator()(const eigen_error::NotFinite& e) const {
            return "NotFinite { index: " + std::to_string(e.index) + " }";
        }
        std::string operator()(const eigen_error::NoConverge& e) const {
            return "NoConverge { sweeps: " + std::to_string(e.sweeps) + " }";
        }
        std::string operator()(const eigen_error::Overflowed&) const { return "Overflowed"; }
    };
    return std::visit(Visitor{}, kind);
}

namespace {

constexpr double EPSILON = 0x1p-52;

// The eigenvectors are kept transposed (row p holds column p of V), so that a
// rotation sweeps two contiguous rows; the arithmetic is the column form's.
struct JacobiState {
    std::size_t n;
    std::vector<double> a;   // row-major; the upper triangle is live
    std::vector<double> vt;  // vt[p*n + j] = V(j, p)
    std::vector<double> d, b, z;
};

inline void rotate_pair(double& e, double& f, double s, double tau) {
    const double x = e, y = f;
    e = x - s * (y + x * tau);
    f = y + s * (x - y * tau);
}

// The same update along two disjoint contiguous runs; it vectorises, and each
// element sees exactly the scalar operations.
void rotate_runs(double* __restrict e, double* __restrict f, std::size_t count, double s, double tau) {
    for (std::size_t j = 0; j < count; ++j) {
        const double x = e[j], y = f[j];
        e[j] = x - s * (y + x * tau);
        f[j] = y + s * (x - y * tau);
    }
}

void rotate(JacobiState& st, std::size_t p, std::size_t q) {
    const std::size_t n = st.n;
    double* a = st.a.data();
    double& apq = a[p * n + q];
    const double g = 100.0 * std::fabs(apq);
    double h = st.d[q] - st.d[p];
    double t;
    if (g <= EPSILON * std::fabs(h)) {
        t = apq / h;
    } else {
        const double theta = 0.5 * h / apq;
        t = 1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        if (theta < 0.0) t = -t;
    }
    const double c = 1.0 / std::sqrt(t * t + 1.0);
    const double s = t * c;
    const double tau = s / (1.0 + c);
    h = t * apq;
    st.z[p] -= h;
    st.z[q] += h;
    st.d[p] -= h;
    st.d[q] += h;
    apq = 0.0;
    for (std::size_t j = 0; j < p; ++j) rotate_pair(a[j * n + p], a[j * n + q], s, tau);
    for (std::size_t j = p + 1; j < q; ++j) rotate_pair(a[p * n + j], a[j * n + q], s, tau);
    rotate_runs(a + p * n + q + 1, a + q * n + q + 1, n - q - 1, s, tau);
    rotate_runs(st.vt.data() + p * n, st.vt.data() + q * n, n, s, tau);
}

double off_diagonal_sum(const JacobiState& st) {
    const std::size_t n = st.n;
    double sm = 0.0;
    for (std::size_t p = 0; p + 1 < n; ++p)
        for (std::size_t q = p + 1; q < n; ++q) sm += std::fabs(st.a[p * n + q]);
    return sm;
}

void sweep(JacobiState& st, std::size_t number, double threshold) {
    const std::size_t n = st.n;
    for (std::size_t p = 0; p + 1 < n; ++p) {
        for (std::size_t q = p + 1; q < n; ++q) {
            double& apq = st.a[p * n + q];
            const double g = 100.0 * std::fabs(apq);
            if (number >= 5 && g <= EPSILON * std::fabs(st.d[p]) && g <= EPSILON * std::fabs(st.d[q])) {
                apq = 0.0;
            } else if (std::fabs(apq) > threshold) {
                rotate(st, p, q);
            }
        }
    }
    for (std::size_t p = 0; p < n; ++p) {
        st.b[p] += st.z[p];
        st.d[p] = st.b[p];
        st.z[p] = 0.0;
    }
}

EigenDecomposition sorted_result(const JacobiState& st, std::size_t sweeps) {
    const std::size_t n = st.n;
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return st.d[x] > st.d[y]; });
    EigenDecomposition out;
    out.values.resize(n);
    out.vectors.resize(n * n);
    out.sweeps = sweeps;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t idx = order[k];
        out.values[k] = st.d[idx];
        double* row = out.vectors.data() + k * n;
        std::copy_n(st.vt.data() + idx * n, n, row);
        std::size_t big = 0;
        for (std::size_t j = 1; j < n; ++j)
            if (std::fabs(row[j]) > std::fabs(row[big])) big = j;
        if (row[big] < 0.0)
            for (std::size_t j = 0; j < n; ++j) row[j] = -row[j];
    }
    return out;
}

}  // namespace

std::expected<EigenDecomposition, EigenError> symmetric_eigen(std::span<const double> matrix, std::size_t n) {
    if (matrix.size() != n * n) internal_error("矩阵不是 " + std::to_string(n) + "×" + std::to_string(n));
    for (std::size_t i = 0; i < matrix.size(); ++i)
        if (!std::isfinite(matrix[i])) return std::unexpected(EigenError{eigen_error::NotFinite{i}});

    JacobiState st{n, std::vector<double>(matrix.begin(), matrix.end()), std::vector<double>(n * n, 0.0),
                   std::vector<double>(n), std::vector<double>(n), std::vector<double>(n, 0.0)};
    for (std::size_t p = 0; p < n; ++p) {
        st.vt[p * n + p] = 1.0;
        st.d[p] = st.b[p] = st.a[p * n + p];
    }
    std::size_t completed = 0;
    bool converged = false;
    for (std::size_t number = 1; number <= JACOBI_MAX_SWEEPS; ++number) {
        const double sm = off_diagonal_sum(st);
        if (sm == 0.0) {
            converged = true;
            break;
        }
        const double nn = static_cast<double>(n) * static_cast<double>(n);
        const double threshold = number < 4 ? 0.2 * sm / nn : 0.0;
        sweep(st, number, threshold);
        completed = number;
    }
    if (!converged) return std::unexpected(EigenError{eigen_error::NoConverge{JACOBI_MAX_SWEEPS}});
    for (double v : st.d)
        if (!std::isfinite(v)) return std::unexpected(EigenError{eigen_error::Overflowed{}});
    for (double v : st.vt)
        if (!std::isfinite(v)) return std::unexpected(EigenError{eigen_error::Overflowed{}});
    return sorted_result(st, completed);
}

}  // namespace quorix::conf
