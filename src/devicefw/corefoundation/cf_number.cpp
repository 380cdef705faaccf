#include "corefoundation/cf_number.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {
namespace {

// How a number type is laid out in memory.
enum class Layout { kInt8, kInt16, kInt32, kInt64, kFloat32, kFloat64 };

std::optional<Layout> LayoutOf(CFNumberType type) {
  switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
      return Layout::kInt8;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
      return Layout::kInt16;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      return Layout::kInt32;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
      return Layout::kInt64;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      return Layout::kFloat32;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
      return Layout::kFloat64;
    default:
      return std::nullopt;
  }
}

template <typename T>
T LoadAs(const void* value) {
  T out;
  std::memcpy(&out, value, sizeof(out));
  return out;
}

template <typename T>
void StoreAs(T value, void* out) {
  std::memcpy(out, &value, sizeof(value));
}

// A C cast from floating point to an integer is undefined outside the integer's range, so the
// value is clamped first (NaN becomes 0); the caller learns from the round trip that it was lossy.
template <typename Int>
Int ClampToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}

template <typename Int>
bool StoreInteger(const CfNumber& number, void* out) {
  if (number.is_float()) {
    const double value = number.float_value();
    const Int converted = ClampToInt<Int>(value);
    StoreAs(converted, out);
    return static_cast<double>(converted) == value;
  }
  const int64_t value = number.int_value();
  const Int converted = static_cast<Int>(value);
  StoreAs(converted, out);
  return static_cast<int64_t>(converted) == value;
}

template <typename Float>
bool StoreFloat(const CfNumber& number, void* out) {
  if (number.is_float()) {
    const double value = number.float_value();
    const auto converted = static_cast<Float>(value);
    StoreAs(converted, out);
    return static_cast<double>(converted) == value || (std::isnan(value) && std::isnan(converted));
  }
  const int64_t value = number.int_value();
  const auto converted = static_cast<Float>(value);
  StoreAs(converted, out);
  return ClampToInt<int64_t>(static_cast<double>(converted)) == value &&
         static_cast<double>(converted) < 9223372036854775808.0;
}

}  // namespace

std::optional<CFIndex> NumberTypeByteSize(CFNumberType type) {
  const std::optional<Layout> layout = LayoutOf(type);
  if (!layout) return std::nullopt;
  switch (*layout) {
    case Layout::kInt8:
      return 1;
    case Layout::kInt16:
      return 2;
    case Layout::kInt32:
    case Layout::kFloat32:
      return 4;
    case Layout::kInt64:
    case Layout::kFloat64:
      return 8;
  }
  return std::nullopt;
}

const CfNumber* CfNumber::Create(CFNumberType type, const void* value) {
  const std::optional<Layout> layout = LayoutOf(type);
  if (!layout || value == nullptr) return nullptr;
  switch (*layout) {
    case Layout::kInt8:
      return new CfNumber(type, LoadAs<int8_t>(value), 0.0, false);
    case Layout::kInt16:
      return new CfNumber(type, LoadAs<int16_t>(value), 0.0, false);
    case Layout::kInt32:
      return new CfNumber(type, LoadAs<int32_t>(value), 0.0, false);
    case Layout::kInt64:
      return new CfNumber(type, LoadAs<int64_t>(value), 0.0, false);
    case Layout::kFloat32:
      return new CfNumber(type, 0, LoadAs<float>(value), true);
    case Layout::kFloat64:
      return new CfNumber(type, 0, LoadAs<double>(value), true);
  }
  return nullptr;
}

bool CfNumber::GetValue(CFNumberType type, void* out) const {
  const std::optional<Layout> layout = LayoutOf(type);
  if (!layout || out == nullptr) return false;
  switch (*layout) {
    case Layout::kInt8:
      return StoreInteger<int8_t>(*this, out);
    case Layout::kInt16:
      return StoreInteger<int16_t>(*this, out);
    case Layout::kInt32:
      return StoreInteger<int32_t>(*this, out);
    case Layout::kInt64:
      return StoreInteger<int64_t>(*this, out);
    case Layout::kFloat32:
      return StoreFloat<float>(*this, out);
    case Layout::kFloat64:
      return StoreFloat<double>(*this, out);
  }
  return false;
}

bool CfNumber::Equals(const CfObject& other) const {
  const auto* number = CfCast<CfNumber>(&other);
  if (number == nullptr) return false;
  if (!is_float_ && !number->is_float_) return int_value_ == number->int_value_;
  const double mine = is_float_ ? float_value_ : static_cast<double>(int_value_);
  const double theirs = number->is_float_ ? number->float_value_ : static_cast<double>(number->int_value_);
  return mine == theirs;
}

}  // namespace devicefw::cf

using devicefw::cf::CfCast;
using devicefw::cf::CfNumber;

extern "C" {

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* value) {
  return devicefw::GuardedCall<CFNumberRef>(nullptr, [&] {
    return devicefw::cf::ToRef<CFNumberRef>(CfNumber::Create(type, value));
  });
}

CFNumberType CFNumberGetType(CFNumberRef ref) {
  const auto* number = CfCast<CfNumber>(ref);
  return number == nullptr ? 0 : number->type();
}

Boolean CFNumberGetValue(CFNumberRef ref, CFNumberType type, void* out) {
  const auto* number = CfCast<CfNumber>(ref);
  return number != nullptr && number->GetValue(type, out);
}

CFIndex CFNumberGetByteSize(CFNumberRef ref) {
  const auto* number = CfCast<CfNumber>(ref);
  return number == nullptr ? 0 : devicefw::cf::NumberTypeByteSize(number->type()).value_or(0);
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFNumberCreate), CFNumberCreateFn>);
static_assert(std::is_same_v<decltype(&CFNumberGetType), CFNumberGetTypeFn>);
static_assert(std::is_same_v<decltype(&CFNumberGetValue), CFNumberGetValueFn>);
static_assert(std::is_same_v<decltype(&CFNumberGetByteSize), CFNumberGetByteSizeFn>);
