// TActiveFormControl, the control object of ActiveFormX_Foxit, the in-page PDF viewer. It keeps
// the control's properties with their read and write rules, writes the document that preview is
// given to a file in the user's folder and has the form's engine open it, and raises the form's
// eight events. The frame owns the window: it gives the control its form (viewer_form.h) and
// reports what happens to the form through the On* calls below.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "automation/automation_object.h"
#include "control/viewer_form.h"

namespace zentrak {

// The font object that the Font property answers with. Its default value is the font's name. A
// frame whose pages hand in a platform font object reads its attributes through ReadFontObject.
class FontValue : public ObjectValue {
 public:
  explicit FontValue(FontAttributes attributes) : attributes_(std::move(attributes)) {}
  bool DefaultValue(Variant& out) override;
  const FontAttributes& Attributes() const noexcept { return attributes_; }

 private:
  FontAttributes attributes_;
};

// Reads the attributes of a font object that the frame made (a Dispatch value). Answers false when
// the object is no font object it knows.
using FontObjectReader = bool (*)(const Variant& object, FontAttributes& out);
void SetFontObjectReader(FontObjectReader reader);

class TActiveFormControl : public AutomationObject {
 public:
  TActiveFormControl();
  explicit TActiveFormControl(std::unique_ptr<ViewerForm> form);
  ~TActiveFormControl() override;

  void Invoke(const MemberDesc& member, std::span<Variant> args, Variant& result) override;

  ViewerForm& Form() noexcept { return *form_; }
  BorderStyle AxBorderStyle() const noexcept { return border_style_; }
  bool KeyPreview() const noexcept { return key_preview_; }

  // What the frame reports of its form. Each raises the event of the same name; with no page
  // handler connected nothing happens.
  void OnActivate();
  void OnDeactivate();
  void OnClick();
  void OnDblClick();
  void OnPaint();
  // A character key (0 to 255) reached the form. Returns the key the form goes on with: the
  // page's handler may replace it, or swallow it by setting 0. Where the page answers later (the
  // host), the key goes on unchanged.
  uint8_t OnKeyPress(uint8_t key);
  // The form is being destroyed: OnDestroy, at most once.
  void OnDestroy();

 protected:
  // The first page handler connected in the form's life raises OnCreate; never again after.
  void EventSinkChanged(bool connected) noexcept override;

 private:
  void Raise(int32_t dispid);
  void preview(const Variant& Doc, Variant& Value);
  void ReadProperty(int32_t dispid, Variant& result) const;
  void WriteProperty(int32_t dispid, const Variant& value);

  std::unique_ptr<ViewerForm> form_;
  BorderStyle border_style_ = BorderStyle::kSingle;
  bool key_preview_ = false;
  int32_t print_scale_ = 1;  // poProportional
  bool drop_target_ = false;
  std::u16string help_file_;
  bool screen_snap_ = false;
  int32_t snap_buffer_ = 10;
  bool double_buffered_ = false;
  int sinks_connected_ = 0;
  bool destroyed_ = false;
};

}  // namespace zentrak
