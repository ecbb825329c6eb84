// The JSON value tree: positions and names, typed getters, the name index, enumeration,
// automation values and ownership.
#include "json/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/codepage.h"
#include "automation/convert.h"
#include "automation/variant.h"

namespace zentrak {
namespace {

double NumberOf(const TvxJSONbase* v) {
  EXPECT_TRUE(v);
  EXPECT_EQ(v ? v->TypeCode() : jsBase, jsNumber);
  return v ? static_cast<double>(static_cast<const TvxJSONnumber*>(v)->Value()) : -999;
}

std::unique_ptr<TvxJSONobject> TwoMembersNamedA(bool index) {
  auto obj = std::make_unique<TvxJSONobject>(index);
  obj->AddMember(u"a", 1);
  obj->AddMember(u"a", 2);
  return obj;
}

TEST(ValueClasses, TypeCodesAndNames) {
  struct Case {
    std::unique_ptr<TvxJSONbase> value;
    TvxJSONtype code;
    const char* name;
  };
  Case cases[] = {
      {std::make_unique<TvxJSONbase>(), jsBase, "jsBase"},
      {std::make_unique<TvxJSONnumber>(), jsNumber, "jsNumber"},
      {std::make_unique<TvxJSONstring>(), jsString, "jsString"},
      {std::make_unique<TvxJSONboolean>(), jsBoolean, "jsBoolean"},
      {std::make_unique<TvxJSONnull>(), jsNull, "jsNull"},
      {std::make_unique<TvxJSONcustomlist>(), jsBase, "jsBase"},
      {std::make_unique<TvxJSONlist>(), jsList, "jsList"},
      {std::make_unique<TvxJSONobject>(), jsObject, "jsObject"},
      {std::make_unique<TvxJSONobjectmethod>(), jsBase, "jsBase"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value->TypeCode(), c.code) << c.name;
    EXPECT_EQ(c.value->TypeName(), c.name);
    EXPECT_EQ(c.value->ItemCount(), 0) << c.name;
    EXPECT_EQ(c.value->ItemAt(0), nullptr) << c.name;
  }
  EXPECT_EQ(TvxJSONlist::ClassTypeCode(), jsList);
  EXPECT_EQ(TvxJSONobject::ClassTypeName(), "jsObject");
}

TEST(ValueClasses, InitialValuesAndConstruction) {
  EXPECT_EQ(TvxJSONnumber().Value(), 0.0L);
  EXPECT_EQ(TvxJSONnumber(static_cast<int32_t>(-2147483647 - 1)).Value(), -2147483648.0L);
  EXPECT_EQ(TvxJSONnumber(0.1L).Value(), 0.1L);  // the extended value is kept, not narrowed
  EXPECT_EQ(TvxJSONstring().Value(), u"");
  EXPECT_FALSE(TvxJSONboolean().Value());
  std::u16string moved = u"moved in \U0001F600";
  EXPECT_EQ(TvxJSONstring(std::move(moved)).Value(), u"moved in \U0001F600");
  // Texts that are not code units of valid text survive unchanged.
  const std::u16string lone = {0xD800, u'x', 0xDC00};
  EXPECT_EQ(TvxJSONstring(lone).Value(), lone);
}

TEST(ValueClasses, StringFromUtf8FollowsTheSystemRules) {
  struct Case {
    const char* utf8;
    std::u16string value;
  } cases[] = {
      {"plain", u"plain"},
      {"\xC3\xA9\xE4\xB8\xAD", u"\u00E9\u4E2D"},
      {"x\xF0\x9F\x98\x80y", u"x\U0001F600y"},  // a four-byte sequence keeps its character
      {"\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},
      {"\xC0\xAF", u"/"},  // overlong, read as it is
      {"ok\xE9", u""},     // malformed: the whole text is empty
      {"\xC3", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TvxJSONstring::FromUtf8(c.utf8)->Value(), c.value) << c.utf8;
  }
  // Longer than the inline form.
  std::string long_text(1000, 'x');
  long_text += "\xC3\xA9";
  EXPECT_EQ(TvxJSONstring::FromUtf8(long_text)->Value(), std::u16string(1000, u'x') + u"\u00E9");
}

TEST(ValueClasses, Utf8FastPathsAgreeWithTheSystemDecoder) {
  // Random texts rich in lead and continuation bytes, read as a string value and as the content
  // of a JSON string: both must hold exactly what the system's decoder gives.
  std::mt19937 rng(11);
  const unsigned char pieces[] = {'a',  0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xA0,
                                  0xED, 0xEF, 0xF0, 0x9F, 0xF4, 0x90, 0xF8, 0xFF};
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    int len = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < len; ++k) bytes += static_cast<char>(pieces[rng() % sizeof pieces]);
    std::u16string expected = Utf8ToWide(bytes);
    auto s = TvxJSONstring::FromUtf8(bytes);
    ASSERT_EQ(s->Value(), expected) << round;
    ASSERT_EQ(s->Utf8Value(), WideToUtf8(expected)) << round;
    auto doc = TvxJSON::ReadText("[\"" + bytes + "\"]");
    ASSERT_TRUE(doc);
    ASSERT_EQ(static_cast<TvxJSONlist*>(doc.get())->WideTextAt(0), expected) << round;
  }
}

TEST(Positions, OutOfRangeGivesNothing) {
  TvxJSONlist list;
  list.Append(u"only");
  TvxJSONobject obj(true);
  obj.AddMember(u"only", "x");
  for (TvxJSONcustomlist* c :
       {static_cast<TvxJSONcustomlist*>(&list), static_cast<TvxJSONcustomlist*>(&obj)}) {
    for (int32_t i : {-1, 1, 1000}) {
      EXPECT_EQ(c->ItemAt(i), nullptr) << i;
      EXPECT_EQ(c->TextAt(i), "") << i;
      EXPECT_EQ(c->WideTextAt(i), u"") << i;
      EXPECT_EQ(c->IntAt(i), 0) << i;
      EXPECT_EQ(c->RealAt(i), 0.0) << i;
      EXPECT_FALSE(c->FlagAt(i)) << i;
      std::string name = "unchanged";
      EXPECT_EQ(c->NamedItemAt(i, name), nullptr);
    }
  }
  EXPECT_EQ(list.TextAt(0), "only");
  EXPECT_EQ(obj.TextAt(0), "x");
  EXPECT_EQ(obj.MemberName(-1), u"");
  EXPECT_EQ(obj.MemberName(1), u"");
  EXPECT_EQ(obj.MemberValueAt(5), nullptr);
}

TEST(TypedGetters, RequireTheirClass) {
  TvxJSONlist list;
  list.Append(std::make_unique<TvxJSONnumber>(2.9));
  list.Append(u"text");
  list.Append(std::make_unique<TvxJSONboolean>(true));
  list.Append(std::make_unique<TvxJSONnull>());
  list.Append(std::make_unique<TvxJSONlist>());
  list.Append(std::make_unique<TvxJSONobject>());
  // Which getter accepts which position.
  struct Getter {
    const char* name;
    std::function<void(int32_t)> call;
    int accepts;
  } getters[] = {
      {"IntAt", [&](int32_t i) { list.IntAt(i); }, 0},
      {"RealAt", [&](int32_t i) { list.RealAt(i); }, 0},
      {"TextAt", [&](int32_t i) { list.TextAt(i); }, 1},
      {"WideTextAt", [&](int32_t i) { list.WideTextAt(i); }, 1},
      {"FlagAt", [&](int32_t i) { list.FlagAt(i); }, 2},
  };
  for (const Getter& g : getters) {
    for (int32_t i = 0; i < list.ItemCount(); ++i) {
      if (i == g.accepts) {
        EXPECT_NO_THROW(g.call(i)) << g.name << " " << i;
        continue;
      }
      try {
        g.call(i);
        ADD_FAILURE() << g.name << " accepted position " << i;
      } catch (const EInvalidCast& e) {
        EXPECT_STREQ(e.what(), "Invalid class typecast");
        EXPECT_EQ(e.HelpContext(), 0u);
      }
    }
  }
  EXPECT_EQ(list.IntAt(0), 2);
  EXPECT_DOUBLE_EQ(list.RealAt(0), 2.9);
  EXPECT_EQ(list.WideTextAt(1), u"text");
  EXPECT_TRUE(list.FlagAt(2));
}

TEST(TypedGetters, IntAtTruncatesAndKeepsTheLow32Bits) {
  struct Case {
    long double value;
    int32_t expected;
  } cases[] = {
      {2.9L, 2},
      {-2.9L, -2},
      {0.5L, 0},
      {2147483647.0L, 2147483647},
      {2147483648.0L, -2147483647 - 1},
      {4294967296.0L + 5, 5},
      {-4294967297.0L, -1},
      {1e300L, 0},  // beyond 64 bits: the integer indefinite, low half 0
      {-1e300L, 0},
      {std::numeric_limits<long double>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) {
    TvxJSONlist list;
    list.Append(std::make_unique<TvxJSONnumber>(c.value));
    EXPECT_EQ(list.IntAt(0), c.expected) << static_cast<double>(c.value);
  }
}

TEST(TypedGetters, EightBitTextUsesTheSystemCodePage) {
  const std::u16string wide = u"\u4E2D\u6587 caf\u00E9";
  TvxJSONlist list;
  list.Append(wide);
  list.Append(platform::WideToAnsi(wide));
  EXPECT_EQ(list.TextAt(0), platform::WideToAnsi(wide));
  EXPECT_EQ(list.WideTextAt(1), platform::AnsiToWide(platform::WideToAnsi(wide)));

  TvxJSONobject obj;
  obj.AddMember(wide, platform::WideToAnsi(u"\u00E9"));
  std::string name;
  TvxJSONbase* v = obj.NamedItemAt(0, name);
  EXPECT_EQ(name, platform::WideToAnsi(wide));
  ASSERT_TRUE(v);
  EXPECT_EQ(obj.TextAt(0), platform::WideToAnsi(u"\u00E9"));
}

TEST(Members, RepeatedNamesFindTheFirst) {
  for (bool index : {false, true}) {
    auto obj = TwoMembersNamedA(index);
    SCOPED_TRACE(index ? "with name index" : "without name index");
    EXPECT_EQ(obj->ItemCount(), 2);
    EXPECT_EQ(obj->MemberIndex(u"a"), 0);
    EXPECT_EQ(NumberOf(obj->MemberValue(u"a")), 1);
    EXPECT_EQ(NumberOf(obj->MemberValueAt(1)), 1);
    EXPECT_EQ(obj->IntAt(1), 1);
    EXPECT_EQ(obj->MemberName(1), u"a");
    std::vector<std::pair<std::string, double>> seen;
    obj->Enumerate([&](const std::string& name, TvxJSONbase* e, bool&) {
      seen.emplace_back(name, NumberOf(e));
    });
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, double>>{{"a", 1}, {"a", 1}}));
    EXPECT_EQ(TvxJSON::WriteText(obj.get()), "{\"a\":1,\"a\":2}");
    // ItemAt gives the members themselves.
    auto* second = static_cast<TvxJSONobjectmethod*>(obj->ItemAt(1));
    EXPECT_EQ(NumberOf(second->Value()), 2);
    // Exact code units: no case folding.
    EXPECT_EQ(obj->MemberValue(u"A"), nullptr);
    EXPECT_EQ(obj->MemberIndex(u"a "), -1);
  }
}

TEST(Members, EmptyNameAndMissingValue) {
  for (bool index : {false, true}) {
    TvxJSONobject obj(index);
    EXPECT_EQ(obj.AddMember(u"a", std::unique_ptr<TvxJSONbase>()), -1);
    EXPECT_EQ(obj.ItemCount(), 0);
    EXPECT_EQ(obj.AddMember(u"", 7), 0);
    EXPECT_EQ(obj.AddMember(u"b", 8), 1);
    EXPECT_NE(obj.ItemAt(0), nullptr);
    EXPECT_EQ(obj.MemberValueAt(0), nullptr);
    EXPECT_EQ(obj.IntAt(0), 0);
    EXPECT_EQ(NumberOf(obj.MemberValue(u"")), 7);  // by name the member is there
    int visits = 0;
    obj.Enumerate([&](const std::string& name, TvxJSONbase*, bool&) {
      ++visits;
      EXPECT_EQ(name, "b");
    });
    EXPECT_EQ(visits, 1);
  }
}

TEST(Members, AppendedMemberIsNotIndexed) {
  TvxJSONobject obj(true);
  obj.Append(std::make_unique<TvxJSONobjectmethod>(u"x", std::make_unique<TvxJSONnumber>(1)));
  EXPECT_EQ(obj.MemberIndex(u"x"), -1);  // Append leaves the index alone
  TvxJSONobject plain(false);
  plain.Append(std::make_unique<TvxJSONobjectmethod>(u"x", std::make_unique<TvxJSONnumber>(1)));
  EXPECT_EQ(plain.MemberIndex(u"x"), 0);
}

TEST(NameIndex, AgreesWithAScanForManyNames) {
  std::mt19937 rng(7);
  const char16_t alphabet[] = {u'a', u'b', 0xE9, 0x4E2D, 0xD83D, 0xDE00, 0xFFFF};
  TvxJSONobject indexed(true), scanned(false);
  std::map<std::u16string, int32_t> first;
  std::vector<std::u16string> names;
  for (int i = 0; i < 3000; ++i) {
    std::u16string name;
    int len = static_cast<int>(rng() % 6);
    for (int k = 0; k < len; ++k) name += alphabet[rng() % 7];
    names.push_back(name);
    int32_t p1 = indexed.AddMember(name, i);
    int32_t p2 = scanned.AddMember(name, i);
    ASSERT_EQ(p1, i);
    ASSERT_EQ(p2, i);
    first.emplace(name, i);
  }
  for (const auto& [name, position] : first) {
    EXPECT_EQ(indexed.MemberIndex(name), position);
    EXPECT_EQ(scanned.MemberIndex(name), position);
  }
  for (const char16_t* absent :
       {u"zz", u"\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9", u"b\uFFFE"}) {
    EXPECT_EQ(indexed.MemberIndex(absent), first.count(absent) ? first[absent] : -1);
  }
}

TEST(Containers, RemoveReplaceAndPositionOf) {
  TvxJSONlist list;
  for (int i = 0; i < 4; ++i) list.Append(std::make_unique<TvxJSONnumber>(i));
  TvxJSONbase* last = list.ItemAt(3);
  list.RemoveAt(1);  // the last element moves into the gap
  EXPECT_EQ(TvxJSON::WriteText(&list), "[0,3,2]");
  EXPECT_EQ(list.PositionOf(last), 1);
  list.RemoveAt(2);
  list.RemoveAt(-1);
  list.RemoveAt(2);
  EXPECT_EQ(TvxJSON::WriteText(&list), "[0,3]");
  EXPECT_EQ(list.PositionOf(nullptr), -1);
  TvxJSONnull stranger;
  EXPECT_EQ(list.PositionOf(&stranger), -1);

  std::unique_ptr<TvxJSONbase> e = std::make_unique<TvxJSONstring>(u"new");
  EXPECT_FALSE(list.ReplaceItem(2, std::move(e)));
  EXPECT_TRUE(e);  // not taken over
  EXPECT_TRUE(list.ReplaceItem(0, std::move(e)));
  EXPECT_FALSE(e);
  EXPECT_EQ(TvxJSON::WriteText(&list), "[\"new\",3]");
  EXPECT_EQ(list.Append(std::unique_ptr<TvxJSONbase>()), -1);
  EXPECT_EQ(list.ItemCount(), 2);
}

TEST(Containers, RemovingFromAnIndexedObjectKeepsLookupsRight) {
  TvxJSONobject obj(true);
  obj.AddMember(u"a", 0);
  obj.AddMember(u"b", 1);
  obj.AddMember(u"c", 2);
  obj.AddMember(u"b", 3);
  obj.RemoveAt(1);  // "b" (3) moves into position 1
  EXPECT_EQ(TvxJSON::WriteText(&obj), "{\"a\":0,\"b\":3,\"c\":2}");
  EXPECT_EQ(obj.MemberIndex(u"b"), 1);
  EXPECT_EQ(NumberOf(obj.MemberValue(u"b")), 3);
  EXPECT_EQ(obj.MemberIndex(u"c"), 2);
  obj.RemoveAt(2);
  EXPECT_EQ(obj.MemberIndex(u"c"), -1);
  EXPECT_TRUE(obj.ReplaceItem(
      0, std::make_unique<TvxJSONobjectmethod>(u"z", std::make_unique<TvxJSONnumber>(9))));
  EXPECT_EQ(obj.MemberIndex(u"a"), -1);
  EXPECT_EQ(NumberOf(obj.MemberValue(u"z")), 9);
  EXPECT_EQ(NumberOf(obj.MemberValue(u"b")), 3);
}

TEST(Enumerate, StopsOnRequestAndCountsOnce) {
  TvxJSONlist list;
  for (int i = 0; i < 5; ++i) list.Append(std::make_unique<TvxJSONnumber>(i));
  std::vector<std::string> names;
  list.Enumerate([&](const std::string& name, TvxJSONbase*, bool& go_on) {
    names.push_back(name);
    if (name == "2") go_on = false;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"0", "1", "2"}));

  // Elements appended during the walk are past the count taken before it.
  int visits = 0;
  list.Enumerate([&](const std::string&, TvxJSONbase*, bool&) {
    ++visits;
    list.Append(u"more");
  });
  EXPECT_EQ(visits, 5);
  EXPECT_EQ(list.ItemCount(), 10);

  struct Data {
    int calls = 0;
  } data;
  list.Enumerate([](const std::string&, TvxJSONbase*, void* user,
                    bool&) { ++static_cast<Data*>(user)->calls; },
                 &data);
  EXPECT_EQ(data.calls, 10);
  list.Enumerate(nullptr, &data);
  list.Enumerate(TvxJSONenumFunction());
}

TEST(AutomationValues, VariantValue) {
  Variant n = TvxJSONnumber(2.5L).VariantValue();
  EXPECT_EQ(n.Type(), VarType::Double);
  EXPECT_EQ(n.DoubleValue(), 2.5);
  Variant s = TvxJSONstring(u"t\u00E9").VariantValue();
  EXPECT_EQ(s.Type(), VarType::OleStr);
  EXPECT_EQ(s.WideText(), u"t\u00E9");
  Variant b = TvxJSONboolean(true).VariantValue();
  EXPECT_EQ(b.Type(), VarType::Boolean);
  EXPECT_EQ(b.IntegerValue(), -1);
  EXPECT_EQ(TvxJSONnull().VariantValue().Type(), VarType::Null);
  EXPECT_EQ(TvxJSONlist().VariantValue().Type(), VarType::Null);
  EXPECT_EQ(TvxJSONobject().VariantValue().Type(), VarType::Null);
  EXPECT_EQ(TvxJSONobjectmethod(u"a", std::make_unique<TvxJSONnumber>(1)).VariantValue().Type(),
            VarType::Null);
}

TEST(AutomationValues, AssignVariant) {
  TvxJSONnumber n;
  n.AssignVariant(Variant::FromInt32(42));
  EXPECT_EQ(n.Value(), 42.0L);
  EXPECT_THROW(n.AssignVariant(Variant::Null()), EVariantTypeCastError);
  EXPECT_EQ(n.Value(), 42.0L);
  TvxJSONstring s;
  s.AssignVariant(Variant(u"\U0001F600"));
  EXPECT_EQ(s.Value(), u"\U0001F600");
  s.AssignVariant(Variant::FromInt32(5));
  EXPECT_EQ(s.Value(), u"5");
  TvxJSONboolean b;
  b.AssignVariant(Variant::FromInt32(3));
  EXPECT_TRUE(b.Value());
  TvxJSONnull null;
  null.AssignVariant(Variant::FromInt32(3));  // ignored
  TvxJSONlist list;
  list.AssignVariant(Variant(u"x"));
  EXPECT_EQ(list.ItemCount(), 0);
}

TEST(AutomationValues, Lookup) {
  auto doc = TvxJSON::ReadText(R"({"Copies":2,"list":[10,20],"x":"y"})");
  ASSERT_TRUE(doc);
  EXPECT_EQ(NumberOf(doc->Lookup(Variant(u"Copies"))), 2);
  EXPECT_EQ(NumberOf(doc->Lookup(Variant::FromAnsi("Copies"))), 2);
  EXPECT_EQ(doc->Lookup(Variant(u"copies")), nullptr);
  EXPECT_EQ(doc->Lookup(Variant::FromInt32(0))->TypeCode(), jsBase);  // the member
  EXPECT_EQ(doc->Lookup(Variant::FromBool(true)), doc.get());
  EXPECT_EQ(doc->Lookup(Variant()), doc.get());

  TvxJSONbase* list = doc->Lookup(Variant(u"list"));
  ASSERT_TRUE(list);
  EXPECT_EQ(NumberOf(list->Lookup(Variant::FromInt32(1))), 20);
  EXPECT_EQ(NumberOf(list->Lookup(Variant::FromDouble(0.4))), 10);
  EXPECT_EQ(list->Lookup(Variant::FromInt32(2)), nullptr);
  EXPECT_EQ(list->Lookup(Variant(u"0")), list);  // a text key on a list: the list itself
  TvxJSONbase* x = doc->Lookup(Variant(u"x"));
  EXPECT_EQ(x->Lookup(Variant(u"anything")), x);  // a scalar answers every key with itself
  Variant by_ref = Variant::ByRefVariant(Variant(u"Copies"));
  EXPECT_EQ(NumberOf(doc->Lookup(by_ref)), 2);
}

// Counts its destructions, to prove that a tree frees every value once.
class CountedNull : public TvxJSONnull {
 public:
  explicit CountedNull(int& count) : count_(count) {}
  ~CountedNull() override { ++count_; }

 private:
  int& count_;
};

TEST(Ownership, DestroyingTheRootFreesEveryValueOnce) {
  int destroyed = 0;
  int created = 0;
  {
    auto root = std::make_unique<TvxJSONobject>(true);
    for (int i = 0; i < 50; ++i) {
      auto row = std::make_unique<TvxJSONlist>();
      for (int k = 0; k < 4; ++k, ++created) row->Append(std::make_unique<CountedNull>(destroyed));
      auto obj = std::make_unique<TvxJSONobject>(i % 2 == 0);
      obj->AddMember(u"row", std::move(row));
      obj->AddMember(u"leaf", std::make_unique<CountedNull>(destroyed));
      ++created;
      root->AddMember(u"m" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)),
                      std::move(obj));
    }
    root->RemoveAt(3);
    created -= 5;
    EXPECT_EQ(destroyed, 5);
    destroyed = 0;
    // Written as a whole, a subclass keeps its family.
    EXPECT_NE(TvxJSON::WriteText(root.get()).find("\"leaf\":null"), std::string::npos);
  }
  EXPECT_EQ(destroyed, created);
}

}  // namespace
}  // namespace zentrak
