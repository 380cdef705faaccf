#include "corefoundation/cf_scalars.h"

#include <chrono>

#include "common/guarded_call.h"
#include "corefoundation/cf_string.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {

const CfBoolean* CfBoolean::Of(bool value) {
  // Never destroyed: other libraries may still hold them while static destructors run.
  static const CfBoolean* const kTrue = new CfBoolean(true);
  static const CfBoolean* const kFalse = new CfBoolean(false);
  return value ? kTrue : kFalse;
}

bool CfData::Equals(const CfObject& other) const {
  const auto* data = CfCast<CfData>(&other);
  return data != nullptr && data->bytes_ == bytes_;
}

bool CfDate::Equals(const CfObject& other) const {
  const auto* date = CfCast<CfDate>(&other);
  return date != nullptr && date->time_ == time_;
}

}  // namespace devicefw::cf

using devicefw::GuardedCall;
using devicefw::cf::CfBoolean;
using devicefw::cf::CfCast;
using devicefw::cf::CfData;
using devicefw::cf::CfDate;
using devicefw::cf::ToRef;

extern "C" {

const CFBooleanRef kCFBooleanTrue = ToRef<CFBooleanRef>(CfBoolean::Of(true));
const CFBooleanRef kCFBooleanFalse = ToRef<CFBooleanRef>(CfBoolean::Of(false));

Boolean CFBooleanGetValue(CFBooleanRef ref) {
  const auto* boolean = CfCast<CfBoolean>(ref);
  return boolean != nullptr && boolean->value();
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
  return GuardedCall<CFDataRef>(nullptr, [&] {
    return ToRef<CFDataRef>(CfData::Create(bytes, static_cast<size_t>(length)));
  });
}

CFDataRef CFDataCreateCopy(CFAllocatorRef, CFDataRef ref) {
  const auto* data = CfCast<CfData>(ref);
  if (data == nullptr) return nullptr;
  // Data objects are immutable, so the copy may share the original.
  data->Retain();
  return ref;
}

CFIndex CFDataGetLength(CFDataRef ref) {
  const auto* data = CfCast<CfData>(ref);
  return data == nullptr ? 0 : static_cast<CFIndex>(data->size());
}

const UInt8* CFDataGetBytePtr(CFDataRef ref) {
  const auto* data = CfCast<CfData>(ref);
  return data == nullptr ? nullptr : data->bytes();
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  // 978307200 seconds separate the Unix epoch from 2001-01-01 00:00:00 UTC.
  constexpr double kSecondsFrom1970To2001 = 978307200.0;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since_epoch).count() - kSecondsFrom1970To2001;
}

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime time) {
  return GuardedCall<CFDateRef>(nullptr, [&] { return ToRef<CFDateRef>(CfDate::Create(time)); });
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef ref) {
  const auto* date = CfCast<CfDate>(ref);
  return date == nullptr ? 0.0 : date->time();
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFIndex, Boolean is_directory) {
  const auto* text = CfCast<devicefw::cf::CfString>(path);
  if (text == nullptr) return nullptr;
  return GuardedCall<CFURLRef>(nullptr, [&] {
    return ToRef<CFURLRef>(new devicefw::cf::CfUrl(text->utf8(), is_directory != 0));
  });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFBooleanGetValue), CFBooleanGetValueFn>);
static_assert(std::is_same_v<decltype(&CFDataCreate), CFDataCreateFn>);
static_assert(std::is_same_v<decltype(&CFDataCreateCopy), CFDataCreateCopyFn>);
static_assert(std::is_same_v<decltype(&CFDataGetLength), CFDataGetLengthFn>);
static_assert(std::is_same_v<decltype(&CFDataGetBytePtr), CFDataGetBytePtrFn>);
static_assert(std::is_same_v<decltype(&CFAbsoluteTimeGetCurrent), CFAbsoluteTimeGetCurrentFn>);
static_assert(std::is_same_v<decltype(&CFDateCreate), CFDateCreateFn>);
static_assert(std::is_same_v<decltype(&CFDateGetAbsoluteTime), CFDateGetAbsoluteTimeFn>);
static_assert(std::is_same_v<decltype(&CFURLCreateWithFileSystemPath), CFURLCreateWithFileSystemPathFn>);
