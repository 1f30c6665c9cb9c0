#include "conf/optimize.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "core/error.hpp"
#include "core/scratch.hpp"

namespace quorix::conf {

namespace {

constexpr double C1 = 1e-4;
constexpr double C2 = 0.9;
constexpr int BRACKET_TRIALS = 34;
constexpr int TOTAL_TRIALS = 59;

// Working arrays of one call; the history is a ring of `memory` slots.
struct MinimiserWork {
    std::vector<double> g, d, xt, gt, r;
    std::vector<double> s, y;  // slot i at i*n
    std::vector<double> rho, alpha;
};

// Four running sums, added in a fixed order: the one chain of a plain sum is
// bound by the adder's latency, and the two-loop recursion is a run of them.
double dot(const double* a, const double* b, std::size_t n) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i) s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}

// Elementwise steps over distinct arrays (restrict lets them vectorise; no
// sum is reordered).
void subtract_scaled(double* __restrict r, double a, const double* __restrict y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) r[i] = r[i] - a * y[i];
}
void add_scaled(double* __restrict r, double a, const double* __restrict s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) r[i] = r[i] + a * s[i];
}
void step_point(double* __restrict out, const double* __restrict x, double a, const double* __restrict d,
                std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = x[i] + a * d[i];
}

// Largest |g_i|; a NaN component makes the result NaN.
double max_abs(std::span<const double> g) {
    double m = 0.0;
    for (double v : g) {
        if (std::isnan(v)) return v;
        m = std::max(m, std::fabs(v));
    }
    return m;
}

struct History {
    std::size_t n, capacity, count = 0, head = 0;  // head: slot of the oldest pair
    MinimiserWork* w;

    std::size_t slot(std::size_t age) const { return (head + age) % capacity; }  // age 0 = oldest
    double* s(std::size_t age) { return w->s.data() + slot(age) * n; }
    double* y(std::size_t age) { return w->y.data() + slot(age) * n; }
    double& rho(std::size_t age) { return w->rho[slot(age)]; }
    void clear() { count = head = 0; }
    // The slot the next pair goes into; drops the oldest pair when full.
    std::size_t make_room() {
        if (count == capacity) {
            head = (head + 1) % capacity;
            --count;
        }
        return (head + count) % capacity;
    }
};

// d = -H g by the two-loop recursion over the stored pairs.
void direction(History& h, MinimiserWork& w) {
    const std::size_t n = h.n;
    double* r = w.r.data();
    std::copy(w.g.begin(), w.g.end(), w.r.begin());  // r serves as q
    for (std::size_t k = h.count; k-- > 0;) {
        const double a = h.rho(k) * dot(h.s(k), r, n);
        w.alpha[k] = a;
        subtract_scaled(r, a, h.y(k), n);
    }
    double gamma = 1.0;
    if (h.count > 0) {
        const double* s = h.s(h.count - 1);
        const double* y = h.y(h.count - 1);
        const double yy = dot(y, y, n);
        if (yy > 0.0) gamma = dot(s, y, n) / yy;
    }
    for (std::size_t i = 0; i < n; ++i) r[i] = gamma * r[i];
    for (std::size_t k = 0; k < h.count; ++k) {
        const double beta = h.rho(k) * dot(h.y(k), r, n);
        add_scaled(r, w.alpha[k] - beta, h.s(k), n);
    }
    for (std::size_t i = 0; i < n; ++i) w.d[i] = -r[i];
}

class LineSearch {
public:
    LineSearch(Objective& obj, std::span<const double> x, MinimiserWork& w, double f0, double dg)
        : obj_(obj), x_(x), w_(w), f0_(f0), dg_(dg) {}

    // The accepted step's value, with w.xt and w.gt holding its point and
    // gradient (the last trial evaluated); none when the search fails.
    std::optional<double> run() {
        double a = 1.0, a_prev = 0.0, phi_prev = f0_;
        for (int trial = 1; trial <= BRACKET_TRIALS; ++trial) {
            const auto [phi, dphi] = eval(a, true);
            if (!sufficient(a, phi) || (trial > 1 && phi >= phi_prev)) return zoom(a_prev, a);
            if (std::fabs(dphi) <= -C2 * dg_) return phi;
            if (dphi >= 0.0) return zoom(a, a_prev);
            a_prev = a;
            phi_prev = phi;
            a = 2.0 * a;
        }
        return std::nullopt;
    }

private:
    // Armijo test. A value that is not finite fails it: doubling the step past
    // a point where the objective broke down only walks further into it.
    bool sufficient(double a, double phi) const { return std::isfinite(phi) && !(phi > f0_ + C1 * a * dg_); }

    std::pair<double, double> eval(double a, bool counted) {
        if (counted) ++trials_;
        const std::size_t n = x_.size();
        const double* d = w_.d.data();
        step_point(w_.xt.data(), x_.data(), a, d, n);
        const double phi = obj_.value_and_gradient(w_.xt, w_.gt);
        return {phi, dot(w_.gt.data(), d, n)};
    }

    std::optional<double> zoom(double lo, double hi) {
        double phi_lo = eval(lo, false).first;
        for (;;) {
            const double aj = (hi + lo) * 0.5;
            const auto [phi, dphi] = eval(aj, true);
            if (!sufficient(aj, phi) || phi >= phi_lo) {
                hi = aj;
            } else {
                if (std::fabs(dphi) <= -C2 * dg_) return phi;
                if ((hi - lo) * dphi >= 0.0) hi = lo;
                lo = aj;
                phi_lo = phi;
            }
            if (std::fabs(hi - lo) < 1e-16 || trials_ >= TOTAL_TRIALS) break;
        }
        const double phi = eval(lo, false).first;
        if (lo > 0.0 && phi < f0_) return phi;
        return std::nullopt;
    }

    Objective& obj_;
    std::span<const double> x_;
    MinimiserWork& w_;
    double f0_, dg_;
    int trials_ = 0;
};

}  // namespace

MinimiserResult minimise(Objective& objective, std::span<double> x, const MinimiserOptions& options) {
    const std::size_t n = x.size();
    if (n == 0) internal_error("没有变量可优化");
    const std::size_t m = std::max<std::size_t>(options.memory, 1);
    auto lease = core::Scratch<MinimiserWork>::borrow(n * m);
    MinimiserWork& w = *lease;
    for (auto* v : {&w.g, &w.d, &w.xt, &w.gt, &w.r}) v->assign(n, 0.0);
    w.s.assign(n * m, 0.0);
    w.y.assign(n * m, 0.0);
    w.rho.assign(m, 0.0);
    w.alpha.assign(m, 0.0);
    History hist{n, m, 0, 0, &w};

    double f = objective.value_and_gradient(x, w.g);
    MinimiserResult result{0, f, max_abs(w.g), false};
    result.converged = result.grad_norm <= options.gtol;
    if (result.converged) return result;

    for (std::size_t k = 1; k <= options.max_iter; ++k) {
        direction(hist, w);
        double dg = dot(w.g.data(), w.d.data(), n);
        if (dg >= 0.0) {
            hist.clear();
            for (std::size_t i = 0; i < n; ++i) w.d[i] = -w.g[i];
            dg = -dot(w.g.data(), w.g.data(), n);
        }
        const std::optional<double> ft = LineSearch(objective, x, w, f, dg).run();
        if (!ft) {
            result.iterations = k;
            return result;  // value, gradient and convergence of the current point
        }
        double sy = 0.0, ss = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double si = w.xt[i] - x[i];
            sy += si * (w.gt[i] - w.g[i]);
            ss += si * si;
        }
        if (ss > 0.0 && sy > 1e-8 * ss) {
            const std::size_t slot = hist.make_room();
            double* s = w.s.data() + slot * n;
            double* y = w.y.data() + slot * n;
            for (std::size_t i = 0; i < n; ++i) {
                s[i] = w.xt[i] - x[i];
                y[i] = w.gt[i] - w.g[i];
            }
            w.rho[slot] = 1.0 / sy;
            ++hist.count;
        }
        std::copy(w.xt.begin(), w.xt.end(), x.begin());
        std::swap(w.g, w.gt);
        f = *ft;
        result.value = f;
        result.grad_norm = max_abs(w.g);
        result.iterations = k;
        if (result.grad_norm <= options.gtol) {
            result.converged = true;
            return result;
        }
    }
    return result;
}

}  // namespace quorix::conf
