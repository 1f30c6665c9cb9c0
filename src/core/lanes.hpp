#pragma once
// Two doubles side by side for the few flat loops that test or turn many points:
// every operation is the lane-wise IEEE one (no contraction, no reordering), so a
// lane computes the bits the one-at-a-time loop computed.
#include <cstdint>
#include <cstring>

namespace quorix::core {

using V2d = double __attribute__((vector_size(16)));
// Lane masks of comparisons on V2d: all ones or all zeros.
using V2l = std::int64_t __attribute__((vector_size(16)));

inline V2d load2(const double* p) {
    V2d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store2(double* p, V2d v) { std::memcpy(p, &v, sizeof v); }

inline V2d splat2(double v) { return V2d{v, v}; }

inline V2d abs2(V2d v) {
    const V2l magnitude = {INT64_MAX, INT64_MAX};
    return reinterpret_cast<V2d>(reinterpret_cast<V2l>(v) & magnitude);
}

}  // namespace quorix::core
