// Turning CoreFoundation values of the device framework into the value tree, and reading single
// device values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iOSAPI/kor_cf.h"
#include "iOSAPI/kor_value.h"

// Deeper nesting than this is left out of a conversion.
constexpr int kKorMaxValueDepth = 64;

// Converts one CF value; false (and `out` untouched) when its type or content is not converted.
bool KorCFToValue(CFTypeRef object, KorValue* out);
KorValue KorCFDictionaryToValue(CFDictionaryRef dictionary);
KorValue KorCFArrayToValue(CFArrayRef array);
// The text of a CF string in UTF-8 (any length, any characters); false for a non-string.
bool KorCFStringToUtf8(CFTypeRef string, std::string* out);

// AMDeviceCopyValue with a null domain (empty text) or the given one; the caller owns the result.
KorCFHolder KorCopyDomainValue(AMDeviceRef device, const std::string& domain, const std::string& key);
// A device value converted to the value tree; false when missing or not convertible.
bool KorDeviceValue(AMDeviceRef device, const std::string& domain, const std::string& key, KorValue* out);
// A number value of CF number type 1-4, 7-11 (read in its own type) or 6 (rounded half up).
bool KorNumberValue(AMDeviceRef device, const std::string& key, int64_t* out, const std::string& domain = "");
bool KorCFNumberToInt64(CFTypeRef number, int64_t* out);
// "SupportedDeviceFamilies": elements of types 3 and 4 as they are, 6 rounded; others skipped.
bool KorSupportedDeviceFamilies(AMDeviceRef device, std::vector<int64_t>* families);
// True when the data_sync domain's entry for this data class has a non-empty array in it.
bool KorDataClassSyncedElsewhere(AMDeviceRef device, const std::string& data_class);
