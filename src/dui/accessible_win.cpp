// The IAccessible of a skin window. One object per WM_GETOBJECT; it keeps
// only the window handle and finds the skin tree again on every call, so a
// client holding it after the window or the tree went gets errors, never a
// freed control.
#include "dui/accessible_win.h"

#include <oleacc.h>

#include <cstdlib>
#include <cwchar>

#include "dui/ctrl_dialog.h"
#include "dui/dui_slider.h"
#include "dui/platform.h"
#include "dui/text_codec.h"
#include "screens/string_table.h"
#include "sys/text_format.h"

namespace dui {
namespace {

// MinGW's oleacc import library resolves IID_IAccessible to an import thunk
// instead of the GUID, so the GUID is spelt out here.
const GUID kIidAccessible = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const wchar_t kBindProperty[] = L"bindPointer";

ctrl_dialog* dialog_of(HWND window) {
  if (!IsWindow(window)) return nullptr;
  auto* control = static_cast<ctrl_base*>(GetPropW(window, kBindProperty));
  if (!control || std::string(control->type_name()) != "dialog") return nullptr;
  return static_cast<ctrl_dialog*>(control);
}

void collect(ctrl_base* control, std::vector<ctrl_base*>* out) {
  for (const child_entry& child : control->children()) {
    if (child.control->role() != access_role::none) out->push_back(child.control);
    collect(child.control, out);
  }
}

bool is_inside(const ctrl_base* ancestor, const ctrl_base* control) {
  for (const ctrl_base* c = control; c; c = c->parent()) {
    if (c == ancestor) return true;
  }
  return false;
}

// Shown: visible and not covered by another control (a closed pane under
// the window's body is not).
bool is_shown(ctrl_dialog* dialog, ctrl_base* control) {
  if (!control->is_visible()) return false;
  if (!control->windowless()) return control->is_window_visible();
  const rect& r = control->area();
  const int x = r.left + r.width() / 2, y = r.top + r.height() / 2;
  if (r.width() <= 0 || r.height() <= 0 || !dialog->area().contains(x, y)) return false;
  return is_inside(control, hit_test(dialog, x, y));
}

LONG system_role(access_role role) {
  switch (role) {
    case access_role::push_button: return ROLE_SYSTEM_PUSHBUTTON;
    case access_role::check_box: return ROLE_SYSTEM_CHECKBUTTON;
    case access_role::radio_button: return ROLE_SYSTEM_RADIOBUTTON;
    case access_role::link: return ROLE_SYSTEM_LINK;
    case access_role::progress_bar: return ROLE_SYSTEM_PROGRESSBAR;
    case access_role::static_text: return ROLE_SYSTEM_STATICTEXT;
    case access_role::grouping: return ROLE_SYSTEM_GROUPING;
    case access_role::text: return ROLE_SYSTEM_TEXT;
    case access_role::none: break;
  }
  return ROLE_SYSTEM_CLIENT;
}

const wchar_t* default_action_of(const ctrl_base* control) {
  switch (control->role()) {
    case access_role::push_button: return L"\x6309\x4E0B";  // 按下
    case access_role::link: return L"\x8DF3\x8F6C";         // 跳转
    case access_role::check_box:                            // 取消选中 / 选中
      return control->checked() ? L"\x53D6\x6D88\x9009\x4E2D" : L"\x9009\x4E2D";
    case access_role::radio_button: return L"\x9009\x4E2D";
    default: return nullptr;
  }
}

HRESULT give_text(const std::wstring& text, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

class skin_accessible final : public IAccessible {
 public:
  explicit skin_accessible(HWND window) : window_(window) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, kIidAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: clients use the IAccessible methods directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_INVALIDARG;
    return CreateStdAccessibleObject(window_, OBJID_WINDOW, IID_IDispatch,
                                     reinterpret_cast<void**>(parent));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (!count) return E_INVALIDARG;
    ctrl_dialog* dialog = dialog_of(window_);
    if (!dialog) return E_FAIL;
    *count = static_cast<long>(accessible_elements(dialog).size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    // Controls are simple elements, not objects of their own.
    return control ? S_FALSE : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!control) {
      wchar_t title[256] = {};
      GetWindowTextW(window_, title, 256);
      return give_text(title, name);
    }
    return give_text(accessible_name(control), name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!value) return E_INVALIDARG;
    *value = nullptr;
    if (!control) return S_FALSE;
    if (control->role() == access_role::progress_bar) {
      const double position = static_cast<const dui_ctrl_slider*>(control)->position();
      wchar_t text[16];
      FormatWide(text, 16, L"%d%%", static_cast<int>(position * 100 + 0.5));
      return give_text(text, value);
    }
    if (control->role() == access_role::text) return give_text(control->label(), value);
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!description) return E_INVALIDARG;
    *description = nullptr;
    // The hint, when it says more than the name.
    if (!control || control->get_hint() == accessible_name(control)) return S_FALSE;
    return give_text(control->get_hint(), description);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!role) return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = control ? system_role(control->role()) : ROLE_SYSTEM_CLIENT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!state) return E_INVALIDARG;
    state->vt = VT_I4;
    state->lVal = control ? state_of(control) : self_state();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override {
    if (help) *help = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* shortcut) override {
    if (shortcut) *shortcut = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_INVALIDARG;
    focus->vt = VT_EMPTY;
    ctrl_dialog* dialog = dialog_of(window_);
    if (!dialog) return E_FAIL;
    HWND has = GetFocus();
    if (has != window_ && !IsChild(window_, has)) return S_FALSE;
    focus->vt = VT_I4;
    focus->lVal = CHILDID_SELF;
    if (ctrl_base* focused = dialog->focused(); focused && dialog->can_focus(focused)) {
      focus->lVal = id_of(dialog, focused);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (!selection) return E_INVALIDARG;
    selection->vt = VT_EMPTY;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!action) return E_INVALIDARG;
    *action = nullptr;
    const wchar_t* text = control ? default_action_of(control) : nullptr;
    return text ? give_text(text, action) : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    ctrl_dialog* dialog = dialog_of(window_);
    if (!(flags & SELFLAG_TAKEFOCUS)) return DISP_E_MEMBERNOTFOUND;
    if (!control) {
      SetFocus(window_);
      return S_OK;
    }
    if (!dialog->can_focus(control)) return E_FAIL;
    dialog->set_focus(control);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!left || !top || !width || !height) return E_INVALIDARG;
    RECT r;
    if (control) {
      const rect& a = control->area();
      const double scale = dialog_of(window_)->scale();
      r = RECT{platform::to_pixels(a.left, scale), platform::to_pixels(a.top, scale),
               platform::to_pixels(a.right, scale), platform::to_pixels(a.bottom, scale)};
    } else {
      GetClientRect(window_, &r);
    }
    MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&r), 2);
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(start, &control);
    if (FAILED(found)) return found;
    if (!end) return E_INVALIDARG;
    end->vt = VT_EMPTY;
    const long count = static_cast<long>(accessible_elements(dialog_of(window_)).size());
    const long from = start.vt == VT_I4 ? start.lVal : CHILDID_SELF;
    long to = 0;
    if (from == CHILDID_SELF) {
      if (direction == NAVDIR_FIRSTCHILD) to = 1;
      if (direction == NAVDIR_LASTCHILD) to = count;
    } else if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN) {
      to = from + 1;
    } else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP) {
      to = from - 1;
    }
    if (to < 1 || to > count) return S_FALSE;
    end->vt = VT_I4;
    end->lVal = to;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
    if (!hit) return E_INVALIDARG;
    hit->vt = VT_EMPTY;
    ctrl_dialog* dialog = dialog_of(window_);
    if (!dialog) return E_FAIL;
    POINT p = {x, y};
    ScreenToClient(window_, &p);
    RECT client;
    GetClientRect(window_, &client);
    if (!PtInRect(&client, p)) return S_FALSE;
    hit->vt = VT_I4;
    hit->lVal = CHILDID_SELF;
    const std::vector<ctrl_base*> elements = accessible_elements(dialog);
    const int unit_x = static_cast<int>(p.x / dialog->scale());
    const int unit_y = static_cast<int>(p.y / dialog->scale());
    for (ctrl_base* c = hit_test(dialog, unit_x, unit_y); c && c != dialog; c = c->parent()) {
      for (size_t i = 0; i < elements.size(); ++i) {
        if (elements[i] == c) {
          hit->lVal = static_cast<long>(i + 1);
          return S_OK;
        }
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    ctrl_base* control = nullptr;
    const HRESULT found = resolve(child, &control);
    if (FAILED(found)) return found;
    if (!control || !control->interactive()) return DISP_E_MEMBERNOTFOUND;
    ctrl_dialog* dialog = dialog_of(window_);
    if (!dialog->can_focus(control)) return E_FAIL;
    return control->activate() ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  // The control a child id names (nullptr for the window itself).
  HRESULT resolve(const VARIANT& child, ctrl_base** control) {
    *control = nullptr;
    ctrl_dialog* dialog = dialog_of(window_);
    if (!dialog) return E_FAIL;
    if (child.vt != VT_I4) return E_INVALIDARG;
    if (child.lVal == CHILDID_SELF) return S_OK;
    const std::vector<ctrl_base*> elements = accessible_elements(dialog);
    if (child.lVal < 1 || child.lVal > static_cast<long>(elements.size())) return E_INVALIDARG;
    *control = elements[static_cast<size_t>(child.lVal - 1)];
    return S_OK;
  }

  static long id_of(ctrl_dialog* dialog, const ctrl_base* control) {
    const std::vector<ctrl_base*> elements = accessible_elements(dialog);
    for (size_t i = 0; i < elements.size(); ++i) {
      if (elements[i] == control) return static_cast<long>(i + 1);
    }
    return CHILDID_SELF;
  }

  LONG self_state() const {
    LONG state = STATE_SYSTEM_FOCUSABLE;
    if (GetFocus() == window_) state |= STATE_SYSTEM_FOCUSED;
    if (!IsWindowVisible(window_)) state |= STATE_SYSTEM_INVISIBLE;
    return state;
  }

  LONG state_of(ctrl_base* control) const {
    ctrl_dialog* dialog = dialog_of(window_);
    LONG state = 0;
    if (!is_shown(dialog, control)) state |= STATE_SYSTEM_INVISIBLE;
    if (control->interactive()) {
      if (!control->enabled()) {
        state |= STATE_SYSTEM_UNAVAILABLE;
      } else if (dialog->can_focus(control)) {
        state |= STATE_SYSTEM_FOCUSABLE;
        HWND has = GetFocus();
        if (dialog->focused() == control && (has == window_ || IsChild(window_, has))) {
          state |= STATE_SYSTEM_FOCUSED;
        }
      }
    }
    if (control->checked()) state |= STATE_SYSTEM_CHECKED;
    if (control->role() == access_role::link) state |= STATE_SYSTEM_LINKED;
    if (control->role() == access_role::progress_bar || control->role() == access_role::static_text) {
      state |= STATE_SYSTEM_READONLY;
    }
    return state;
  }

  HWND window_;
  LONG references_ = 1;
};

}  // namespace

std::vector<ctrl_base*> accessible_elements(ctrl_dialog* dialog) {
  std::vector<ctrl_base*> elements;
  if (dialog) collect(dialog, &elements);
  return elements;
}

std::wstring accessible_name(const ctrl_base* control) {
  const std::string& key = control->access_name();
  if (!key.empty()) {
    std::wstring text;
    if (key.find_first_not_of("0123456789") == std::string::npos) {
      LookupString(&text, static_cast<unsigned>(std::strtoul(key.c_str(), nullptr, 10)));
    } else {
      text = utf8_to_wide(key);
    }
    if (!text.empty()) return text;
  }
  const std::wstring label = control->label();
  return label.empty() ? control->get_hint() : label;
}

LRESULT accessible_object_result(HWND window, WPARAM wparam) {
  if (!dialog_of(window)) return 0;
  auto* object = new skin_accessible(window);
  const LRESULT result = LresultFromObject(kIidAccessible, wparam, object);
  object->Release();
  return result > 0 ? result : 0;
}

namespace platform {

void notify_access(ctrl_base* control, access_event event) {
  ctrl_base* top = control->owner_or_self();
  if (std::string(top->type_name()) != "dialog" || !top->window()) return;
  auto* dialog = static_cast<ctrl_dialog*>(top);
  // An edit's own window announces its focus.
  if (event == access_event::focus && !control->windowless()) return;
  const std::vector<ctrl_base*> elements = accessible_elements(dialog);
  for (size_t i = 0; i < elements.size(); ++i) {
    if (elements[i] != control) continue;
    const DWORD kind = event == access_event::focus          ? EVENT_OBJECT_FOCUS
                       : event == access_event::value_change ? EVENT_OBJECT_VALUECHANGE
                                                             : EVENT_OBJECT_STATECHANGE;
    NotifyWinEvent(kind, dialog->window(), OBJID_CLIENT, static_cast<LONG>(i + 1));
    return;
  }
}

}  // namespace platform
}  // namespace dui
