#include "dui/three_part.h"

#include <algorithm>

#include "dui/platform.h"

namespace dui {

three_part_geometry compute_three_part(int iw, int ih, const rect& target,
                                       const three_part_options& o) {
  three_part_geometry g;
  const int L = target.left, T = target.top, R = target.right, B = target.bottom;
  if (iw <= 0 || ih <= 0 || R <= L || B <= T) return g;
  const int lw = std::clamp(o.left_cap, 0, iw);
  const int rw = std::clamp(o.right_cap, 0, iw - lw);
  const int h = std::min(ih, B - T);

  // The left cap has the first claim on a narrow destination, then the
  // right cap; the middle gets what is left.
  int left_end = L;
  if (o.left && lw > 0) {
    const int w = std::min(lw, R - L);
    g.left_source = rect{0, 0, w, h};
    g.left_target = rect{L, T, L + w, T + h};
    left_end = L + w;
  } else {
    left_end = L + std::min(lw, R - L);
  }
  int right_start = R;
  if (o.right && rw > 0) {
    const int w = std::min(rw, R - left_end);
    if (w > 0) {
      g.right_source = rect{iw - w, 0, iw, h};
      g.right_target = rect{R - w, T, R, T + h};
    }
    right_start = R - std::max(w, 0);
  } else if (o.right) {
    right_start = R;
  }
  if (o.middle) {
    const int mid_w = iw - lw - rw;
    const int span_left = std::max(L, left_end - o.extra_middle);
    const int span_right = std::min(R, right_start + o.extra_middle);
    const int block_w = std::min(mid_w, span_right - left_end);
    if (mid_w > 0 && span_right > span_left && block_w > 0) {
      g.middle_source = rect{lw, 0, lw + block_w, h};
      g.middle_block = rect{left_end, T, left_end + block_w, T + h};
      g.middle_span = rect{span_left, T, span_right, B};
    }
  }
  return g;
}

void draw_three_part(DcHandle dc, void* image, int iw, int ih, const rect& target,
                     const three_part_options& options) {
  if (!image) return;
  const three_part_geometry g = compute_three_part(iw, ih, target, options);
  if (g.middle_block.width() > 0) {
    platform::draw_image(dc, image, g.middle_source, g.middle_block);
    platform::stretch_copy(dc, g.middle_block, g.middle_span);
  }
  if (g.left_target.width() > 0) platform::draw_image(dc, image, g.left_source, g.left_target);
  if (g.right_target.width() > 0) platform::draw_image(dc, image, g.right_source, g.right_target);
}

}  // namespace dui
