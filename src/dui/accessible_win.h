// Skin windows seen by assistive technology: WM_GETOBJECT (OBJID_CLIENT) is
// answered with an IAccessible whose simple elements are the window's
// controls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dui {

class ctrl_base;
class ctrl_dialog;

// What WM_GETOBJECT returns for the client object of a skin window; 0 when
// the window has no skin tree.
LRESULT accessible_object_result(HWND window, WPARAM wparam);

// The controls a skin window shows to assistive technology, in tree order;
// child id n is element n - 1. Decoration (role none) is left out.
std::vector<ctrl_base*> accessible_elements(ctrl_dialog* dialog);
// A control's accessible name: "accname" (a string table id, or a text),
// else its label, else its tool-tip hint.
std::wstring accessible_name(const ctrl_base* control);

}  // namespace dui
