// Three-part drawing of a horizontally stretchable strip: a left cap and a
// right cap at natural size and a middle stretched between them. Every part
// is clipped to the destination, so a destination narrower than the caps
// shows cut caps and no middle instead of spilling past its edges.
#pragma once

#include "dui/dui_types.h"

namespace dui {

struct three_part_options {
  int left_cap = 0;
  int right_cap = 0;
  int extra_middle = 0;  // widens the stretched span on each side
  bool left = true;
  bool middle = true;
  bool right = true;
};

struct three_part_geometry {
  // Source columns and destination of each cap (empty when not drawn).
  rect left_source, left_target;
  rect right_source, right_target;
  // The middle columns are drawn once at natural size into middle_block,
  // then that block is stretched over middle_span.
  rect middle_source, middle_block, middle_span;
};

three_part_geometry compute_three_part(int image_width, int image_height, const rect& target,
                                       const three_part_options& options);

// Draws the image (a platform image) with the geometry above.
void draw_three_part(DcHandle dc, void* image, int image_width, int image_height,
                     const rect& target, const three_part_options& options);

}  // namespace dui
