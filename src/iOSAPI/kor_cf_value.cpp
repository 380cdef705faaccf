#include "iOSAPI/kor_cf_value.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr CFIndex kAsciiBufferBytes = 260;

bool AsciiText(CFTypeRef string, std::string* out) {
  char buffer[kAsciiBufferBytes] = {};
  if (!MobileApi().CFStringGetCString(static_cast<CFStringRef>(string), buffer, sizeof(buffer),
                                      kCFStringEncodingASCII)) {
    return false;
  }
  *out = buffer;
  return true;
}

std::string UpperHex(const UInt8* bytes, CFIndex length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(static_cast<size_t>(length) * 2);
  for (CFIndex i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

bool ConvertNumber(CFTypeRef object, KorValue* out) {
  auto number = static_cast<CFNumberRef>(object);
  switch (MobileApi().CFNumberGetType(number)) {
    case kCFNumberSInt64Type: {
      int64_t value = 0;
      MobileApi().CFNumberGetValue(number, kCFNumberSInt64Type, &value);
      *out = KorValue::Int64(value);
      return true;
    }
    case kCFNumberFloat64Type: {
      double value = 0;
      MobileApi().CFNumberGetValue(number, kCFNumberFloat64Type, &value);
      *out = KorValue::Double(value);
      return true;
    }
    case kCFNumberSInt32Type:
    case kCFNumberIntType: {
      int32_t value = 0;
      MobileApi().CFNumberGetValue(number, kCFNumberSInt32Type, &value);
      *out = KorValue::Int32(value);
      return true;
    }
    default:
      return false;
  }
}

bool Convert(CFTypeRef object, KorValue* out, int depth);

struct DictionaryFill {
  std::shared_ptr<CIOSDictionary> dictionary;
  int depth;
};

void AddDictionaryEntry(const void* key, const void* value, void* context) {
  auto* fill = static_cast<DictionaryFill*>(context);
  std::string name;
  if (KorTypeOf(key) != kCFTypeIDString || !AsciiText(key, &name)) name.clear();
  KorValue converted;
  if (Convert(value, &converted, fill->depth)) fill->dictionary->Set(name, std::move(converted));
}

KorValue DictionaryValue(CFDictionaryRef dictionary, int depth) {
  DictionaryFill fill{CIOSDictionary::Create(), depth + 1};
  if (depth < kKorMaxValueDepth) MobileApi().CFDictionaryApplyFunction(dictionary, AddDictionaryEntry, &fill);
  return KorValue::MakeDictionary(fill.dictionary);
}

KorValue ArrayValue(CFArrayRef array, int depth) {
  KorValue result = KorValue::MakeArray();
  if (depth >= kKorMaxValueDepth) return result;
  CFIndex count = MobileApi().CFArrayGetCount(array);
  for (CFIndex i = 0; i < count; ++i) {
    KorValue element;
    if (Convert(MobileApi().CFArrayGetValueAtIndex(array, i), &element, depth + 1)) {
      result.MutableArray().push_back(std::move(element));
    }
  }
  return result;
}

bool Convert(CFTypeRef object, KorValue* out, int depth) {
  switch (KorTypeOf(object)) {
    case kCFTypeIDString: {
      std::string text;
      if (!AsciiText(object, &text)) return false;
      *out = KorValue::String(std::move(text));
      return true;
    }
    case kCFTypeIDDictionary:
      *out = DictionaryValue(static_cast<CFDictionaryRef>(object), depth);
      return true;
    case kCFTypeIDArray:
      *out = ArrayValue(static_cast<CFArrayRef>(object), depth);
      return true;
    case kCFTypeIDData: {
      auto data = static_cast<CFDataRef>(object);
      const UInt8* bytes = MobileApi().CFDataGetBytePtr(data);
      if (!bytes) return false;
      *out = KorValue::String(UpperHex(bytes, MobileApi().CFDataGetLength(data)));
      return true;
    }
    case kCFTypeIDBoolean:
      *out = KorValue::Bool(MobileApi().CFBooleanGetValue(static_cast<CFBooleanRef>(object)) != 0);
      return true;
    case kCFTypeIDNumber:
      return ConvertNumber(object, out);
    default:
      return false;
  }
}

}  // namespace

bool KorCFToValue(CFTypeRef object, KorValue* out) { return Convert(object, out, 0); }

KorValue KorCFDictionaryToValue(CFDictionaryRef dictionary) { return DictionaryValue(dictionary, 0); }

KorValue KorCFArrayToValue(CFArrayRef array) { return ArrayValue(array, 0); }

bool KorCFStringToUtf8(CFTypeRef string, std::string* out) {
  if (KorTypeOf(string) != kCFTypeIDString) return false;
  auto text = static_cast<CFStringRef>(string);
  CFIndex length = MobileApi().CFStringGetLength(text);
  std::vector<char> buffer(static_cast<size_t>(length) * 4 + 1, '\0');
  if (!MobileApi().CFStringGetCString(text, buffer.data(), static_cast<CFIndex>(buffer.size()),
                                      kCFStringEncodingUTF8)) {
    return false;
  }
  *out = buffer.data();
  return true;
}

KorCFHolder KorCopyDomainValue(AMDeviceRef device, const std::string& domain, const std::string& key) {
  CFStringRef domain_string = domain.empty() ? nullptr : KorConstantString(domain);
  CFStringRef key_string = key.empty() ? nullptr : KorConstantString(key);
  return KorCFHolder(MobileApi().AMDeviceCopyValue(device, domain_string, key_string));
}

bool KorDeviceValue(AMDeviceRef device, const std::string& domain, const std::string& key, KorValue* out) {
  KorCFHolder value = KorCopyDomainValue(device, domain, key);
  return value && KorCFToValue(value.Get(), out);
}

bool KorCFNumberToInt64(CFTypeRef object, int64_t* out) {
  if (KorTypeOf(object) != kCFTypeIDNumber) return false;
  auto number = static_cast<CFNumberRef>(object);
  CFNumberType type = MobileApi().CFNumberGetType(number);
  if (type == kCFNumberFloat64Type) {
    double value = 0;
    MobileApi().CFNumberGetValue(number, kCFNumberFloat64Type, &value);
    if (!std::isfinite(value)) return false;
    *out = static_cast<int64_t>(std::floor(value + 0.5));
    return true;
  }
  bool integer_type = (type >= kCFNumberSInt8Type && type <= kCFNumberSInt64Type) ||
                      (type >= kCFNumberCharType && type <= kCFNumberLongLongType);
  if (!integer_type) return false;
  int64_t value = 0;
  MobileApi().CFNumberGetValue(number, kCFNumberSInt64Type, &value);
  *out = value;
  return true;
}

bool KorNumberValue(AMDeviceRef device, const std::string& key, int64_t* out, const std::string& domain) {
  KorCFHolder value = KorCopyDomainValue(device, domain, key);
  return value && KorCFNumberToInt64(value.Get(), out);
}

bool KorSupportedDeviceFamilies(AMDeviceRef device, std::vector<int64_t>* families) {
  KorCFHolder value = KorCopyDomainValue(device, "", "SupportedDeviceFamilies");
  if (!value) return false;
  families->clear();
  if (KorTypeOf(value.Get()) != kCFTypeIDArray) return true;
  auto array = value.As<CFArrayRef>();
  CFIndex count = MobileApi().CFArrayGetCount(array);
  for (CFIndex i = 0; i < count; ++i) {
    CFTypeRef element = MobileApi().CFArrayGetValueAtIndex(array, i);
    if (KorTypeOf(element) != kCFTypeIDNumber) continue;
    CFNumberType type = MobileApi().CFNumberGetType(static_cast<CFNumberRef>(element));
    int64_t number = 0;
    bool wanted = type == kCFNumberSInt32Type || type == kCFNumberSInt64Type || type == kCFNumberFloat64Type;
    if (wanted && KorCFNumberToInt64(element, &number)) families->push_back(number);
  }
  return true;
}

namespace {

void NoteNonEmptyArray(const void*, const void* value, void* context) {
  if (KorTypeOf(value) == kCFTypeIDArray && MobileApi().CFArrayGetCount(static_cast<CFArrayRef>(value)) != 0) {
    *static_cast<bool*>(context) = true;
  }
}

}  // namespace

bool KorDataClassSyncedElsewhere(AMDeviceRef device, const std::string& data_class) {
  KorCFHolder entry = KorCopyDomainValue(device, "com.apple.mobile.data_sync", data_class);
  if (KorTypeOf(entry.Get()) != kCFTypeIDDictionary) return false;
  bool found = false;
  MobileApi().CFDictionaryApplyFunction(entry.As<CFDictionaryRef>(), NoteNonEmptyArray, &found);
  return found;
}
