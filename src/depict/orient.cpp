#include "depict/orient.hpp"

#include <algorithm>
#include <numeric>

namespace quorix::depict {

void sort_points_3d(std::span<const std::array<double, 3>> points, std::span<const std::uint32_t> keys,
                    std::vector<std::uint32_t>& order) {
    order.resize(points.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (int k = 0; k < 3; ++k) {
            const std::int64_t ka = total_order_key(points[a][k]), kb = total_order_key(points[b][k]);
            if (ka != kb) return ka < kb;
        }
        if (!keys.empty() && keys[a] != keys[b]) return keys[a] < keys[b];
        return a < b;
    });
}

}  // namespace quorix::depict
