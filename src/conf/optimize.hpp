#pragma once
// Limited-memory quasi-Newton minimisation (the L-BFGS two-loop recursion)
// with a bisecting line search under the strong Wolfe conditions. Knows
// nothing of molecules: it refines a flat array of variables in place.
#include <cstddef>
#include <span>

namespace quorix::conf {

class Objective {
public:
    // Value at x; `gradient` (as long as x) is overwritten.
    virtual double value_and_gradient(std::span<const double> x, std::span<double> gradient) = 0;

protected:
    ~Objective() = default;
};

struct MinimiserOptions {
    std::size_t max_iter = 400;
    double gtol = 1e-6;       // on the largest absolute gradient component
    std::size_t memory = 8;   // correction pairs kept; 0 counts as 1
};

struct MinimiserResult {
    std::size_t iterations = 0;
    double value = 0.0;
    double grad_norm = 0.0;  // largest absolute gradient component; NaN if any is NaN
    bool converged = false;
};

// Refines `x` in place; on return it holds the last accepted point. An empty
// variable array is an internal error.
MinimiserResult minimise(Objective& objective, std::span<double> x, const MinimiserOptions& options);

}  // namespace quorix::conf
