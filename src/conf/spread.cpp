#include "conf/spread.hpp"

#include <vector>

#include "core/scratch.hpp"

namespace quorix::conf {

namespace {
struct SpreadWork {
    std::vector<unsigned char> marked;
};
}  // namespace

double radical_inverse(std::size_t h, std::size_t base) {
    const double b = static_cast<double>(base);
    double f = 1.0, r = 0.0;
    while (h != 0) {
        f = f / b;
        r = r + f * static_cast<double>(h % base);
        h = h / base;
    }
    return r;
}

std::size_t spread_coincident(std::span<Coord> coords) {
    const std::size_t n = coords.size();
    auto work = core::Scratch<SpreadWork>::borrow(n);
    std::vector<unsigned char>& marked = work->marked;
    marked.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const double dx = coords[i][0] - coords[j][0];
            const double dy = coords[i][1] - coords[j][1];
            const double dz = coords[i][2] - coords[j][2];
            if ((dx * dx + dy * dy) + dz * dz <= 1e-12) marked[i] = marked[j] = 1;
        }
    std::size_t moved = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!marked[i]) continue;
        const std::size_t h = i + 1;
        coords[i][0] += 0.1 * (radical_inverse(h, 2) - 0.5);
        coords[i][1] += 0.1 * (radical_inverse(h, 3) - 0.5);
        coords[i][2] += 0.1 * (radical_inverse(h, 5) - 0.5);
        ++moved;
    }
    return moved;
}

}  // namespace quorix::conf
