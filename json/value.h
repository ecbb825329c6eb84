// The JSON value tree: TvxJSONbase and its family. Containers own their elements through
// std::unique_ptr; everything a query returns (ItemAt, MemberValue, NamedItemAt, ...) is borrowed
// and stays owned by its container. Missing data never raises: absent members and positions give
// none, -1, empty text, 0 or false. Text values and names are kept in the system's UTF-8 form
// (base/text.h) and converted on access; 8-bit text is in the system code page.
// REQUIRES: a tree is destroyed on the thread that built it (see value_pool.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/exception.h"
#include "json/value_pool.h"

namespace zentrak {

class TvxJSONbase;
class TvxJSONobject;
class TvxJSONobjectmethod;
class TvxJSON;
class Variant;  // automation/variant.h

// Type codes of the value classes.
enum TvxJSONtype : uint8_t {
  jsBase = 0,
  jsNumber = 1,
  jsString = 2,
  jsBoolean = 3,
  jsNull = 4,
  jsList = 5,
  jsObject = 6,
};

// A typed getter met an element of another class.
class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
};

using TvxJSONelements = std::vector<std::unique_ptr<TvxJSONbase>,
                                    json_internal::PoolAllocator<std::unique_ptr<TvxJSONbase>>>;

// Called by Enumerate for every position that holds an element; clearing go_on stops the walk.
using TvxJSONenumProc = void (*)(const std::string& name, TvxJSONbase* element, void* user_data,
                                 bool& go_on);
using TvxJSONenumFunction =
    std::function<void(const std::string& name, TvxJSONbase* element, bool& go_on)>;

namespace json_internal {
class Builder;  // the reader's access to the classes' storage
// The library class a value belongs to (itself or through a descendant); the writer and the typed
// getters test it.
enum class Family : uint8_t {
  kBase,
  kNumber,
  kString,
  kBoolean,
  kNull,
  kCustomList,
  kList,
  kObject,
  kMember
};
}  // namespace json_internal

// The root of the family. As a value it is Null with no elements.
class TvxJSONbase {
 public:
  TvxJSONbase() noexcept = default;
  TvxJSONbase(const TvxJSONbase&) = delete;
  TvxJSONbase& operator=(const TvxJSONbase&) = delete;
  virtual ~TvxJSONbase() = default;

  // The value as an automation value: a number as Double, a string as OleStr, a boolean as
  // Boolean; Null for everything else.
  virtual Variant VariantValue() const;
  // Sets a number, string or boolean from value by the variant conversions (which raise their
  // conversion errors); ignored by the other classes.
  virtual void AssignVariant(const Variant& value);
  // The element at position, or none.
  virtual TvxJSONbase* ItemAt(int32_t position) const;
  // Destroys the element at position and stores element in its place, for 0 <= position <
  // ItemCount. Otherwise nothing happens and element stays with the caller. True when stored.
  virtual bool ReplaceItem(int32_t position, std::unique_ptr<TvxJSONbase>&& element);
  virtual int32_t ItemCount() const;
  // A list: a numeric key gives ItemAt(key as integer). An object: a text key gives
  // MemberValue(key), a numeric key ItemAt(key) (the member). Any other key, and any key on a
  // scalar, gives the value itself.
  virtual TvxJSONbase* Lookup(const Variant& key) const;

  virtual TvxJSONtype TypeCode() const { return ClassTypeCode(); }
  virtual std::string_view TypeName() const { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsBase; }
  static std::string_view ClassTypeName() { return "jsBase"; }

  // The values of a tree live in the pool of the thread that built it (see value_pool.h).
  static void* operator new(std::size_t size) { return json_internal::PoolAllocate(size); }
  static void operator delete(void* block, std::size_t size) noexcept {
    json_internal::PoolRelease(block, size);
  }

  virtual json_internal::Family Family() const noexcept { return json_internal::Family::kBase; }
};

// A number: an 80-bit extended-precision value (long double), initially 0.
class TvxJSONnumber : public TvxJSONbase {
 public:
  TvxJSONnumber() noexcept : TvxJSONnumber(0.0L) {}
  explicit TvxJSONnumber(long double value) noexcept { SetValue(value); }
  explicit TvxJSONnumber(double value) noexcept : TvxJSONnumber(static_cast<long double>(value)) {}
  explicit TvxJSONnumber(int32_t value) noexcept : TvxJSONnumber(static_cast<long double>(value)) {}

  long double Value() const noexcept {
    long double v;
    std::memcpy(&v, value_, sizeof v);
    return v;
  }
  void SetValue(long double value) noexcept { std::memcpy(value_, &value, sizeof value); }

  Variant VariantValue() const override;
  void AssignVariant(const Variant& value) override;
  TvxJSONtype TypeCode() const override { return ClassTypeCode(); }
  std::string_view TypeName() const override { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsNumber; }
  static std::string_view ClassTypeName() { return "jsNumber"; }
  json_internal::Family Family() const noexcept final { return json_internal::Family::kNumber; }

 private:
  // Kept as bytes so that the object needs only pointer alignment (24 bytes instead of 32).
  alignas(void*) unsigned char value_[sizeof(long double)];
};

// A string: UTF-16 text, initially empty.
class TvxJSONstring : public TvxJSONbase {
 public:
  TvxJSONstring() noexcept = default;
  explicit TvxJSONstring(std::u16string_view value) { SetValue(value); }
  explicit TvxJSONstring(const std::u16string& value) { SetValue(value); }
  explicit TvxJSONstring(std::u16string&& value) { SetValue(value); }
  explicit TvxJSONstring(const char16_t* value) { SetValue(value); }

  // A string decoded from UTF-8 by the system's rules (base/text.h): a text with a malformed
  // sequence becomes the empty text, a four-byte sequence its surrogate pair. The fast way to
  // build strings from SQLite cell texts: well-formed text is taken over without conversion.
  static std::unique_ptr<TvxJSONstring> FromUtf8(std::string_view utf8);
  // A string converted from 8-bit text in the system code page.
  static std::unique_ptr<TvxJSONstring> FromAnsi(std::string_view text);

  std::u16string Value() const;
  void SetValue(std::u16string_view value);
  // The value in the system's UTF-8 form (one to three bytes per UTF-16 unit).
  std::string_view Utf8Value() const noexcept { return text_.View(); }
  void SetUtf8Value(std::string_view utf8);

  Variant VariantValue() const override;
  void AssignVariant(const Variant& value) override;
  TvxJSONtype TypeCode() const override { return ClassTypeCode(); }
  std::string_view TypeName() const override { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsString; }
  static std::string_view ClassTypeName() { return "jsString"; }
  json_internal::Family Family() const noexcept final { return json_internal::Family::kString; }

 private:
  friend class json_internal::Builder;
  struct Utf8FormTag {};
  TvxJSONstring(Utf8FormTag, std::string_view utf8_form) : text_(utf8_form) {}
  json_internal::Utf8Text text_;
};

class TvxJSONboolean : public TvxJSONbase {
 public:
  TvxJSONboolean() noexcept = default;
  explicit TvxJSONboolean(bool value) noexcept : value_(value) {}
  bool Value() const noexcept { return value_; }
  void SetValue(bool value) noexcept { value_ = value; }

  Variant VariantValue() const override;
  void AssignVariant(const Variant& value) override;
  TvxJSONtype TypeCode() const override { return ClassTypeCode(); }
  std::string_view TypeName() const override { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsBoolean; }
  static std::string_view ClassTypeName() { return "jsBoolean"; }
  json_internal::Family Family() const noexcept final { return json_internal::Family::kBoolean; }

 private:
  bool value_ = false;
};

class TvxJSONnull : public TvxJSONbase {
 public:
  Variant VariantValue() const override;
  TvxJSONtype TypeCode() const override { return ClassTypeCode(); }
  std::string_view TypeName() const override { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsNull; }
  static std::string_view ClassTypeName() { return "jsNull"; }
  json_internal::Family Family() const noexcept final { return json_internal::Family::kNull; }
};

// The common part of lists and objects: an ordered sequence of owned elements.
class TvxJSONcustomlist : public TvxJSONbase {
 public:
  TvxJSONcustomlist() noexcept = default;
  // Destroys the elements from the last position down to the first.
  ~TvxJSONcustomlist() override;

  TvxJSONbase* ItemAt(int32_t position) const override;
  bool ReplaceItem(int32_t position, std::unique_ptr<TvxJSONbase>&& element) override;
  int32_t ItemCount() const override { return static_cast<int32_t>(elements_.size()); }
  TvxJSONbase* Lookup(const Variant& key) const override;

  // A list: the decimal text of position as name and ItemAt(position). An object: the member's
  // name in the system code page and MemberValueAt(position).
  virtual TvxJSONbase* NamedItemAt(int32_t position, std::string& name) const;
  // Appends element and returns its position; none gives -1 and adds nothing. On an object this
  // appends a ready member without touching the name index.
  int32_t Append(std::unique_ptr<TvxJSONbase> element);
  // Makes room for count elements in all, so that appending up to there allocates nothing.
  void Reserve(int32_t count);
  // Destroys the element at position; the last element moves into its place.
  virtual void RemoveAt(int32_t position);
  // The position of the element object (by identity), or -1.
  int32_t PositionOf(const TvxJSONbase* element) const;

  // Typed getters of the element at position (a list: ItemAt; an object: MemberValueAt). A
  // missing element gives 0, empty text, 0.0 or false; an element of another class raises
  // EInvalidCast.
  // IntAt: the value as double truncated toward zero to 64 bits, of which the low 32 bits are
  // returned (a value outside the 64-bit range gives 0).
  virtual int32_t IntAt(int32_t position) const;
  virtual std::string TextAt(int32_t position) const;  // system code page
  virtual std::u16string WideTextAt(int32_t position) const;
  virtual double RealAt(int32_t position) const;
  virtual bool FlagAt(int32_t position) const;

  // Calls callback for each position 0..ItemCount-1 (counted once, before the walk) whose
  // NamedItemAt gives an element, until the callback clears go_on. No callback: nothing happens.
  void Enumerate(TvxJSONenumProc callback, void* user_data) const;
  void Enumerate(const TvxJSONenumFunction& callback) const;

  const TvxJSONelements& Elements() const noexcept { return elements_; }

  json_internal::Family Family() const noexcept override {
    return json_internal::Family::kCustomList;
  }

 protected:
  // The element the typed getters read at position.
  virtual TvxJSONbase* GetterElement(int32_t position) const { return ItemAt(position); }

  TvxJSONelements elements_;

 private:
  friend class json_internal::Builder;
};

class TvxJSONlist : public TvxJSONcustomlist {
 public:
  using TvxJSONcustomlist::Append;
  // Appends a new TvxJSONstring; returns its position.
  int32_t Append(std::u16string_view text);
  int32_t Append(const char16_t* text) { return Append(std::u16string_view(text)); }
  // The same from 8-bit text in the system code page.
  int32_t Append(std::string_view text);
  int32_t Append(const char* text) { return Append(std::string_view(text)); }

  TvxJSONtype TypeCode() const override { return ClassTypeCode(); }
  std::string_view TypeName() const override { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsList; }
  static std::string_view ClassTypeName() { return "jsList"; }
  json_internal::Family Family() const noexcept final { return json_internal::Family::kList; }
};

// The name index record of one member. Links are positions in the object's element sequence;
// kSentinel stands for the tree's sentinel node (level 0). The node's position is the position of
// its member and its name the member's name, so the record lives inside the member.
struct TvxBalNode {
  static constexpr int32_t kSentinel = -1;
  int32_t left = kSentinel;
  int32_t right = kSentinel;
  uint8_t level = 0;   // 0 while the member is not in the index
  bool named = false;  // the member was given to InsertName (it may have lost to an earlier one)
};

// The name index of an object: an AA tree over the names of its members, ordered by UTF-16 code
// units (the byte order of the system's UTF-8 form is the same order). Every name is held once:
// inserting a name already present changes nothing, so the first member appended under a name is
// the one found.
class TvxBalTree {
 public:
  // The position of the member indexed under utf8_name, or -1.
  int32_t FindName(const TvxJSONelements& members, std::string_view utf8_name) const;
  // Indexes the member at position under its name. False when the name was already present.
  // REQUIRES: members[position] is a TvxJSONobjectmethod that is not in the index.
  bool InsertName(TvxJSONelements& members, int32_t position);
  // Empties the index (the members keep their named marks).
  void RemoveAll(TvxJSONelements& members);

 private:
  bool Insert(TvxJSONelements& members, int32_t& link, int32_t position, std::string_view name);
  static TvxBalNode& NodeAt(TvxJSONelements& members, int32_t position) noexcept;

  int32_t root_ = TvxBalNode::kSentinel;
};

// A member of an object: a name and an owned value (which may be none). As a value it behaves as
// a TvxJSONbase.
class TvxJSONobjectmethod : public TvxJSONbase {
 public:
  TvxJSONobjectmethod() noexcept = default;
  TvxJSONobjectmethod(std::u16string_view name, std::unique_ptr<TvxJSONbase> value);

  std::u16string Name() const;
  std::string_view Utf8Name() const noexcept { return name_.View(); }
  TvxJSONbase* Value() const noexcept { return value_.get(); }

  json_internal::Family Family() const noexcept final { return json_internal::Family::kMember; }

 private:
  friend class TvxBalTree;
  friend class TvxJSONobject;
  friend class json_internal::Builder;
  TvxJSONobjectmethod(json_internal::SharedName name, std::unique_ptr<TvxJSONbase> value) noexcept
      : value_(std::move(value)), name_(std::move(name)) {}

  std::unique_ptr<TvxJSONbase> value_;
  json_internal::SharedName name_;
  TvxBalNode node_;
};

// An object: members in insertion order, optionally indexed by name. Names compare by exact
// UTF-16 units; with repeated names every by-name access finds the first member.
class TvxJSONobject : public TvxJSONcustomlist {
 public:
  // The name index is filled and consulted only with use_name_index.
  explicit TvxJSONobject(bool use_name_index = false) noexcept : use_name_index_(use_name_index) {}

  bool UseNameIndex() const noexcept { return use_name_index_; }

  // Appends a member holding element and returns its position; none gives -1 and adds nothing.
  int32_t AddMember(std::u16string_view name, std::unique_ptr<TvxJSONbase> element);
  int32_t AddMember(std::u16string_view name, double value);
  int32_t AddMember(std::u16string_view name, int32_t value);
  // A string member from 8-bit text in the system code page.
  int32_t AddMember(std::u16string_view name, std::string_view text);
  int32_t AddMember(std::u16string_view name, const char* text) {
    return AddMember(name, std::string_view(text));
  }

  // The position of the first member called name, or -1.
  int32_t MemberIndex(std::u16string_view name) const;
  // The value of the first member called name, or none.
  TvxJSONbase* MemberValue(std::u16string_view name) const;
  // The name of the member at position; empty text when there is none.
  std::u16string MemberName(int32_t position) const;
  // The value found through the name of the member at position: for a repeated name that is the
  // first member's value; an empty name gives none.
  TvxJSONbase* MemberValueAt(int32_t position) const;

  TvxJSONbase* NamedItemAt(int32_t position, std::string& name) const override;
  TvxJSONbase* Lookup(const Variant& key) const override;
  bool ReplaceItem(int32_t position, std::unique_ptr<TvxJSONbase>&& element) override;
  void RemoveAt(int32_t position) override;

  TvxJSONtype TypeCode() const override { return ClassTypeCode(); }
  std::string_view TypeName() const override { return ClassTypeName(); }
  static TvxJSONtype ClassTypeCode() { return jsObject; }
  static std::string_view ClassTypeName() { return "jsObject"; }
  json_internal::Family Family() const noexcept final { return json_internal::Family::kObject; }

 protected:
  TvxJSONbase* GetterElement(int32_t position) const override { return MemberValueAt(position); }

 private:
  friend class json_internal::Builder;
  int32_t AddNamed(json_internal::SharedName name, std::unique_ptr<TvxJSONbase> element);
  int32_t MemberIndexUtf8(std::string_view utf8_name) const;
  const TvxJSONobjectmethod* MemberAt(int32_t position) const;
  // Rebuilds the index after a member was removed or replaced, so that its positions stay valid.
  void ReindexMembers(int32_t replaced_position, bool replaced_was_named);

  TvxBalTree name_index_;
  bool use_name_index_;
};

// Reads and writes JSON text. A class without data or instances.
class TvxJSON {
 public:
  TvxJSON() = delete;

  // Builds a tree from UTF-8 JSON text; none when the text is not a JSON document by the
  // reader's rules, nests deeper than kMaxNesting, or memory runs out. Never raises.
  static std::unique_ptr<TvxJSONbase> ReadText(std::string_view utf8);
  // Writes a tree as compact UTF-8 JSON text; none gives the empty text.
  static std::string WriteText(const TvxJSONbase* root);

  // Containers nested deeper than this make the read give none.
  static constexpr int kMaxNesting = 1000;
};

}  // namespace zentrak
