// ActiveFormX_Foxit: the control object.
#include "control/active_form.h"

#include <memory>
#include <utility>
#include <vector>

#include "automation/convert.h"
#include "automation/dispids.h"
#include "automation/status.h"
#include "base/exception.h"
#include "common/document_file.h"

namespace zentrak {

namespace {

ViewerFormFactory& FormFactory() {
  static ViewerFormFactory factory;
  return factory;
}

FontObjectReader font_reader = nullptr;

std::unique_ptr<ViewerForm> MakeForm() {
  if (const ViewerFormFactory& make = FormFactory()) {
    if (std::unique_ptr<ViewerForm> form = make()) return form;
  }
  return std::make_unique<DetachedViewerForm>();
}

// Arguments arrive coerced to the declared types: booleans as Boolean (any non-zero is true),
// numbers as Integer, colours as LongWord, texts as OleStr.
bool Flag(const Variant& v) { return v.IntegerValue() != 0; }
int32_t Number(const Variant& v) { return static_cast<int32_t>(v.IntegerValue()); }

}  // namespace

void SetViewerFormFactory(ViewerFormFactory factory) { FormFactory() = std::move(factory); }
void SetFontObjectReader(FontObjectReader reader) { font_reader = reader; }

bool FontValue::DefaultValue(Variant& out) {
  out = Variant(attributes_.name);
  return true;
}

TActiveFormControl::TActiveFormControl() : TActiveFormControl(MakeForm()) {}

TActiveFormControl::TActiveFormControl(std::unique_ptr<ViewerForm> form)
    : AutomationObject(ActiveFormClass()), form_(std::move(form)) {
  form_->Attach(*this);
}

TActiveFormControl::~TActiveFormControl() = default;

void TActiveFormControl::EventSinkChanged(bool connected) noexcept {
  if (!connected) return;
  if (sinks_connected_++ == 0) Raise(dispid::active_form_events::kOnCreate);
}

void TActiveFormControl::Raise(int32_t dispid) { RaiseEvent(dispid, {}); }

void TActiveFormControl::OnActivate() { Raise(dispid::active_form_events::kOnActivate); }
void TActiveFormControl::OnDeactivate() { Raise(dispid::active_form_events::kOnDeactivate); }
void TActiveFormControl::OnClick() { Raise(dispid::active_form_events::kOnClick); }
void TActiveFormControl::OnDblClick() { Raise(dispid::active_form_events::kOnDblClick); }
void TActiveFormControl::OnPaint() { Raise(dispid::active_form_events::kOnPaint); }

void TActiveFormControl::OnDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  Raise(dispid::active_form_events::kOnDestroy);
}

uint8_t TActiveFormControl::OnKeyPress(uint8_t key) {
  // The handler sees a 16-bit integer by reference; the low 8 bits it leaves are the key.
  auto left = std::make_shared<uint8_t>(key);
  std::vector<Variant> args;
  args.push_back(Variant::FromInteger(VarType::Smallint, key));
  RaiseEvent(dispid::active_form_events::kOnKeyPress, std::move(args), [left](std::span<Variant> a) {
    int64_t value = 0;
    if (!a.empty() && TryVarToInt64(a[0], value)) *left = static_cast<uint8_t>(value & 0xFF);
  });
  return *left;
}

// Writes the Base64 document to a ToPrint file in the user's folder, which stays there, and has
// the engine open it. The engine's answer is not looked at: a document it cannot read still
// answers true, and the viewer shows what the engine makes of it.
void TActiveFormControl::preview(const Variant& Doc, Variant& Value) {
  const std::string file = SaveDocumentToFile(VarToText(Doc));
  form_->OpenDocumentFile(file);
  Value = Variant::FromBool(true);
}

void TActiveFormControl::ReadProperty(int32_t id, Variant& r) const {
  namespace d = dispid::active_form;
  switch (id) {
    case d::kVisible: r = Variant::FromBool(form_->Visible()); return;
    case d::kAutoScroll: r = Variant::FromBool(form_->AutoScroll()); return;
    case d::kAutoSize: r = Variant::FromBool(form_->AutoSize()); return;
    case d::kAxBorderStyle: r = Variant::FromInt32(static_cast<int32_t>(border_style_)); return;
    case d::kCaption: r = Variant(form_->Caption()); return;
    case d::kColor: r = Variant::FromInteger(VarType::LongWord, form_->Color()); return;
    case d::kFont:
      r = Variant::FromObject(VarType::Dispatch, std::make_shared<FontValue>(form_->Font()));
      return;
    case d::kKeyPreview: r = Variant::FromBool(key_preview_); return;
    case d::kPixelsPerInch: r = Variant::FromInt32(form_->PixelsPerInch()); return;
    case d::kPrintScale: r = Variant::FromInt32(print_scale_); return;
    case d::kScaled: r = Variant::FromBool(form_->Scaled()); return;
    case d::kActive: r = Variant::FromBool(form_->Active()); return;
    case d::kDropTarget: r = Variant::FromBool(drop_target_); return;
    case d::kHelpFile: r = Variant(help_file_); return;
    case d::kScreenSnap: r = Variant::FromBool(screen_snap_); return;
    case d::kSnapBuffer: r = Variant::FromInt32(snap_buffer_); return;
    case d::kDoubleBuffered: r = Variant::FromBool(double_buffered_); return;
    case d::kAlignDisabled: r = Variant::FromBool(form_->AlignDisabled()); return;
    case d::kVisibleDockClientCount: r = Variant::FromInt32(form_->VisibleDockClientCount()); return;
    case d::kEnabled: r = Variant::FromBool(form_->Enabled()); return;
    default: throw ENotAvailable("ActiveFormX_Foxit property " + std::to_string(id));
  }
}

void TActiveFormControl::WriteProperty(int32_t id, const Variant& v) {
  namespace d = dispid::active_form;
  switch (id) {
    case d::kVisible: form_->SetVisible(Flag(v)); return;
    case d::kAutoScroll: form_->SetAutoScroll(Flag(v)); return;
    case d::kAutoSize: form_->SetAutoSize(Flag(v)); return;
    case d::kAxBorderStyle: {
      const auto style = static_cast<BorderStyle>(Number(v));
      if (style == border_style_) return;
      border_style_ = style;
      form_->SetBorderStyle(style);
      return;
    }
    case d::kCaption: form_->SetCaption(v.WideText()); return;
    case d::kColor: form_->SetColor(static_cast<uint32_t>(v.IntegerValue())); return;
    case d::kFont: {
      // put and putref copy the given font object's attributes into the form's font.
      if (v.Type() == VarType::Empty || !v.Object()) return;
      if (const auto* font = dynamic_cast<const FontValue*>(v.Object().get())) {
        form_->SetFont(font->Attributes());
        return;
      }
      FontAttributes read;
      if (font_reader && font_reader(v, read)) {
        form_->SetFont(read);
        return;
      }
      throw EStatusError("The object is not a font object", kDISP_E_TYPEMISMATCH);
    }
    case d::kKeyPreview:
      key_preview_ = Flag(v);
      form_->SetKeyPreview(key_preview_);
      return;
    case d::kPixelsPerInch: form_->SetPixelsPerInch(Number(v)); return;
    case d::kPrintScale: print_scale_ = Number(v); return;
    case d::kScaled: form_->SetScaled(Flag(v)); return;
    case d::kDropTarget: drop_target_ = Flag(v); return;
    case d::kHelpFile: help_file_ = v.WideText(); return;
    case d::kScreenSnap: screen_snap_ = Flag(v); return;
    case d::kSnapBuffer: snap_buffer_ = Number(v); return;
    case d::kDoubleBuffered: double_buffered_ = Flag(v); return;
    case d::kEnabled: form_->SetEnabled(Flag(v)); return;
    default: throw ENotAvailable("ActiveFormX_Foxit property " + std::to_string(id));
  }
}

void TActiveFormControl::Invoke(const MemberDesc& member, std::span<Variant> a, Variant& result) {
  if (member.dispid == dispid::active_form::kPreview) return preview(a[0], result);
  if (member.kind == MemberKind::kPropertyGet) return ReadProperty(member.dispid, result);
  return WriteProperty(member.dispid, a[0]);
}

}  // namespace zentrak
