// DeviceLink messages on a service connection: every message in both directions is one property
// list whose root is an array, the first element of which is the message name. Host messages go
// out as binary property lists made from XML templates; replies are decoded into value trees and
// handled with the wait-for and read-one policies. The backup and synchronisation services both
// speak it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_value.h"

// The protocol's empty value.
constexpr const char* kKorDLEmptyParameter = "___EmptyParameterString___";
// A message whose length is outside 1 … kKorDLMaxMessage ends the exchange it belongs to.
constexpr uint32_t kKorDLMinMessage = 1;
constexpr uint32_t kKorDLMaxMessage = 0xA00000;

enum class KorDLReceive {
  kMessage,   // a message arrived and decoded (its root may still not be an array)
  kUnusable,  // a message arrived but is not a property list
  kFailed,    // the connection yielded nothing, or the length was out of bounds
};

class KorDeviceLink {
 public:
  KorDeviceLink(KorServiceIo io, KorPlistDoctype doctype) : io_(std::move(io)), doctype_(doctype) {}

  const KorServiceIo& Io() const { return io_; }

  // Sends an array message made of elements that are already XML; false when it was not sent.
  bool Send(const std::vector<std::string>& elements);
  // Reads one framed message into `body` (reused between calls, never larger than the bound).
  bool ReceiveFrame(std::vector<uint8_t>* body);
  // Reads and decodes one message.
  KorDLReceive Receive(KorValue* message);
  // Reads one message and parses it without turning it into a value tree (KorDLDecodeParsed
  // does that later, perhaps on another thread).
  KorDLReceive ReceiveParsed(KorCFHolder* message);
  // Reads one message without looking at it (the device's first version-exchange message).
  bool RawRead();
  // Sends a message, then reads replies until one holds the name as a string element (ignoring
  // case); a reply that is not a non-empty array, or nothing to read, ends the wait. True when
  // the name arrived.
  bool SendAndWaitFor(const std::vector<std::string>& elements, const std::string& name);
  // Sends a message and reads exactly one reply, whatever it holds; true when one arrived.
  bool SendAndReadOne(const std::vector<std::string>& elements);

 private:
  // The message sent last when it was small, with its elements: a session repeats the same
  // message (an acknowledgement per batch of a long listing), which is then serialised once.
  const KorMessageBuffer* Repeated(const std::vector<std::string>& elements) const;
  void Remember(const std::vector<std::string>& elements, KorMessageBufferPtr message);

  KorServiceIo io_;
  KorPlistDoctype doctype_;
  std::vector<uint8_t> frame_;
  std::vector<std::string> last_elements_;
  KorMessageBufferPtr last_message_;
};

// The message's name: its first element when that is a string, else empty.
std::string KorDLMessageName(const KorValue& message);
// True when any string element of the array equals `name` ignoring case.
bool KorDLHoldsName(const KorValue& message, const std::string& name);
// Decodes message bytes (any property-list format) into a value tree; false when they do not
// parse.
bool KorDLDecode(const uint8_t* bytes, size_t length, KorValue* message);
// The value tree of a message ReceiveParsed read; false as KorDLDecode would be.
bool KorDLDecodeParsed(const KorCFHolder& message, KorValue* tree);
// What KorDLHoldsName and KorValue::IsArray say of the message's value tree, read from the parsed
// message itself.
bool KorDLParsedHoldsName(const KorCFHolder& message, const std::string& name);
bool KorDLParsedIsArray(const KorCFHolder& message);
