// The Win32 form of ActiveFormX_Foxit: a child window, parked in a hidden window until a container
// activates the control in place, that keeps the form's properties, hosts the outside PDF control
// as its engine when that class is registered, and reports clicks, keys, paints, activation and its
// destruction to the control object. The values it only keeps are DetachedViewerForm's. Also the translation between the form's font attributes and
// the platform's font objects (IFontDisp).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>

#include "control/active_form.h"
#include "control/viewer_form.h"
#include "server/com/com_util.h"

namespace zentrak::com {

class Win32ViewerForm final : public DetachedViewerForm {
 public:
  // The form's window, 870 by 500, is created at once as a child of the parking window; where no
  // window can be made the form keeps its values without one. The engine is created when its
  // class is registered.
  Win32ViewerForm();
  ~Win32ViewerForm() override;

  void Attach(TActiveFormControl& control) override { control_ = &control; }

  bool Visible() const override;
  void SetVisible(bool value) override;
  void SetBorderStyle(BorderStyle value) override;
  void SetCaption(const std::u16string& value) override;
  void SetColor(uint32_t value) override;
  void SetFont(const FontAttributes& value) override;
  bool Active() const override { return active_; }
  bool Enabled() const override;
  void SetEnabled(bool value) override;
  void OpenDocumentFile(const std::string& file_name) override;

  HWND Window() const { return window_; }
  // Moves the form into parent (the container's window) at rect, or back into the parking
  // window when parent is null.
  void Place(HWND parent, const RECT* rect);
  // Paints the form's surface (background, frame, the engine's absence) into dc at bounds.
  void PaintTo(HDC dc, const RECT& bounds) const;
  // Destroys the window: OnDestroy reaches the control, once.
  void Close();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateFormWindow(HWND parent, const RECT& rect);
  void CreateEngine();
  void OnCharacter(WPARAM wparam, LPARAM lparam);
  void SetActive(bool active);

  TActiveFormControl* control_ = nullptr;
  HWND window_ = nullptr;
  bool recreating_ = false;
  BorderStyle border_style_ = BorderStyle::kSingle;
  HFONT hfont_ = nullptr;
  bool active_ = false;
  ComPtr<IDispatch> engine_;
  HWND engine_window_ = nullptr;  // where a visible engine is sited, filling the client area
};

// The colour a stored Color value draws with: a negative value (top bit set) is the system colour
// whose index is its low 8 bits; any other value is an RGB value.
COLORREF DrawnColor(uint32_t value);

// The window style bits and extended style bits of a border style; never a caption.
struct FormStyle {
  DWORD style, ex_style;
};
FormStyle FormStyleOf(BorderStyle border);

// A new platform font object with the form font's attributes. Raises when it cannot be made.
ComPtr<IFontDisp> NewFontObject(const FontAttributes& font);
// Reads a platform font object's attributes; false when object is no font object.
bool ReadFontObject(IUnknown* object, FontAttributes& out);

// Makes the controls of this module take Win32 forms and read platform font objects.
void InstallWin32ViewerForms();
// When the module is unloaded (not at process exit): the parking window and the window classes go.
void ReleaseWin32ViewerForms();

}  // namespace zentrak::com
