#include "iOSAPI/kor_service_message.h"

#include <tinyxml2.h>

#include <cstring>
#include <vector>

#include "iOSAPI/kor_message_value.h"
#include "iOSAPI/kor_xml_value.h"
#include "platform/kst_log.h"

KorServiceIo KorFrameworkIo(AMDServiceConnectionRef connection) {
  KorServiceIo io;
  io.send = [connection](const void* bytes, size_t length) {
    return MobileApi().AMDServiceConnectionSend(connection, bytes, length);
  };
  io.receive = [connection](void* buffer, size_t length) {
    return MobileApi().AMDServiceConnectionReceive(connection, buffer, length);
  };
  return io;
}

KorCFHolder KorXmlToPropertyList(const std::string& xml) {
  KorCFHolder data(MobileApi().CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(xml.data()),
                                            static_cast<CFIndex>(xml.size())));
  if (!data) return KorCFHolder();
  return KorCFHolder(
      MobileApi().CFPropertyListCreateFromXMLData(nullptr, data.As<CFDataRef>(), kCFPropertyListImmutable, nullptr));
}

KorMessageBufferPtr KorPropertyListToMessage(CFPropertyListRef plist, CFPropertyListFormat format) {
  if (!plist) return nullptr;
  const MobileExportTable& api = MobileApi();
  CFWriteStreamRef stream = api.CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr);
  if (!stream) return nullptr;
  KorCFHolder stream_holder(stream);
  if (!api.CFWriteStreamOpen(stream)) return nullptr;
  KorMessageBufferPtr message;
  if (api.CFPropertyListWriteToStream(plist, stream, format, nullptr) > 0) {
    KorCFHolder written(api.CFWriteStreamCopyProperty(stream, *api.kCFStreamPropertyDataWritten));
    if (KorTypeOf(written.Get()) == kCFTypeIDData) {
      message = std::make_unique<KorMessageBuffer>();
      message->bytes = api.CFDataGetBytePtr(written.As<CFDataRef>());
      message->length = static_cast<uint32_t>(api.CFDataGetLength(written.As<CFDataRef>()));
      message->data = std::move(written);
    }
  }
  api.CFWriteStreamClose(stream);
  return message;
}

KorMessageBufferPtr KorXmlToMessage(const std::string& xml) {
  KorCFHolder plist = KorXmlToPropertyList(xml);
  return KorPropertyListToMessage(plist.Get(), kCFPropertyListBinaryFormat_v1_0);
}

bool KorSendMessage(const KorServiceIo& io, const KorMessageBuffer& message) {
  uint8_t prefix[4] = {static_cast<uint8_t>(message.length >> 24), static_cast<uint8_t>(message.length >> 16),
                       static_cast<uint8_t>(message.length >> 8), static_cast<uint8_t>(message.length)};
  io.send(prefix, sizeof(prefix));
  return io.send(message.bytes, message.length) >= 0;
}

bool KorReceiveExactly(const KorServiceIo& io, uint8_t* buffer, size_t length) {
  size_t received = 0;
  while (received < length) {
    int64_t got = io.receive(buffer + received, length - received);
    if (got < 1) return false;
    received += static_cast<size_t>(got);
  }
  return true;
}

int32_t KorReceiveMessages(const KorServiceIo& io, const KorMessageHandler& handler) {
  int32_t result = 0;
  for (;;) {
    uint8_t prefix[4];
    // The length arrives with one receive call; a short answer ends the exchange.
    if (io.receive(prefix, sizeof(prefix)) != static_cast<int64_t>(sizeof(prefix))) return result;
    uint32_t length = (uint32_t{prefix[0]} << 24) | (uint32_t{prefix[1]} << 16) | (uint32_t{prefix[2]} << 8) |
                      uint32_t{prefix[3]};
    if (length < 1 || length > kKorMaxServiceMessage) {
      if (length != 0) KLOG(WARNING) << "service message length " << length << " out of range; exchange ended";
      return result;
    }
    std::vector<uint8_t> buffer(length);
    if (!KorReceiveExactly(io, buffer.data(), length)) return result;
    int continue_flag = 0;
    handler(buffer.data(), length, &continue_flag, &result);
    if (continue_flag == 0) return result;
  }
}

int32_t KorSendAndReceive(const KorServiceIo& io, const KorMessageBuffer& message, const KorMessageHandler& handler) {
  KorSendMessage(io, message);
  return KorReceiveMessages(io, handler);
}

namespace {

KorCFHolder ParseMessage(const uint8_t* bytes, uint32_t length) {
  const MobileExportTable& api = MobileApi();
  KorCFHolder data(api.CFDataCreate(nullptr, bytes, length));
  if (!data) return KorCFHolder();
  return KorCFHolder(
      api.CFPropertyListCreateWithData(nullptr, data.As<CFDataRef>(), kCFPropertyListImmutable, nullptr, nullptr));
}

std::string PropertyListXml(const KorCFHolder& plist) {
  const MobileExportTable& api = MobileApi();
  KorCFHolder xml(api.CFPropertyListCreateXMLData(nullptr, plist.Get()));
  if (KorTypeOf(xml.Get()) != kCFTypeIDData) return std::string();
  const UInt8* text = api.CFDataGetBytePtr(xml.As<CFDataRef>());
  CFIndex size = api.CFDataGetLength(xml.As<CFDataRef>());
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)) : std::string();
}

}  // namespace

std::string KorMessageToXml(const uint8_t* bytes, uint32_t length) {
  KorCFHolder plist = ParseMessage(bytes, length);
  return plist ? PropertyListXml(plist) : std::string();
}

std::string KorMessageFirstValue(const uint8_t* bytes, uint32_t length) {
  return KorXmlFirstValue(KorMessageToXml(bytes, length));
}

std::string KorXmlFirstValue(const std::string& xml) {
  if (xml.size() > kKorMaxFirstValueXml) {
    KLOG(WARNING) << "service message of " << xml.size() << " XML bytes is too long for its first value";
    return std::string();
  }
  tinyxml2::XMLDocument document;
  if (document.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS || !document.RootElement()) return std::string();
  const tinyxml2::XMLElement* top = document.RootElement()->FirstChildElement();
  const tinyxml2::XMLElement* first = top ? top->FirstChildElement() : nullptr;
  const tinyxml2::XMLElement* value = first ? first->NextSiblingElement() : nullptr;
  const char* text = value ? value->GetText() : nullptr;
  return text ? std::string(text) : std::string();
}

bool KorMessageToValue(const uint8_t* bytes, uint32_t length, KorValue* out) {
  KorCFHolder plist = ParseMessage(bytes, length);
  return plist && KorPropertyListToValue(plist, out);
}

KorCFHolder KorMessageToPropertyList(const uint8_t* bytes, uint32_t length) { return ParseMessage(bytes, length); }

bool KorPropertyListToValue(const KorCFHolder& plist, KorValue* out) {
  return KorMessageTreeFromCF(plist.Get(), out) || KorXmlTextToValue(PropertyListXml(plist), out);
}
