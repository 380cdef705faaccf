#include "iOSAPI/kor_device_link.h"

#include <strings.h>

#include "iOSAPI/kor_cf_value.h"
#include "platform/kst_log.h"

namespace {

// A frame buffer that once held a large message is given back instead of kept for the rest of
// a long transfer.
constexpr size_t kKeptFrameCapacity = 1 << 20;
// Messages up to this size are kept for sending again; a push of records is not.
constexpr uint32_t kRepeatedMessageBound = 4096;

uint32_t BigEndian32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

}  // namespace

bool KorDeviceLink::Send(const std::vector<std::string>& elements) {
  if (const KorMessageBuffer* repeated = Repeated(elements)) return KorSendMessage(io_, *repeated);
  KorMessageBufferPtr message = KorXmlToMessage(KorPlistDocument(KorPlistArray(elements), doctype_));
  if (!message) {
    KLOG(ERROR) << "DeviceLink message could not be serialised";
    return false;
  }
  const bool sent = KorSendMessage(io_, *message);
  Remember(elements, std::move(message));
  return sent;
}

const KorMessageBuffer* KorDeviceLink::Repeated(const std::vector<std::string>& elements) const {
  return last_message_ && elements == last_elements_ ? last_message_.get() : nullptr;
}

void KorDeviceLink::Remember(const std::vector<std::string>& elements, KorMessageBufferPtr message) {
  if (message->length > kRepeatedMessageBound) {
    last_message_.reset();
    last_elements_.clear();
    return;
  }
  last_elements_ = elements;
  last_message_ = std::move(message);
}

bool KorDeviceLink::ReceiveFrame(std::vector<uint8_t>* body) {
  uint8_t prefix[4];
  if (!KorReceiveExactly(io_, prefix, sizeof(prefix))) return false;
  const uint32_t length = BigEndian32(prefix);
  if (length < kKorDLMinMessage || length > kKorDLMaxMessage) {
    KLOG(WARNING) << "DeviceLink message length " << length << " out of range; exchange ended";
    return false;
  }
  if (body->capacity() > kKeptFrameCapacity && length <= kKeptFrameCapacity) std::vector<uint8_t>().swap(*body);
  body->resize(length);
  return KorReceiveExactly(io_, body->data(), length);
}

KorDLReceive KorDeviceLink::Receive(KorValue* message) {
  if (!ReceiveFrame(&frame_)) return KorDLReceive::kFailed;
  *message = KorValue();
  return KorDLDecode(frame_.data(), frame_.size(), message) ? KorDLReceive::kMessage : KorDLReceive::kUnusable;
}

KorDLReceive KorDeviceLink::ReceiveParsed(KorCFHolder* message) {
  if (!ReceiveFrame(&frame_)) return KorDLReceive::kFailed;
  *message = KorMessageToPropertyList(frame_.data(), static_cast<uint32_t>(frame_.size()));
  return *message ? KorDLReceive::kMessage : KorDLReceive::kUnusable;
}

bool KorDeviceLink::RawRead() { return ReceiveFrame(&frame_); }

bool KorDeviceLink::SendAndWaitFor(const std::vector<std::string>& elements, const std::string& name) {
  Send(elements);
  for (;;) {
    KorValue reply;
    if (Receive(&reply) != KorDLReceive::kMessage) return false;
    if (!reply.IsArray() || reply.AsArray().empty()) return false;
    if (KorDLHoldsName(reply, name)) return true;
  }
}

bool KorDeviceLink::SendAndReadOne(const std::vector<std::string>& elements) {
  Send(elements);
  return ReceiveFrame(&frame_);
}

std::string KorDLMessageName(const KorValue& message) {
  if (!message.IsArray() || message.AsArray().empty() || !message.AsArray().front().IsString()) return std::string();
  return message.AsArray().front().AsString();
}

bool KorDLHoldsName(const KorValue& message, const std::string& name) {
  if (!message.IsArray()) return false;
  for (const KorValue& element : message.AsArray()) {
    if (element.IsString() && strcasecmp(element.AsString().c_str(), name.c_str()) == 0 &&
        element.AsString().size() == name.size()) {
      return true;
    }
  }
  return false;
}

bool KorDLDecode(const uint8_t* bytes, size_t length, KorValue* message) {
  if (length == 0 || length > kKorDLMaxMessage) return false;
  return KorMessageToValue(bytes, static_cast<uint32_t>(length), message);
}

bool KorDLDecodeParsed(const KorCFHolder& message, KorValue* tree) {
  *tree = KorValue();
  return message && KorPropertyListToValue(message, tree);
}

// The reading of a value tree makes an array of an array and nothing else of anything else.
bool KorDLParsedIsArray(const KorCFHolder& message) { return KorTypeOf(message.Get()) == kCFTypeIDArray; }

bool KorDLParsedHoldsName(const KorCFHolder& message, const std::string& name) {
  if (!KorDLParsedIsArray(message)) return false;
  const MobileExportTable& api = MobileApi();
  const auto array = message.As<CFArrayRef>();
  const CFIndex count = api.CFArrayGetCount(array);
  for (CFIndex i = 0; i < count; ++i) {
    std::string text;
    CFTypeRef element = api.CFArrayGetValueAtIndex(array, i);
    // A string with a NUL reads shorter than its length: it is not the name, as in the tree.
    if (KorTypeOf(element) == kCFTypeIDString &&
        api.CFStringGetLength(static_cast<CFStringRef>(element)) == static_cast<CFIndex>(name.size()) &&
        KorCFStringToUtf8(element, &text) && text.size() == name.size() && strcasecmp(text.c_str(), name.c_str()) == 0) {
      return true;
    }
  }
  return false;
}
