// Property-list messages on device service connections: a 4-byte big-endian length, then a
// property list (binary when sent; any format the framework reads when received).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "iOSAPI/kor_cf.h"
#include "iOSAPI/kor_value.h"

// Incoming lengths outside 1 … 10,485,760 end an exchange.
constexpr uint32_t kKorMaxServiceMessage = 0xA00000;
// The first-value reading refuses messages whose XML form is longer than this.
constexpr size_t kKorMaxFirstValueXml = 65535;

// A serialised property list; the CF data object owns the bytes.
struct KorMessageBuffer {
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  KorCFHolder data;
};
using KorMessageBufferPtr = std::unique_ptr<KorMessageBuffer>;

// Called once per received message; set *continue_flag to receive the next one. *result is
// kept across the messages of one exchange.
using KorMessageHandler =
    std::function<void(const uint8_t* bytes, uint32_t length, int* continue_flag, int32_t* result)>;

// The operations the exchange needs from a service connection; the framework's by default.
struct KorServiceIo {
  std::function<int64_t(const void*, size_t)> send;
  std::function<int64_t(void*, size_t)> receive;
};
KorServiceIo KorFrameworkIo(AMDServiceConnectionRef connection);

// Receives exactly `length` bytes, asking each time for the bytes still missing; false when a
// receive call gives less than one byte.
bool KorReceiveExactly(const KorServiceIo& io, uint8_t* buffer, size_t length);

KorCFHolder KorXmlToPropertyList(const std::string& xml);
KorMessageBufferPtr KorXmlToMessage(const std::string& xml);
KorMessageBufferPtr KorPropertyListToMessage(CFPropertyListRef plist, CFPropertyListFormat format);

bool KorSendMessage(const KorServiceIo& io, const KorMessageBuffer& message);
int32_t KorReceiveMessages(const KorServiceIo& io, const KorMessageHandler& handler);
int32_t KorSendAndReceive(const KorServiceIo& io, const KorMessageBuffer& message, const KorMessageHandler& handler);

// The XML text of a received message; empty when it does not parse.
std::string KorMessageToXml(const uint8_t* bytes, uint32_t length);
// The text of the value of the top dictionary's first key; empty when there is none or the
// message's XML form is longer than kKorMaxFirstValueXml.
std::string KorMessageFirstValue(const uint8_t* bytes, uint32_t length);
// The same reading on a message already turned into XML text.
std::string KorXmlFirstValue(const std::string& xml);
// The message as a value tree; false when its XML form has no root element.
bool KorMessageToValue(const uint8_t* bytes, uint32_t length, KorValue* out);
// The two halves of that reading: the message parsed (empty when it does not parse), and a
// parsed message as a value tree.
KorCFHolder KorMessageToPropertyList(const uint8_t* bytes, uint32_t length);
bool KorPropertyListToValue(const KorCFHolder& plist, KorValue* out);
