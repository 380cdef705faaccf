#include "corefoundation/cf_string.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "common/guarded_call.h"
#include "corefoundation/utf8_text.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {
namespace {

constexpr CFStringEncoding kCFStringEncodingISOLatin1 = 0x0201;

// Interned constant strings live for the whole process; the table is never destroyed so that
// constants stay valid while other libraries' static destructors still use them.
struct ConstantTable {
  std::mutex mutex;
  std::unordered_map<std::string, const CfString*> strings;
};

ConstantTable& Constants() {
  static auto* table = new ConstantTable;
  return *table;
}

// The text of a C string in `encoding` as UTF-8, or nothing when it is not valid in it.
std::optional<std::string> DecodeCString(const char* text, CFStringEncoding encoding) {
  std::string_view bytes(text);
  switch (encoding) {
    case kCFStringEncodingASCII:
      if (!IsAscii(bytes)) return std::nullopt;
      return std::string(bytes);
    case kCFStringEncodingUTF8:
      return std::string(bytes);
    case kCFStringEncodingISOLatin1:
      return Latin1ToUtf8(bytes);
    default:
      return std::nullopt;
  }
}

bool CanEncode(const CfString& string, CFStringEncoding encoding) {
  if (encoding == kCFStringEncodingUTF8) return true;
  if (encoding == kCFStringEncodingASCII) return IsAscii(string.utf8());
  return false;
}

}  // namespace

const CfString* CfString::Create(std::string_view utf8, Lifetime lifetime) {
  const std::optional<size_t> length = Utf16LengthOfUtf8(utf8);
  if (!length) return nullptr;
  return new CfString(std::string(utf8), static_cast<CFIndex>(*length), lifetime);
}

const CfString* CfString::Constant(std::string_view utf8) {
  ConstantTable& table = Constants();
  std::lock_guard lock(table.mutex);
  std::string key(utf8);
  auto found = table.strings.find(key);
  if (found != table.strings.end()) return found->second;
  const CfString* created = Create(utf8, Lifetime::kImmortal);
  if (created != nullptr) table.strings.emplace(std::move(key), created);
  return created;
}

bool CfString::Equals(const CfObject& other) const {
  const auto* string = CfCast<CfString>(&other);
  return string != nullptr && string->utf8_ == utf8_;
}

}  // namespace devicefw::cf

using devicefw::GuardedCall;
using devicefw::cf::CfCast;
using devicefw::cf::CfString;
using devicefw::cf::ToRef;

extern "C" {

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding) {
  if (text == nullptr) return nullptr;
  return GuardedCall<CFStringRef>(nullptr, [&]() -> CFStringRef {
    std::optional<std::string> utf8 = devicefw::cf::DecodeCString(text, encoding);
    return utf8 ? ToRef<CFStringRef>(CfString::Create(*utf8)) : nullptr;
  });
}

CFStringRef __CFStringMakeConstantString(const char* text) {
  if (text == nullptr) return nullptr;
  return GuardedCall<CFStringRef>(nullptr, [&] { return ToRef<CFStringRef>(CfString::Constant(text)); });
}

CFIndex CFStringGetLength(CFStringRef ref) {
  const auto* string = CfCast<CfString>(ref);
  return string == nullptr ? 0 : string->utf16_length();
}

// Succeeds only when the whole text and its terminating zero fit; the buffer is left untouched
// otherwise, so a caller never sees a silently cut text.
Boolean CFStringGetCString(CFStringRef ref, char* buffer, CFIndex buffer_size, CFStringEncoding encoding) {
  const auto* string = CfCast<CfString>(ref);
  if (string == nullptr || buffer == nullptr || buffer_size <= 0) return false;
  if (!devicefw::cf::CanEncode(*string, encoding)) return false;
  const std::string& bytes = string->utf8();
  if (bytes.size() + 1 > static_cast<size_t>(buffer_size)) return false;
  std::memcpy(buffer, bytes.data(), bytes.size());
  buffer[bytes.size()] = '\0';
  return true;
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef ref) {
  const auto* string = CfCast<CfString>(ref);
  if (string == nullptr) return nullptr;
  // Strings are immutable, so a copy is the same object with one more reference.
  string->Retain();
  return ref;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFStringCreateWithCString), CFStringCreateWithCStringFn>);
static_assert(std::is_same_v<decltype(&__CFStringMakeConstantString), __CFStringMakeConstantStringFn>);
static_assert(std::is_same_v<decltype(&CFStringGetLength), CFStringGetLengthFn>);
static_assert(std::is_same_v<decltype(&CFStringGetCString), CFStringGetCStringFn>);
static_assert(std::is_same_v<decltype(&CFStringCreateCopy), CFStringCreateCopyFn>);
