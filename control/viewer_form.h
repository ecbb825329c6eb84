// The form behind ActiveFormX_Foxit: what the control's properties and preview reach through. A
// frame that has windows (the ActiveX control of Zentrak.ocx) gives the control a form of its own;
// where there is no window (zentrak-host, whose page draws the viewer itself) the control keeps the
// values in a DetachedViewerForm and remembers the file it was asked to open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zentrak {

class TActiveFormControl;

// The control's border styles (TxActiveFormBorderStyle).
enum class BorderStyle : int32_t { kNone = 0, kSingle = 1, kSunken = 2, kRaised = 3 };

// The form's font, as a font object's attributes carry it.
struct FontAttributes {
  std::u16string name = u"MS Sans Serif";
  int32_t height = -11;         // negative: a character height in pixels
  int64_t size_cy = 82500;      // the point size in currency units (10 000 per point): 8.25 pt
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikethrough = false;
  int16_t weight = 400;
  int16_t charset = 1;          // DEFAULT_CHARSET
  bool operator==(const FontAttributes&) const = default;
};

// The colour the form starts with: the system colour button face (clBtnFace).
inline constexpr uint32_t kColorButtonFace = 0xFF00000Fu;

// What the control asks of its form. Every setter is called only when the value is to change; the
// getters answer what the form shows now.
class ViewerForm {
 public:
  virtual ~ViewerForm() = default;

  // The control that owns the form, told once when the control takes it. A form with a window
  // reports what happens to it (clicks, keys, paints, activation, destruction) to this control.
  virtual void Attach(TActiveFormControl& control) { (void)control; }

  virtual bool Visible() const = 0;
  virtual void SetVisible(bool value) = 0;
  virtual bool AutoScroll() const = 0;
  virtual void SetAutoScroll(bool value) = 0;
  virtual bool AutoSize() const = 0;
  virtual void SetAutoSize(bool value) = 0;
  // Re-creates the form's window with the style bits of the new border style.
  virtual void SetBorderStyle(BorderStyle value) = 0;
  virtual std::u16string Caption() const = 0;
  virtual void SetCaption(const std::u16string& value) = 0;
  virtual uint32_t Color() const = 0;
  virtual void SetColor(uint32_t value) = 0;  // stores it and repaints
  virtual FontAttributes Font() const = 0;
  virtual void SetFont(const FontAttributes& value) = 0;
  virtual void SetKeyPreview(bool value) = 0;
  virtual int32_t PixelsPerInch() const = 0;
  virtual void SetPixelsPerInch(int32_t value) = 0;
  virtual bool Scaled() const = 0;
  virtual void SetScaled(bool value) = 0;
  virtual bool Active() const = 0;
  virtual bool AlignDisabled() const = 0;
  virtual int32_t VisibleDockClientCount() const = 0;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool value) = 0;

  // Has the form's PDF engine open the file (the system's form of its name); the engine's answer
  // is not looked at.
  virtual void OpenDocumentFile(const std::string& file_name) = 0;
};

// A form without a window: it keeps what it is given. A form with a window starts from it and
// overrides what its window shows.
class DetachedViewerForm : public ViewerForm {
 public:
  bool Visible() const override { return visible_; }
  void SetVisible(bool value) override { visible_ = value; }
  bool AutoScroll() const override { return auto_scroll_; }
  void SetAutoScroll(bool value) override { auto_scroll_ = value; }
  bool AutoSize() const override { return auto_size_; }
  void SetAutoSize(bool value) override { auto_size_ = value; }
  void SetBorderStyle(BorderStyle) override { ++recreated_; }
  std::u16string Caption() const override { return caption_; }
  void SetCaption(const std::u16string& value) override { caption_ = value; }
  uint32_t Color() const override { return color_; }
  void SetColor(uint32_t value) override { color_ = value; }
  FontAttributes Font() const override { return font_; }
  void SetFont(const FontAttributes& value) override { font_ = value; }
  void SetKeyPreview(bool) override {}
  int32_t PixelsPerInch() const override { return pixels_per_inch_; }
  void SetPixelsPerInch(int32_t value) override { pixels_per_inch_ = value; }
  bool Scaled() const override { return scaled_; }
  void SetScaled(bool value) override { scaled_ = value; }
  bool Active() const override { return false; }
  bool AlignDisabled() const override { return false; }
  int32_t VisibleDockClientCount() const override { return 0; }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool value) override { enabled_ = value; }
  void OpenDocumentFile(const std::string& file_name) override { opened_ = file_name; }

  const std::string& OpenedFile() const { return opened_; }
  int WindowsRecreated() const { return recreated_; }

 protected:
  // What a form with a window also keeps, and shows where its window is.
  bool visible_ = true;
  bool auto_scroll_ = false;
  bool auto_size_ = false;
  std::u16string caption_ = u"ActiveFormX_Foxit";
  uint32_t color_ = kColorButtonFace;
  FontAttributes font_;
  int32_t pixels_per_inch_ = 96;
  bool scaled_ = true;
  bool enabled_ = true;

 private:
  std::string opened_;
  int recreated_ = 0;
};

// Makes the form of each new control. A frame with windows installs its own at start-up; the
// default makes DetachedViewerForm.
using ViewerFormFactory = std::function<std::unique_ptr<ViewerForm>()>;
void SetViewerFormFactory(ViewerFormFactory factory);

}  // namespace zentrak
