#pragma once
// Turning a drawing's points about the origin, as the orientation search does it
// for each of its candidate turns.
#include <algorithm>
#include <cmath>
#include <span>

#include "core/lanes.hpp"

namespace quorix::depict {

struct Extent {
    double xlo, xhi, ylo, yhi;
};

// Writes the points turned by (c, s), mirrored first when asked, and returns
// their extent. std::min and std::max keep their first argument against a NaN,
// so a coordinate that is not a number leaves the extent alone; two lanes keep
// extents of their own, whose meeting differs from one running extent only in
// the sign of a zero bound, which no width or height below can tell.
template <bool MIRROR>
inline Extent turn_points(std::span<const double> xs, std::span<const double> ys, double c, double s, std::span<double> tx,
                   std::span<double> ty) {
    using core::load2, core::splat2, core::store2, core::V2d;
    const std::size_t n = xs.size();
    const V2d vc = splat2(c), vs = splat2(s);
    V2d xlo = splat2(INFINITY), xhi = splat2(-INFINITY), ylo = splat2(INFINITY), yhi = splat2(-INFINITY);
    std::size_t a = 0;
    for (; a + 2 <= n; a += 2) {
        const V2d x = load2(&xs[a]), y = load2(&ys[a]);
        const V2d u = MIRROR ? x * vc + y * vs : x * vc - y * vs;
        const V2d v = MIRROR ? x * vs - y * vc : x * vs + y * vc;
        store2(&tx[a], u);
        store2(&ty[a], v);
        xlo = u < xlo ? u : xlo, xhi = xhi < u ? u : xhi;
        ylo = v < ylo ? v : ylo, yhi = yhi < v ? v : yhi;
    }
    Extent e{std::min(xlo[0], xlo[1]), std::max(xhi[0], xhi[1]), std::min(ylo[0], ylo[1]), std::max(yhi[0], yhi[1])};
    for (; a < n; ++a) {
        if (MIRROR)
            tx[a] = xs[a] * c + ys[a] * s, ty[a] = xs[a] * s - ys[a] * c;
        else
            tx[a] = xs[a] * c - ys[a] * s, ty[a] = xs[a] * s + ys[a] * c;
        e.xlo = std::min(e.xlo, tx[a]), e.xhi = std::max(e.xhi, tx[a]);
        e.ylo = std::min(e.ylo, ty[a]), e.yhi = std::max(e.yhi, ty[a]);
    }
    return e;
}

}  // namespace quorix::depict
