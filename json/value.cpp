// The JSON value tree: containers, typed getters and the name index.
#include "json/value.h"

#include <cmath>
#include <cstring>

#include "base/text.h"
#include "json/utf8_form.h"
#include "platform/codepage.h"

namespace zentrak {

// A result set holds millions of these; their sizes are part of the design (value_pool.h).
static_assert(sizeof(void*) != 8 || sizeof(TvxJSONstring) == 32, "string layout");
static_assert(sizeof(void*) != 8 || sizeof(TvxJSONnumber) == 24, "number layout");
static_assert(sizeof(void*) != 8 || sizeof(TvxJSONobjectmethod) == 40, "member layout");
static_assert(sizeof(void*) != 8 || sizeof(TvxJSONobject) == 40, "object layout");

namespace {

using json_internal::Family;

// Byte order of the system's UTF-8 form, which is the order of the UTF-16 units it encodes (a
// proper prefix orders first).
int CompareNames(std::string_view a, std::string_view b) noexcept {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  if (n) {
    int c = std::memcmp(a.data(), b.data(), n);
    if (c) return c;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string AnsiFromUtf8Form(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return platform::WideToAnsi(Utf8ToWide(utf8));
}

TvxJSONobjectmethod* AsMember(TvxJSONbase* e) noexcept {
  return e && e->Family() == Family::kMember ? static_cast<TvxJSONobjectmethod*>(e) : nullptr;
}

}  // namespace

// ---- TvxJSONbase

TvxJSONbase* TvxJSONbase::ItemAt(int32_t) const { return nullptr; }
bool TvxJSONbase::ReplaceItem(int32_t, std::unique_ptr<TvxJSONbase>&&) { return false; }
int32_t TvxJSONbase::ItemCount() const { return 0; }

// ---- TvxJSONstring

std::unique_ptr<TvxJSONstring> TvxJSONstring::FromUtf8(std::string_view utf8) {
  if (json_internal::IsUtf8Form(utf8)) {
    return std::unique_ptr<TvxJSONstring>(new TvxJSONstring(Utf8FormTag(), utf8));
  }
  auto s = std::make_unique<TvxJSONstring>();
  s->SetUtf8Value(utf8);
  return s;
}

std::unique_ptr<TvxJSONstring> TvxJSONstring::FromAnsi(std::string_view text) {
  auto s = std::make_unique<TvxJSONstring>();
  if (IsAscii(text)) {
    s->text_.Assign(text);
  } else {
    s->SetValue(platform::AnsiToWide(text));
  }
  return s;
}

std::u16string TvxJSONstring::Value() const { return Utf8ToWide(text_.View()); }

void TvxJSONstring::SetValue(std::u16string_view value) {
  std::string utf8;
  AppendWideAsUtf8(value, utf8);
  text_.Assign(utf8);
}

void TvxJSONstring::SetUtf8Value(std::string_view utf8) {
  if (json_internal::IsUtf8Form(utf8)) {
    text_.Assign(utf8);
    return;
  }
  std::string form;
  json_internal::ToUtf8Form(utf8, form);
  text_.Assign(form);
}

// ---- TvxJSONcustomlist

TvxJSONcustomlist::~TvxJSONcustomlist() {
  while (!elements_.empty()) elements_.pop_back();
}

TvxJSONbase* TvxJSONcustomlist::ItemAt(int32_t position) const {
  if (position < 0 || static_cast<std::size_t>(position) >= elements_.size()) return nullptr;
  return elements_[static_cast<std::size_t>(position)].get();
}

bool TvxJSONcustomlist::ReplaceItem(int32_t position, std::unique_ptr<TvxJSONbase>&& element) {
  if (position < 0 || static_cast<std::size_t>(position) >= elements_.size()) return false;
  elements_[static_cast<std::size_t>(position)] = std::move(element);
  return true;
}

TvxJSONbase* TvxJSONcustomlist::NamedItemAt(int32_t position, std::string& name) const {
  name = std::to_string(position);
  return ItemAt(position);
}

void TvxJSONcustomlist::Reserve(int32_t count) {
  if (count > 0) elements_.reserve(static_cast<std::size_t>(count));
}

int32_t TvxJSONcustomlist::Append(std::unique_ptr<TvxJSONbase> element) {
  if (!element) return -1;
  elements_.push_back(std::move(element));
  return static_cast<int32_t>(elements_.size() - 1);
}

void TvxJSONcustomlist::RemoveAt(int32_t position) {
  if (position < 0 || static_cast<std::size_t>(position) >= elements_.size()) return;
  std::size_t i = static_cast<std::size_t>(position);
  elements_[i].reset();
  if (i + 1 != elements_.size()) elements_[i] = std::move(elements_.back());
  elements_.pop_back();
}

int32_t TvxJSONcustomlist::PositionOf(const TvxJSONbase* element) const {
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    if (elements_[i].get() == element) return static_cast<int32_t>(i);
  }
  return -1;
}

namespace {

template <class T>
const T* Require(const TvxJSONbase* e, Family family) {
  if (e->Family() != family) throw EInvalidCast();
  return static_cast<const T*>(e);
}

}  // namespace

int32_t TvxJSONcustomlist::IntAt(int32_t position) const {
  const TvxJSONbase* e = GetterElement(position);
  if (!e) return 0;
  double v = static_cast<double>(Require<TvxJSONnumber>(e, Family::kNumber)->Value());
  // Truncation to 64 bits; a value outside the range gives the integer indefinite, whose low
  // 32 bits are 0.
  int64_t whole = 0;
  if (v > -9223372036854775808.0 && v < 9223372036854775808.0) whole = static_cast<int64_t>(v);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

std::string TvxJSONcustomlist::TextAt(int32_t position) const {
  const TvxJSONbase* e = GetterElement(position);
  if (!e) return std::string();
  return AnsiFromUtf8Form(Require<TvxJSONstring>(e, Family::kString)->Utf8Value());
}

std::u16string TvxJSONcustomlist::WideTextAt(int32_t position) const {
  const TvxJSONbase* e = GetterElement(position);
  if (!e) return std::u16string();
  return Require<TvxJSONstring>(e, Family::kString)->Value();
}

double TvxJSONcustomlist::RealAt(int32_t position) const {
  const TvxJSONbase* e = GetterElement(position);
  if (!e) return 0.0;
  return static_cast<double>(Require<TvxJSONnumber>(e, Family::kNumber)->Value());
}

bool TvxJSONcustomlist::FlagAt(int32_t position) const {
  const TvxJSONbase* e = GetterElement(position);
  if (!e) return false;
  return Require<TvxJSONboolean>(e, Family::kBoolean)->Value();
}

void TvxJSONcustomlist::Enumerate(TvxJSONenumProc callback, void* user_data) const {
  if (!callback) return;
  Enumerate([&](const std::string& name, TvxJSONbase* e, bool& go_on) {
    callback(name, e, user_data, go_on);
  });
}

void TvxJSONcustomlist::Enumerate(const TvxJSONenumFunction& callback) const {
  if (!callback) return;
  bool go_on = true;
  const int32_t count = ItemCount();
  std::string name;
  for (int32_t i = 0; i < count; ++i) {
    if (TvxJSONbase* e = NamedItemAt(i, name)) callback(name, e, go_on);
    if (!go_on) break;
  }
}

// ---- TvxJSONlist

int32_t TvxJSONlist::Append(std::u16string_view text) {
  return TvxJSONcustomlist::Append(std::make_unique<TvxJSONstring>(text));
}

int32_t TvxJSONlist::Append(std::string_view text) {
  return TvxJSONcustomlist::Append(TvxJSONstring::FromAnsi(text));
}

// ---- TvxBalTree

TvxBalNode& TvxBalTree::NodeAt(TvxJSONelements& members, int32_t position) noexcept {
  return static_cast<TvxJSONobjectmethod*>(members[static_cast<std::size_t>(position)].get())
      ->node_;
}

int32_t TvxBalTree::FindName(const TvxJSONelements& members, std::string_view utf8_name) const {
  int32_t t = root_;
  while (t != TvxBalNode::kSentinel) {
    const auto* m =
        static_cast<const TvxJSONobjectmethod*>(members[static_cast<std::size_t>(t)].get());
    int c = CompareNames(utf8_name, m->Utf8Name());
    if (c == 0) return t;
    t = c < 0 ? m->node_.left : m->node_.right;
  }
  return -1;
}

bool TvxBalTree::InsertName(TvxJSONelements& members, int32_t position) {
  auto* m = static_cast<TvxJSONobjectmethod*>(members[static_cast<std::size_t>(position)].get());
  m->node_.named = true;
  return Insert(members, root_, position, m->Utf8Name());
}

bool TvxBalTree::Insert(TvxJSONelements& members, int32_t& link, int32_t position,
                        std::string_view name) {
  auto level = [&](int32_t t) -> uint8_t {
    return t == TvxBalNode::kSentinel ? 0 : NodeAt(members, t).level;
  };
  if (link == TvxBalNode::kSentinel) {
    TvxBalNode& n = NodeAt(members, position);
    n.left = n.right = TvxBalNode::kSentinel;
    n.level = 1;
    link = position;
    return true;
  }
  bool inserted = false;
  {
    TvxBalNode& n = NodeAt(members, link);
    auto* m = static_cast<TvxJSONobjectmethod*>(members[static_cast<std::size_t>(link)].get());
    int c = CompareNames(name, m->Utf8Name());
    if (c < 0) {
      inserted = Insert(members, n.left, position, name);
    } else if (c > 0) {
      inserted = Insert(members, n.right, position, name);
    }
  }
  // Skew: a left child on the same level becomes the subtree root.
  {
    TvxBalNode& n = NodeAt(members, link);
    if (n.left != TvxBalNode::kSentinel && level(n.left) == n.level) {
      int32_t l = n.left;
      TvxBalNode& ln = NodeAt(members, l);
      n.left = ln.right;
      ln.right = link;
      link = l;
    }
  }
  // Split: two right links on the same level; the middle node goes up a level.
  {
    TvxBalNode& n = NodeAt(members, link);
    int32_t r = n.right;
    if (r != TvxBalNode::kSentinel && level(NodeAt(members, r).right) == n.level) {
      TvxBalNode& rn = NodeAt(members, r);
      n.right = rn.left;
      rn.left = link;
      ++rn.level;
      link = r;
    }
  }
  return inserted;
}

void TvxBalTree::RemoveAll(TvxJSONelements& members) {
  for (auto& e : members) {
    if (TvxJSONobjectmethod* m = AsMember(e.get())) {
      m->node_.left = m->node_.right = TvxBalNode::kSentinel;
      m->node_.level = 0;
    }
  }
  root_ = TvxBalNode::kSentinel;
}

// ---- TvxJSONobjectmethod

TvxJSONobjectmethod::TvxJSONobjectmethod(std::u16string_view name,
                                         std::unique_ptr<TvxJSONbase> value)
    : value_(std::move(value)), name_(WideToUtf8(name)) {}

std::u16string TvxJSONobjectmethod::Name() const { return Utf8ToWide(name_.View()); }

// ---- TvxJSONobject

int32_t TvxJSONobject::AddNamed(json_internal::SharedName name,
                                std::unique_ptr<TvxJSONbase> element) {
  if (!element) return -1;
  std::unique_ptr<TvxJSONbase> member(new TvxJSONobjectmethod(std::move(name), std::move(element)));
  int32_t position = Append(std::move(member));
  if (use_name_index_) name_index_.InsertName(elements_, position);
  return position;
}

int32_t TvxJSONobject::AddMember(std::u16string_view name, std::unique_ptr<TvxJSONbase> element) {
  if (!element) return -1;
  return AddNamed(json_internal::SharedName(WideToUtf8(name)), std::move(element));
}

int32_t TvxJSONobject::AddMember(std::u16string_view name, double value) {
  return AddMember(name, std::make_unique<TvxJSONnumber>(value));
}

int32_t TvxJSONobject::AddMember(std::u16string_view name, int32_t value) {
  return AddMember(name, std::make_unique<TvxJSONnumber>(value));
}

int32_t TvxJSONobject::AddMember(std::u16string_view name, std::string_view text) {
  return AddMember(name, TvxJSONstring::FromAnsi(text));
}

const TvxJSONobjectmethod* TvxJSONobject::MemberAt(int32_t position) const {
  return AsMember(ItemAt(position));
}

int32_t TvxJSONobject::MemberIndexUtf8(std::string_view utf8_name) const {
  if (use_name_index_) return name_index_.FindName(elements_, utf8_name);
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    const TvxJSONobjectmethod* m = AsMember(elements_[i].get());
    if (m && m->Utf8Name() == utf8_name) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TvxJSONobject::MemberIndex(std::u16string_view name) const {
  return MemberIndexUtf8(WideToUtf8(name));
}

TvxJSONbase* TvxJSONobject::MemberValue(std::u16string_view name) const {
  const TvxJSONobjectmethod* m = MemberAt(MemberIndex(name));
  return m ? m->Value() : nullptr;
}

std::u16string TvxJSONobject::MemberName(int32_t position) const {
  const TvxJSONobjectmethod* m = MemberAt(position);
  return m ? m->Name() : std::u16string();
}

TvxJSONbase* TvxJSONobject::MemberValueAt(int32_t position) const {
  const TvxJSONobjectmethod* m = MemberAt(position);
  if (!m || m->Utf8Name().empty()) return nullptr;
  const TvxJSONobjectmethod* first = MemberAt(MemberIndexUtf8(m->Utf8Name()));
  return first ? first->Value() : nullptr;
}

TvxJSONbase* TvxJSONobject::NamedItemAt(int32_t position, std::string& name) const {
  const TvxJSONobjectmethod* m = MemberAt(position);
  name = m ? AnsiFromUtf8Form(m->Utf8Name()) : std::string();
  return MemberValueAt(position);
}

bool TvxJSONobject::ReplaceItem(int32_t position, std::unique_ptr<TvxJSONbase>&& element) {
  const TvxJSONobjectmethod* old = MemberAt(position);
  bool was_named = old && old->node_.named;
  if (!TvxJSONcustomlist::ReplaceItem(position, std::move(element))) return false;
  if (use_name_index_) ReindexMembers(position, was_named);
  return true;
}

void TvxJSONobject::RemoveAt(int32_t position) {
  if (position < 0 || position >= ItemCount()) return;
  TvxJSONcustomlist::RemoveAt(position);
  if (use_name_index_) ReindexMembers(-1, false);
}

void TvxJSONobject::ReindexMembers(int32_t replaced_position, bool replaced_was_named) {
  // The members that were given to the index go back in, in position order, so that the first
  // of a repeated name is found again; a member stored by ReplaceItem takes the part of the one
  // it replaced.
  if (TvxJSONobjectmethod* m = AsMember(ItemAt(replaced_position)))
    m->node_.named = replaced_was_named;
  name_index_.RemoveAll(elements_);
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    const TvxJSONobjectmethod* m = AsMember(elements_[i].get());
    if (m && m->node_.named) name_index_.InsertName(elements_, static_cast<int32_t>(i));
  }
}

}  // namespace zentrak
