#include "iOSAPI/kor_message_value.h"

#include <cstring>
#include <string>

#include "iOSAPI/kor_cf_value.h"

namespace {

bool XmlWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The text as the XML route reads it back; false when that reading would change it (line ends
// are normalised there, other control characters are not kept reliably).
bool Utf8Text(CFTypeRef string, std::string* out) {
  auto text = static_cast<CFStringRef>(string);
  const CFIndex units = MobileApi().CFStringGetLength(text);
  if (units < 0) return false;
  out->resize(static_cast<size_t>(units) * 4 + 1);
  if (!MobileApi().CFStringGetCString(text, out->data(), static_cast<CFIndex>(out->size()), kCFStringEncodingUTF8)) {
    return false;
  }
  out->resize(std::strlen(out->c_str()));
  // UTF-16 units of what came out: fewer than the string has means it held a NUL character.
  CFIndex seen = 0;
  for (char c : *out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\n') return false;
    if ((byte & 0xC0) != 0x80) seen += byte >= 0xF0 ? 2 : 1;
  }
  return seen == units;
}

bool OnlyWhiteSpace(const std::string& text) {
  for (char c : text) {
    if (!XmlWhiteSpace(c)) return false;
  }
  return true;
}

// Reads one element; *skip is set when the XML route leaves it out of a dictionary (a value
// without text: an empty or white-space-only string).
bool Element(CFTypeRef object, int depth, bool in_dictionary, KorValue* out, bool* skip);

struct DictionaryFill {
  KorValue::Dictionary dictionary;
  int depth;
  bool complete;
};

void AddEntry(const void* key, const void* value, void* context) {
  auto* fill = static_cast<DictionaryFill*>(context);
  if (!fill->complete) return;
  std::string name;
  if (KorTypeOf(key) != kCFTypeIDString || !Utf8Text(key, &name)) {
    fill->complete = false;
    return;
  }
  KorValue converted;
  bool skip = false;
  if (!Element(value, fill->depth, true, &converted, &skip)) {
    fill->complete = false;
    return;
  }
  // An empty key has no text in XML: the entry is left out there.
  if (skip || name.empty() || OnlyWhiteSpace(name)) return;
  fill->dictionary->Set(name, std::move(converted));
}

bool Dictionary(CFDictionaryRef dictionary, int depth, KorValue* out) {
  DictionaryFill fill{CIOSDictionary::Create(), depth, true};
  if (depth < kKorMaxValueDepth) MobileApi().CFDictionaryApplyFunction(dictionary, AddEntry, &fill);
  if (!fill.complete) return false;
  *out = KorValue::MakeDictionary(std::move(fill.dictionary));
  return true;
}

bool Array(CFArrayRef array, int depth, KorValue* out) {
  KorValue result = KorValue::MakeArray();
  if (depth < kKorMaxValueDepth) {
    const CFIndex count = MobileApi().CFArrayGetCount(array);
    KorValue::Array& items = result.MutableArray();
    items.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) {
      KorValue element;
      bool skip = false;
      if (!Element(MobileApi().CFArrayGetValueAtIndex(array, i), depth, false, &element, &skip)) return false;
      items.push_back(std::move(element));
    }
  }
  *out = std::move(result);
  return true;
}

bool Element(CFTypeRef object, int depth, bool in_dictionary, KorValue* out, bool* skip) {
  switch (KorTypeOf(object)) {
    case kCFTypeIDString: {
      std::string text;
      if (!Utf8Text(object, &text)) return false;
      *skip = in_dictionary && OnlyWhiteSpace(text);
      // In an array a string without text reads as an empty one.
      *out = KorValue::String(OnlyWhiteSpace(text) ? std::string() : std::move(text));
      return true;
    }
    case kCFTypeIDBoolean:
      *out = KorValue::Bool(MobileApi().CFBooleanGetValue(static_cast<CFBooleanRef>(object)) != 0);
      return true;
    case kCFTypeIDNumber: {
      auto number = static_cast<CFNumberRef>(object);
      const CFNumberType type = MobileApi().CFNumberGetType(number);
      if (type == kCFNumberFloat32Type || type == kCFNumberFloat64Type || type == kCFNumberFloatType ||
          type == kCFNumberDoubleType || type == kCFNumberCGFloatType) {
        return false;
      }
      int64_t value = 0;
      if (!MobileApi().CFNumberGetValue(number, kCFNumberSInt64Type, &value)) return false;
      *out = KorValue::Int64(value);
      return true;
    }
    case kCFTypeIDArray:
      return Array(static_cast<CFArrayRef>(object), depth + 1, out);
    case kCFTypeIDDictionary:
      return Dictionary(static_cast<CFDictionaryRef>(object), depth + 1, out);
    default:
      return false;
  }
}

}  // namespace

bool KorMessageTreeFromCF(CFTypeRef root, KorValue* out) {
  KorValue converted;
  bool converted_ok = false;
  if (KorTypeOf(root) == kCFTypeIDArray) {
    converted_ok = Array(static_cast<CFArrayRef>(root), 0, &converted);
  } else if (KorTypeOf(root) == kCFTypeIDDictionary) {
    converted_ok = Dictionary(static_cast<CFDictionaryRef>(root), 0, &converted);
  }
  if (converted_ok) *out = std::move(converted);
  return converted_ok;
}
