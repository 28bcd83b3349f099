// Named easing curves: a value running from b at t = 0 to b + c at t = d.
// Panels slide and frame images fade or slide along them.
#pragma once

#include <string>

namespace dui {

using easing_function = double (*)(double t, double b, double c, double d);

// The curve of that exact (case-sensitive) name; any other name, the empty
// one included, gives "linear". Every curve returns b + c when d <= 0, so a
// zero-length transition ends at once instead of computing 0 / 0.
easing_function get_easing(const std::string& name);

}  // namespace dui
