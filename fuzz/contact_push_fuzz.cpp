// What the contact module fills into host messages from front-end text: a group's key, name and
// members (104, 106) must make a message that converts and carries the name unchanged; a
// dependent record's text with the contact's identifiers replaced (102) must either be refused or
// make a message that converts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "iOSAPI/kor_device_link.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_sync_push_text.h"
#include "iOSAPI/mobile_export_fun.h"
#include "utility/kor_sync_command.h"
#include "utility/module/contact/kor_contact_changes.h"

namespace {

std::string Document(std::vector<std::string> elements) {
  elements.insert(elements.begin(), {KorPlistString("SDMessageProcessChanges"), KorPlistString("com.apple.Contacts")});
  return KorPlistDocument(KorPlistArray(elements), KorPlistDoctype::kApple);
}

// The input cut at 0x00 bytes into at most `count` parts.
std::vector<std::string> Parts(const std::string& text, size_t count) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '\0' && parts.size() < count) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  parts.resize(count);
  return parts;
}

// Text a property list holds as it is: well-formed UTF-8 without control characters other than
// tab and newline (XML turns a carriage return into a newline; the conversion may turn anything
// else into something else).
bool PlainText(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n') return false;
      ++i;
      continue;
    }
    // Well-formed sequences only: no overlong forms, no surrogates, nothing above U+10FFFF.
    const size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    const unsigned char second = static_cast<unsigned char>(text[i + 1]);
    const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    }
    i += length;
  }
  return true;
}

// The name of the group record in a decoded group push; empty when it is not there.
std::string PushedName(const KorValue& message, const std::string& key) {
  if (!message.IsArray() || message.AsArray().size() < 3 || !message.AsArray()[2].IsDictionary()) return std::string();
  const KorValue record = message.AsArray()[2].AsDictionary()->Get(key);
  if (!record.IsDictionary()) return std::string();
  const KorValue name = record.AsDictionary()->Get("name");
  return name.IsString() ? name.AsString() : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  if (!framework) return 0;
  const std::vector<std::string> parts = Parts(std::string(reinterpret_cast<const char*>(data), size), 5);
  const std::vector<std::string> members{parts[2], parts[3]};
  KorMessageBufferPtr group = KorXmlToMessage(Document(KorContactGroupElements("Group/" + parts[0], parts[1], &members)));
  // Text that a property list cannot hold (control characters, broken UTF-8) may keep the message
  // from converting; one that converts carries the name exactly as typed.
  KorValue pushed;
  // (A name of white space alone is an empty text to XML.)
  const bool blank = parts[1].find_first_not_of(" \t\n") == std::string::npos;
  if (group && KorDLDecode(group->bytes, group->length, &pushed) && !blank && PlainText(parts[0]) &&
      PlainText(parts[1]) &&
      PushedName(pushed, "Group/" + parts[0]) != parts[1]) {
    std::abort();
  }
  std::vector<std::string> elements;
  const std::string replaced = KorReplaceAll(parts[4], KorXmlEscape("host-1"), KorXmlEscape(parts[1]));
  if (KorSyncPushElements(replaced, "com.apple.Contacts", &elements)) {
    if (elements.empty()) std::abort();
    KorXmlToMessage(Document(elements));
  }
  return 0;
}
