// ActiveFormX_Foxit's control object through late-bound calls, as a page reaches it: the property
// rules, preview's file and what the engine was asked to open, and the events.
#include "control/active_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "automation/dispatch.h"
#include "automation/dispids.h"
#include "base/testing/scoped.h"
#include "codec/base64.h"
#include "platform/codepage.h"

namespace zentrak {
namespace {

namespace d = dispid::active_form;
namespace ev = dispid::active_form_events;

struct Probe : DetachedViewerForm {
  std::vector<BorderStyle> styles;
  void SetBorderStyle(BorderStyle s) override {
    styles.push_back(s);
    DetachedViewerForm::SetBorderStyle(s);
  }
};

struct Control {
  Control() {
    auto form = std::make_unique<Probe>();
    probe = form.get();
    control = std::make_unique<TActiveFormControl>(std::move(form));
  }
  CallOutcome Put(int32_t id, Variant v) {
    std::vector<Variant> args{std::move(v)};
    return Invoke(*control, id, MemberKind::kPropertyPut, args, ignored);
  }
  Variant Get(int32_t id) {
    std::vector<Variant> args;
    Variant r;
    EXPECT_EQ(Invoke(*control, id, MemberKind::kPropertyGet, args, r).status, 0);
    return r;
  }
  CallOutcome Preview(Variant doc, Variant& result) {
    std::vector<Variant> args{std::move(doc)};
    return Invoke(*control, d::kPreview, MemberKind::kMethod, args, result);
  }
  Probe* probe;
  std::unique_ptr<TActiveFormControl> control;
  Variant ignored;
};

TEST(ActiveFormProperties, ReadBackWhatWasWrittenWithTheirTypes) {
  Control c;
  // Booleans read -1 or 0 and take any non-zero value as true.
  for (int32_t id : {d::kVisible, d::kAutoScroll, d::kAutoSize, d::kKeyPreview, d::kScaled, d::kDropTarget,
                     d::kScreenSnap, d::kDoubleBuffered, d::kEnabled}) {
    SCOPED_TRACE(id);
    ASSERT_EQ(c.Put(id, Variant::FromInt32(7)).status, 0);
    Variant on = c.Get(id);
    EXPECT_EQ(on.Type(), VarType::Boolean);
    EXPECT_EQ(on.IntegerValue(), -1);
    ASSERT_EQ(c.Put(id, Variant(u"0")).status, 0);
    EXPECT_EQ(c.Get(id).IntegerValue(), 0);
  }
  ASSERT_EQ(c.Put(d::kCaption, Variant(u"\u53d1\u7968")).status, 0);
  EXPECT_EQ(c.Get(d::kCaption).WideText(), u"\u53d1\u7968");
  ASSERT_EQ(c.Put(d::kHelpFile, Variant(u"help.chm")).status, 0);
  EXPECT_EQ(c.Get(d::kHelpFile).WideText(), u"help.chm");
  ASSERT_EQ(c.Put(d::kSnapBuffer, Variant::FromInt32(-3)).status, 0);
  EXPECT_EQ(c.Get(d::kSnapBuffer).IntegerValue(), -3);
  ASSERT_EQ(c.Put(d::kPrintScale, Variant::FromInt32(2)).status, 0);
  EXPECT_EQ(c.Get(d::kPrintScale).IntegerValue(), 2);
  ASSERT_EQ(c.Put(d::kPixelsPerInch, Variant::FromInt32(120)).status, 0);
  EXPECT_EQ(c.Get(d::kPixelsPerInch).IntegerValue(), 120);
  // The stored-only properties changed nothing that shows.
  EXPECT_TRUE(c.probe->styles.empty());
}

TEST(ActiveFormProperties, DefaultsAndReadOnlyOnes) {
  Control c;
  EXPECT_EQ(c.Get(d::kColor).IntegerValue(), 0xFF00000F);  // clBtnFace
  EXPECT_EQ(c.Get(d::kAxBorderStyle).IntegerValue(), 1);  // afbSingle
  EXPECT_EQ(c.Get(d::kCaption).WideText(), u"ActiveFormX_Foxit");
  EXPECT_EQ(c.Get(d::kVisibleDockClientCount).IntegerValue(), 0);
  EXPECT_EQ(c.Get(d::kActive).IntegerValue(), 0);
  EXPECT_NE(c.Put(d::kActive, Variant::FromBool(true)).status, 0);
  EXPECT_NE(c.Put(d::kAlignDisabled, Variant::FromBool(true)).status, 0);
}

TEST(ActiveFormProperties, BorderStyleRecreatesTheWindowOnlyWhenItChanges) {
  Control c;
  c.Put(d::kAxBorderStyle, Variant::FromInt32(2));  // afbSunken
  c.Put(d::kAxBorderStyle, Variant::FromInt32(2));
  c.Put(d::kAxBorderStyle, Variant::FromInt32(1));
  EXPECT_EQ(c.probe->styles, (std::vector<BorderStyle>{BorderStyle::kSunken, BorderStyle::kSingle}));
  EXPECT_EQ(c.Get(d::kAxBorderStyle).IntegerValue(), 1);
}

TEST(ActiveFormProperties, ColorKeepsSystemColoursAsStored) {
  Control c;
  for (int64_t color : {int64_t{0x00FF8000}, int64_t{0x80000005}, int64_t{-2147483643}}) {
    ASSERT_EQ(c.Put(d::kColor, Variant::FromInt64(color)).status, 0);
    EXPECT_EQ(c.Get(d::kColor).IntegerValue(), static_cast<uint32_t>(color));
  }
}

TEST(ActiveFormProperties, FontCopiesTheAttributesOfAFontObject) {
  Control c, other;
  Variant font = c.Get(d::kFont);
  ASSERT_EQ(font.Type(), VarType::Dispatch);
  Variant name;
  ASSERT_TRUE(font.Object()->DefaultValue(name));
  EXPECT_EQ(name.WideText(), u"MS Sans Serif");
  FontAttributes bold;
  bold.name = u"Arial";
  bold.bold = true;
  ASSERT_EQ(other.Put(d::kFont, Variant::FromObject(VarType::Dispatch, std::make_shared<FontValue>(bold))).status, 0);
  EXPECT_EQ(other.probe->Font(), bold);
  // A copy: the object handed in is not kept.
  EXPECT_EQ(dynamic_cast<FontValue&>(*other.Get(d::kFont).Object()).Attributes(), bold);
}

std::vector<std::filesystem::path> ToPrintFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> found;
  if (!std::filesystem::exists(folder)) return found;
  for (const auto& e : std::filesystem::directory_iterator(folder)) found.push_back(e.path());
  return found;
}

TEST(ActiveFormPreview, WritesTheFileLeavesItAndHasTheEngineOpenIt) {
  ScopedTempDir home;
  ScopedEnv profile("USERPROFILE", home.path().string());
  Control c;
  Variant result;
  const std::string pdf = "%PDF-1.4\n%%EOF\n";
  ASSERT_EQ(c.Preview(Variant(platform::AnsiToWide(EncodeBase64(pdf))), result).status, 0);
  EXPECT_EQ(result.Type(), VarType::Boolean);
  EXPECT_EQ(result.IntegerValue(), -1);
  auto files = ToPrintFiles(home.path() / "Zentrak");  // the folder was created
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex(R"(ToPrint\d{14}\d{1,2}\.pdf)")));
  std::ifstream in(files[0], std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), pdf);
  EXPECT_NE(c.probe->OpenedFile().find(files[0].filename().string()), std::string::npos);

  // An empty document writes an empty file and still answers true; Null fails and writes nothing.
  ASSERT_EQ(c.Preview(Variant(u""), result).status, 0);
  EXPECT_EQ(result.IntegerValue(), -1);
  const size_t before = ToPrintFiles(home.path() / "Zentrak").size();
  CallOutcome null = c.Preview(Variant::Null(), result);
  EXPECT_NE(null.status, 0);
  ASSERT_TRUE(null.error);
  EXPECT_EQ(null.error->description, u"Could not convert variant of type (Null) into type (String)");
  EXPECT_EQ(result.Type(), VarType::Empty);
  EXPECT_EQ(ToPrintFiles(home.path() / "Zentrak").size(), before);
}

struct Recorder : EventSink {
  std::vector<int32_t> fired;
  int16_t replace_key = -1;  // what the handler writes into OnKeyPress's argument; -1 leaves it
  void Fire(int32_t dispid, std::vector<Variant> args, std::function<void(std::span<Variant>)> done) noexcept override {
    fired.push_back(dispid);
    if (dispid == ev::kOnKeyPress && replace_key >= 0) args[0] = Variant::FromInteger(VarType::Smallint, replace_key);
    if (done) done(args);
  }
};

TEST(ActiveFormEvents, CreateOnceKeysReplacedOrSwallowedDestroyOnce) {
  Control c;
  Recorder page;
  EXPECT_EQ(c.control->OnKeyPress('a'), 'a');  // no handler: the key goes on
  c.control->SetEventSink(&page);
  c.control->SetEventSink(nullptr);
  c.control->SetEventSink(&page);
  EXPECT_EQ(page.fired, std::vector<int32_t>{ev::kOnCreate});

  EXPECT_EQ(c.control->OnKeyPress('a'), 'a');
  page.replace_key = 'B' + 0x100;  // the low 8 bits count
  EXPECT_EQ(c.control->OnKeyPress('a'), 'B');
  page.replace_key = 0;
  EXPECT_EQ(c.control->OnKeyPress('a'), 0);

  c.control->OnClick();
  c.control->OnDestroy();
  c.control->OnDestroy();
  EXPECT_EQ(page.fired, (std::vector<int32_t>{ev::kOnCreate, ev::kOnKeyPress, ev::kOnKeyPress, ev::kOnKeyPress,
                                              ev::kOnClick, ev::kOnDestroy}));
  c.control->SetEventSink(nullptr);
}

}  // namespace
}  // namespace zentrak
