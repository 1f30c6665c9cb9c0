#pragma once
// Angle units, in one place for every conformer module.

namespace quorix::conf {

inline constexpr double DEG_TO_RAD = 0.017453292519943295;
inline constexpr double RAD_TO_DEG = 57.29577951308232;

}  // namespace quorix::conf
