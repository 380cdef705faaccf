// CFNumber: keeps the number type it was created with and converts on reading as CoreFoundation
// does — the value is always stored in the requested type, and the answer is false when that
// conversion lost information (fraction, range or precision).
#pragma once

#include <cstdint>
#include <optional>

#include "corefoundation/cf_object.h"

namespace devicefw::cf {

class CfNumber final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDNumber;

  // Null for an unknown number type or a null value pointer.
  static const CfNumber* Create(CFNumberType type, const void* value);
  static const CfNumber* FromInt64(int64_t value) { return new CfNumber(kCFNumberSInt64Type, value, 0.0, false); }
  static const CfNumber* FromDouble(double value) { return new CfNumber(kCFNumberFloat64Type, 0, value, true); }

  CFNumberType type() const { return type_; }
  bool is_float() const { return is_float_; }
  int64_t int_value() const { return int_value_; }
  double float_value() const { return float_value_; }
  // Writes the value as `type` into `out`; false when the conversion was lossy or the type unknown.
  bool GetValue(CFNumberType type, void* out) const;
  bool Equals(const CfObject& other) const override;

 private:
  CfNumber(CFNumberType type, int64_t int_value, double float_value, bool is_float)
      : CfObject(kTypeId), type_(type), int_value_(int_value), float_value_(float_value), is_float_(is_float) {}

  const CFNumberType type_;
  const int64_t int_value_;
  const double float_value_;
  const bool is_float_;
};

// The byte size of a number type's C representation, or nothing for an unknown type.
std::optional<CFIndex> NumberTypeByteSize(CFNumberType type);

}  // namespace devicefw::cf
