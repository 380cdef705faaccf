// Property-list reading and writing (XML and binary) on top of libplist, and the memory write
// stream that carries binary messages.
#include <plist/plist.h>

#include <cstring>

#include "common/guarded_call.h"
#include "common/plist_handle.h"
#include "corefoundation/cf_scalars.h"
#include "corefoundation/cf_string.h"
#include "corefoundation/cf_write_stream.h"
#include "corefoundation/plist_conversion.h"
#include "corefoundation/plist_input_guard.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {
namespace {

Mutability MutabilityOf(CFOptionFlags options) {
  return options == kCFPropertyListImmutable ? Mutability::kImmutable : Mutability::kMutableContainers;
}

bool IsBinaryPlist(const CfData& data) {
  return data.size() >= 8 && std::memcmp(data.bytes(), "bplist00", 8) == 0;
}

// Parses XML or binary property-list bytes; null for anything malformed or outside the limits.
const CfObject* ParsePropertyList(const CfData& data, Mutability mutability) {
  if (!IsPlistInputWithinLimits(data.bytes(), data.size())) return nullptr;
  plist_t parsed = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(data.bytes()), static_cast<uint32_t>(data.size()), &parsed);
  PlistHandle root(parsed);
  return root ? CfFromPlist(static_cast<plist_t>(root.get()), mutability) : nullptr;
}

// Serialised bytes of a CF property list in XML (100) or binary (200) form; empty on failure.
std::vector<UInt8> SerialisePropertyList(const CfObject* value, CFPropertyListFormat format) {
  if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0) return {};
  PlistHandle node = PlistFromCf(value);
  if (!node) return {};
  char* raw = nullptr;
  uint32_t length = 0;
  if (format == kCFPropertyListXMLFormat_v1_0) {
    plist_to_xml(static_cast<plist_t>(node.get()), &raw, &length);
  } else {
    plist_to_bin(static_cast<plist_t>(node.get()), &raw, &length);
  }
  PlistText text(raw);
  if (raw == nullptr) return {};
  return std::vector<UInt8>(reinterpret_cast<const UInt8*>(raw), reinterpret_cast<const UInt8*>(raw) + length);
}

}  // namespace

bool CfWriteStream::Open() {
  if (state_ != State::kNotOpen) return false;
  state_ = State::kOpen;
  return true;
}

bool CfWriteStream::Write(const UInt8* bytes, size_t length) {
  if (state_ != State::kOpen) return false;
  written_.insert(written_.end(), bytes, bytes + length);
  return true;
}

}  // namespace devicefw::cf

using devicefw::GuardedCall;
using devicefw::cf::CfCast;
using devicefw::cf::CfCastMutable;
using devicefw::cf::CfData;
using devicefw::cf::CfString;
using devicefw::cf::CfWriteStream;
using devicefw::cf::ObjectFromRef;
using devicefw::cf::ToRef;

extern "C" {

const CFStringRef kCFStreamPropertyDataWritten =
    ToRef<CFStringRef>(CfString::Constant("kCFStreamPropertyDataWritten"));

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                               CFPropertyListFormat* format, CFErrorRef* error) {
  if (error != nullptr) *error = nullptr;
  const auto* bytes = CfCast<CfData>(data);
  if (bytes == nullptr) return nullptr;
  return GuardedCall<CFPropertyListRef>(nullptr, [&]() -> CFPropertyListRef {
    const auto* parsed = devicefw::cf::ParsePropertyList(*bytes, devicefw::cf::MutabilityOf(options));
    if (parsed != nullptr && format != nullptr) {
      *format = devicefw::cf::IsBinaryPlist(*bytes) ? kCFPropertyListBinaryFormat_v1_0 : kCFPropertyListXMLFormat_v1_0;
    }
    return parsed;
  });
}

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                                  CFStringRef* error_text) {
  if (error_text != nullptr) *error_text = nullptr;
  const auto* bytes = CfCast<CfData>(data);
  if (bytes == nullptr) return nullptr;
  return GuardedCall<CFPropertyListRef>(nullptr, [&]() -> CFPropertyListRef {
    const auto* parsed = devicefw::cf::ParsePropertyList(*bytes, devicefw::cf::MutabilityOf(options));
    if (parsed == nullptr && error_text != nullptr) {
      *error_text = ToRef<CFStringRef>(CfString::Create("The property list could not be parsed."));
    }
    return parsed;
  });
}

CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef, CFPropertyListRef value) {
  const auto* object = ObjectFromRef(value);
  if (object == nullptr) return nullptr;
  return GuardedCall<CFDataRef>(nullptr, [&]() -> CFDataRef {
    std::vector<UInt8> xml = devicefw::cf::SerialisePropertyList(object, kCFPropertyListXMLFormat_v1_0);
    return xml.empty() ? nullptr : ToRef<CFDataRef>(CfData::Adopt(std::move(xml)));
  });
}

CFWriteStreamRef CFWriteStreamCreateWithAllocatedBuffers(CFAllocatorRef, CFAllocatorRef) {
  return GuardedCall<CFWriteStreamRef>(nullptr, [] { return ToRef<CFWriteStreamRef>(new CfWriteStream); });
}

Boolean CFWriteStreamOpen(CFWriteStreamRef ref) {
  auto* stream = CfCastMutable<CfWriteStream>(ref);
  return stream != nullptr && stream->Open();
}

void CFWriteStreamClose(CFWriteStreamRef ref) {
  if (auto* stream = CfCastMutable<CfWriteStream>(ref)) stream->Close();
}

// Returns the number of bytes written, 0 on failure (closed stream, unsupported format or value).
CFIndex CFPropertyListWriteToStream(CFPropertyListRef value, CFWriteStreamRef ref, CFPropertyListFormat format,
                                    CFStringRef* error_text) {
  if (error_text != nullptr) *error_text = nullptr;
  auto* stream = CfCastMutable<CfWriteStream>(ref);
  const auto* object = ObjectFromRef(value);
  if (stream == nullptr || object == nullptr || stream->state() != CfWriteStream::State::kOpen) return 0;
  return GuardedCall<CFIndex>(0, [&]() -> CFIndex {
    std::vector<UInt8> bytes = devicefw::cf::SerialisePropertyList(object, format);
    if (bytes.empty() || !stream->Write(bytes.data(), bytes.size())) {
      if (error_text != nullptr) *error_text = ToRef<CFStringRef>(CfString::Create("The property list could not be written."));
      return 0;
    }
    return static_cast<CFIndex>(bytes.size());
  });
}

CFTypeRef CFWriteStreamCopyProperty(CFWriteStreamRef ref, CFStringRef property) {
  const auto* stream = CfCast<CfWriteStream>(ref);
  const auto* name = CfCast<CfString>(property);
  const auto* wanted = CfCast<CfString>(kCFStreamPropertyDataWritten);
  if (stream == nullptr || name == nullptr || !name->Equals(*wanted)) return nullptr;
  if (stream->state() == CfWriteStream::State::kNotOpen) return nullptr;
  return GuardedCall<CFTypeRef>(nullptr, [&] {
    return ToRef<CFTypeRef>(CfData::Create(stream->written().data(), stream->written().size()));
  });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFPropertyListCreateWithData), CFPropertyListCreateWithDataFn>);
static_assert(std::is_same_v<decltype(&CFPropertyListCreateFromXMLData), CFPropertyListCreateFromXMLDataFn>);
static_assert(std::is_same_v<decltype(&CFPropertyListCreateXMLData), CFPropertyListCreateXMLDataFn>);
static_assert(std::is_same_v<decltype(&CFWriteStreamCreateWithAllocatedBuffers),
                             CFWriteStreamCreateWithAllocatedBuffersFn>);
static_assert(std::is_same_v<decltype(&CFWriteStreamOpen), CFWriteStreamOpenFn>);
static_assert(std::is_same_v<decltype(&CFWriteStreamClose), CFWriteStreamCloseFn>);
static_assert(std::is_same_v<decltype(&CFPropertyListWriteToStream), CFPropertyListWriteToStreamFn>);
static_assert(std::is_same_v<decltype(&CFWriteStreamCopyProperty), CFWriteStreamCopyPropertyFn>);
