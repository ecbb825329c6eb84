// The automation value of every argument and result: a type tag, a by-reference flag and a
// payload. The frames translate their own values (COM VARIANTs, wire JSON) into this type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zentrak {

// The tags, with the values the platform gives them. String (8-bit text) and Any are the
// in-process kinds.
enum class VarType : uint16_t {
  Empty = 0,
  Null = 1,
  Smallint = 2,
  Integer = 3,
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  OleStr = 8,
  Dispatch = 9,
  Error = 10,
  Boolean = 11,
  Variant = 12,
  Unknown = 13,
  Decimal = 14,
  ShortInt = 16,
  Byte = 17,
  Word = 18,
  LongWord = 19,
  Int64 = 20,
  String = 0x100,
  Any = 0x101,
};

// The name of a tag as the conversion messages print it ("Smallint", "OleStr", ...).
const char* VarTypeName(VarType type);
// The tag for a name, case-insensitively; false when the name is no tag.
bool VarTypeFromName(std::string_view name, VarType& type);

class Variant;

// An object carried in a Dispatch or Unknown value. Its default value is what the platform's
// conversions use; objects without one answer false.
class ObjectValue {
 public:
  virtual ~ObjectValue() = default;
  virtual bool DefaultValue(Variant& out) = 0;
};

// A 96-bit scaled decimal: value = (-1 if negative) * (hi:lo) / 10^scale.
struct DecimalValue {
  uint8_t scale = 0;
  bool negative = false;
  uint32_t hi = 0;
  uint64_t lo = 0;
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  Variant(Variant&&) noexcept = default;
  Variant& operator=(Variant&&) noexcept = default;
  ~Variant() = default;

  // The result kinds.
  explicit Variant(std::u16string text) : type_(VarType::OleStr), wide_(std::move(text)) {}
  explicit Variant(const char16_t* text) : type_(VarType::OleStr), wide_(text) {}
  static Variant FromBool(bool value);
  static Variant FromInt32(int32_t value);

  static Variant Null();
  static Variant FromDouble(double value);
  static Variant FromSingle(float value);
  static Variant FromInt64(int64_t value);
  static Variant FromCurrency(int64_t scaled);
  static Variant FromDate(double days);
  static Variant FromAnsi(std::string text);  // the in-process String kind
  static Variant FromDecimal(DecimalValue value);
  static Variant FromError(int32_t scode);
  static Variant FromObject(VarType dispatch_or_unknown, std::shared_ptr<ObjectValue> object);
  // An integer tag (Smallint, ShortInt, Byte, Word, LongWord, Integer, Int64) holding value;
  // the caller keeps value within the tag's range.
  static Variant FromInteger(VarType tag, int64_t value);
  // A by-reference Variant: the payload is another value.
  static Variant ByRefVariant(Variant target);

  VarType Type() const noexcept { return type_; }
  bool IsByRef() const noexcept { return by_ref_; }
  void SetByRef(bool by_ref) noexcept { by_ref_ = by_ref; }
  bool IsEmpty() const noexcept { return type_ == VarType::Empty && !by_ref_; }

  // The value a by-reference Variant points at, followed to the end; the value itself otherwise.
  const Variant& Target() const noexcept;
  Variant& Target() noexcept;

  // Payload access by kind; the caller checks Type() first.
  int64_t IntegerValue() const noexcept { return int_; }  // integer tags, Boolean, Error, Currency
  double DoubleValue() const noexcept { return real_; }   // Single, Double, Date
  const std::u16string& WideText() const noexcept { return wide_; }
  const std::string& AnsiText() const noexcept { return ansi_; }
  const DecimalValue& Decimal() const noexcept { return decimal_; }
  const std::shared_ptr<ObjectValue>& Object() const noexcept { return object_; }
  bool BoolValue() const noexcept { return int_ != 0; }

 private:
  VarType type_ = VarType::Empty;
  bool by_ref_ = false;
  int64_t int_ = 0;
  double real_ = 0;
  std::u16string wide_;
  std::string ansi_;
  DecimalValue decimal_;
  std::shared_ptr<ObjectValue> object_;
  std::unique_ptr<Variant> ref_;  // the target of a by-reference Variant
};

}  // namespace zentrak
