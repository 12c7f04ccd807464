// What a screen reader reads of a control (Microsoft Active Accessibility,
// which UI Automation also reads for standard controls): the standard
// control's own answer, with the name and description the program gave the
// control in its place. oleacc.dll and COM are loaded when a reader first
// asks, never at start-up: the program imports neither.

#include "platform/windows/toolkit_win32_internal.h"

#include <commctrl.h>
#include <ole2.h>
#include <oleacc.h>

namespace platform::win::detail {

namespace {

constexpr UINT_PTR kAccessSubclass = 7;

// The three calls taken from the system's DLLs, loaded once.
struct Oleacc {
  decltype(&CreateStdAccessibleObject) standardObject = nullptr;
  decltype(&LresultFromObject) lresultFromObject = nullptr;
  decltype(&SysAllocString) allocString = nullptr;
};

template <class Function>
Function take(HMODULE dll, const char* name) {
  return dll ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name))) : nullptr;
}

// nullptr when the system cannot give them.
const Oleacc* oleacc() {
  static const Oleacc calls = [] {
    Oleacc loaded;
    HMODULE com = LoadLibraryW(L"ole32.dll");
    // The object goes to the reader through COM marshalling, which needs COM
    // on this thread; nothing else here uses it.
    if (auto start = take<decltype(&CoInitializeEx)>(com, "CoInitializeEx")) start(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE acc = LoadLibraryW(L"oleacc.dll");
    loaded.standardObject = take<decltype(&CreateStdAccessibleObject)>(acc, "CreateStdAccessibleObject");
    loaded.lresultFromObject = take<decltype(&LresultFromObject)>(acc, "LresultFromObject");
    loaded.allocString = take<decltype(&SysAllocString)>(LoadLibraryW(L"oleaut32.dll"), "SysAllocString");
    return loaded;
  }();
  const bool whole = calls.standardObject && calls.lresultFromObject && calls.allocString;
  return whole ? &calls : nullptr;
}

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The standard control's object, answering the name and description from the
// control as it is at each call: a reader that keeps the object hears a
// renamed port and its new state.
class Described final : public IAccessible {
 public:
  Described(HWND window, IAccessible* standard, const Oleacc& calls)
      : window_(window), standard_(standard), calls_(calls) {}
  Described(const Described&) = delete;
  Described& operator=(const Described&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    return standard_->QueryInterface(iid, out);  // IOleWindow, IEnumVARIANT
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
    return own(child, out, [](const WinControl& c) { return c.accessibleName(); })
               ? S_OK : standard_->get_accName(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
    return own(child, out, [](const WinControl& c) { return c.accessibleDescription(); })
               ? S_OK : standard_->get_accDescription(child, out);
  }

  // Everything else is the standard control's.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT n, LCID lcid, ITypeInfo** info) override {
    return standard_->GetTypeInfo(n, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return standard_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* error, UINT* bad) override {
    return standard_->Invoke(id, iid, lcid, flags, params, result, error, bad);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard_->get_accChildCount(count); }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return standard_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override { return standard_->get_accValue(child, out); }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override { return standard_->get_accRole(child, out); }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
    return standard_->get_accState(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override { return standard_->get_accHelp(child, out); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    return standard_->get_accKeyboardShortcut(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override { return standard_->get_accFocus(out); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override { return standard_->get_accSelection(out); }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    return standard_->get_accDefaultAction(child, out);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override { return standard_->accSelect(flags, child); }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* out) override { return standard_->accHitTest(x, y, out); }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return standard_->accDoDefaultAction(child); }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return standard_->put_accName(child, name); }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

 private:
  ~Described() { standard_->Release(); }

  // The control's own text for itself, when it has one.
  template <class Text>
  bool own(const VARIANT& child, BSTR* out, Text text) const {
    const WinControl* control = controlOf(window_);
    if (!out || !isSelf(child) || !control) return false;
    const std::string mine = text(*control);
    if (mine.empty()) return false;
    *out = calls_.allocString(widen(mine).c_str());
    return *out != nullptr;
  }

  LONG refs_ = 1;
  HWND window_;
  IAccessible* standard_;
  const Oleacc& calls_;
};

// The answer to WM_GETOBJECT for the control's client area; 0 leaves the
// question to the control.
LRESULT describedObject(HWND window, WPARAM w) {
  const Oleacc* calls = oleacc();
  if (!calls) return 0;
  IAccessible* standard = nullptr;
  if (FAILED(calls->standardObject(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&standard))) ||
      !standard)
    return 0;
  auto* described = new Described(window, standard, *calls);
  const LRESULT answer = calls->lresultFromObject(__uuidof(IAccessible), w, described);
  described->Release();  // the answer holds its own reference
  return answer > 0 ? answer : 0;
}

LRESULT CALLBACK accessProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
  if (message == WM_GETOBJECT && static_cast<LONG>(static_cast<DWORD>(l)) == OBJID_CLIENT) {
    const WinControl* control = controlOf(window);
    if (control && (!control->accessibleName().empty() || !control->accessibleDescription().empty())) {
      if (const LRESULT answer = describedObject(window, w)) return answer;
    }
  }
  return DefSubclassProc(window, message, w, l);
}

}  // namespace

void answerReaders(HWND window) { SetWindowSubclass(window, &accessProc, kAccessSubclass, 0); }

void stopAnsweringReaders(HWND window) { RemoveWindowSubclass(window, &accessProc, kAccessSubclass); }

void announce(HWND window, DWORD event) { NotifyWinEvent(event, window, OBJID_CLIENT, CHILDID_SELF); }

}  // namespace platform::win::detail
