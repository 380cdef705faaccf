#include "corefoundation/plist_conversion.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <limits>

#include "common/guarded_call.h"
#include "corefoundation/cf_containers.h"
#include "corefoundation/cf_number.h"
#include "corefoundation/cf_scalars.h"
#include "corefoundation/cf_string.h"
#include "corefoundation/plist_input_guard.h"
#include "corefoundation/utf8_text.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {
namespace {

using Owned = CfOwned<CfObject>;

const CfObject* ConvertNode(plist_t node, Mutability mutability, size_t depth);

// Binary property lists may carry strings that are not valid UTF-8; they are read as Latin-1
// rather than dropped, so that a value is never lost.
const CfObject* StringFromBytes(const char* bytes, uint64_t length) {
  std::string_view text(bytes == nullptr ? "" : bytes, bytes == nullptr ? 0 : length);
  if (const CfString* string = CfString::Create(text)) return string;
  return CfString::Create(Latin1ToUtf8(text));
}

const CfObject* ConvertString(plist_t node) {
  uint64_t length = 0;
  const char* bytes = plist_get_string_ptr(node, &length);
  return StringFromBytes(bytes, length);
}

const CfObject* ConvertKey(plist_t node) {
  char* key = nullptr;
  plist_get_key_val(node, &key);
  PlistText owner(key);
  return key == nullptr ? nullptr : StringFromBytes(key, std::strlen(key));
}

const CfObject* ConvertData(plist_t node) {
  uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node, &length);
  if (bytes == nullptr && length > 0) return nullptr;
  return CfData::Create(reinterpret_cast<const UInt8*>(bytes), static_cast<size_t>(length));
}

const CfObject* ConvertDate(plist_t node) {
  int32_t seconds = 0;
  int32_t microseconds = 0;
  plist_get_date_val(node, &seconds, &microseconds);
  return CfDate::Create(static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6);
}

// Keyed archives reference objects by UID; CoreFoundation shows such a value as {"CF$UID": n}.
const CfObject* ConvertUid(plist_t node) {
  uint64_t uid = 0;
  plist_get_uid_val(node, &uid);
  Owned key(CfString::Create("CF$UID"));
  Owned value(CfNumber::FromInt64(static_cast<int64_t>(uid)));
  if (!key || !value) return nullptr;
  auto* dictionary = new CfDictionary(false);
  CfOwned<CfDictionary> owner(dictionary);
  dictionary->Add(key.get(), value.get());
  return owner.release();
}

const CfObject* ConvertArray(plist_t node, Mutability mutability, size_t depth) {
  auto* array = new CfArray(mutability == Mutability::kMutableContainers);
  CfOwned<CfArray> owner(array);
  const uint32_t count = plist_array_get_size(node);
  for (uint32_t i = 0; i < count; ++i) {
    Owned item(ConvertNode(plist_array_get_item(node, i), mutability, depth + 1));
    if (!item) return nullptr;
    array->Append(item.get());
  }
  return owner.release();
}

const CfObject* ConvertDictionary(plist_t node, Mutability mutability, size_t depth) {
  auto* dictionary = new CfDictionary(mutability == Mutability::kMutableContainers);
  CfOwned<CfDictionary> owner(dictionary);
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(node, &iterator);
  struct IteratorFree {
    void operator()(void* p) const { free(p); }
  };
  std::unique_ptr<void, IteratorFree> iterator_owner(iterator);
  for (;;) {
    char* raw_key = nullptr;
    plist_t child = nullptr;
    plist_dict_next_item(node, iterator, &raw_key, &child);
    PlistText key_text(raw_key);
    if (child == nullptr) break;
    if (raw_key == nullptr) return nullptr;
    Owned key(StringFromBytes(raw_key, std::strlen(raw_key)));
    Owned value(ConvertNode(child, mutability, depth + 1));
    if (!key || !value) return nullptr;
    dictionary->Add(key.get(), value.get());
  }
  return owner.release();
}

const CfObject* ConvertNode(plist_t node, Mutability mutability, size_t depth) {
  if (node == nullptr || depth > kMaxPlistNesting) return nullptr;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return CfBoolean::Of(value != 0);
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      // libplist keeps signed integers as their two's-complement bit pattern.
      return CfNumber::FromInt64(static_cast<int64_t>(value));
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return CfNumber::FromDouble(value);
    }
    case PLIST_STRING:
      return ConvertString(node);
    case PLIST_KEY:
      return ConvertKey(node);
    case PLIST_DATA:
      return ConvertData(node);
    case PLIST_DATE:
      return ConvertDate(node);
    case PLIST_UID:
      return ConvertUid(node);
    case PLIST_ARRAY:
      return ConvertArray(node, mutability, depth);
    case PLIST_DICT:
      return ConvertDictionary(node, mutability, depth);
    default:
      return nullptr;
  }
}

PlistHandle PlistFromNode(const CfObject* object, size_t depth);

PlistHandle PlistFromNumber(const CfNumber& number) {
  if (number.is_float()) return PlistHandle(plist_new_real(number.float_value()));
  return PlistHandle(plist_new_uint(static_cast<uint64_t>(number.int_value())));
}

// libplist dates are whole seconds plus microseconds since 2001, each a 32-bit integer.
PlistHandle PlistFromDate(const CfDate& date) {
  const double whole = std::floor(date.time());
  if (!std::isfinite(whole) || whole < std::numeric_limits<int32_t>::min() ||
      whole > std::numeric_limits<int32_t>::max()) {
    return nullptr;
  }
  auto microseconds = static_cast<int32_t>(std::lround((date.time() - whole) * 1e6));
  auto seconds = static_cast<int32_t>(whole);
  if (microseconds >= 1000000 && seconds < std::numeric_limits<int32_t>::max()) {
    microseconds -= 1000000;
    ++seconds;
  }
  return PlistHandle(plist_new_date(seconds, microseconds));
}

PlistHandle PlistFromArray(const CfArray& array, size_t depth) {
  PlistHandle node(plist_new_array());
  for (const CfObject* item : array.items()) {
    PlistHandle child = PlistFromNode(item, depth + 1);
    if (!child) return nullptr;
    plist_array_append_item(node.get(), child.release());
  }
  return node;
}

PlistHandle PlistFromDictionary(const CfDictionary& dictionary, size_t depth) {
  PlistHandle node(plist_new_dict());
  for (const auto& [key, value] : dictionary.entries()) {
    const auto* key_string = CfCast<CfString>(key);
    if (key_string == nullptr) return nullptr;
    PlistHandle child = PlistFromNode(value, depth + 1);
    if (!child) return nullptr;
    plist_dict_set_item(node.get(), key_string->utf8().c_str(), child.release());
  }
  return node;
}

PlistHandle PlistFromNode(const CfObject* object, size_t depth) {
  if (object == nullptr || depth > kMaxPlistNesting) return nullptr;
  switch (object->type_id()) {
    case kCFTypeIDString:
      return PlistHandle(plist_new_string(static_cast<const CfString*>(object)->utf8().c_str()));
    case kCFTypeIDNumber:
      return PlistFromNumber(*static_cast<const CfNumber*>(object));
    case kCFTypeIDBoolean:
      return PlistHandle(plist_new_bool(static_cast<const CfBoolean*>(object)->value() ? 1 : 0));
    case kCFTypeIDData: {
      const auto* data = static_cast<const CfData*>(object);
      return PlistHandle(plist_new_data(reinterpret_cast<const char*>(data->bytes()), data->size()));
    }
    case kCFTypeIDDate:
      return PlistFromDate(*static_cast<const CfDate*>(object));
    case kCFTypeIDArray:
      return PlistFromArray(*static_cast<const CfArray*>(object), depth);
    case kCFTypeIDDictionary:
      return PlistFromDictionary(*static_cast<const CfDictionary*>(object), depth);
    default:
      return nullptr;
  }
}

}  // namespace

const CfObject* CfFromPlist(plist_t node, Mutability mutability) { return ConvertNode(node, mutability, 1); }

PlistHandle PlistFromCf(const CfObject* object) { return PlistFromNode(object, 1); }

}  // namespace devicefw::cf

extern "C" {

CFTypeRef KorCFCreateFromPlist(const void* plist_node) {
  return devicefw::GuardedCall<CFTypeRef>(nullptr, [&] {
    return devicefw::cf::CfFromPlist(const_cast<plist_t>(plist_node));
  });
}

void* KorPlistCreateFromCF(CFTypeRef value) {
  return devicefw::GuardedCall<void*>(nullptr, [&] {
    return devicefw::cf::PlistFromCf(devicefw::cf::ObjectFromRef(value)).release();
  });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&KorCFCreateFromPlist), KorCFCreateFromPlistFn>);
static_assert(std::is_same_v<decltype(&KorPlistCreateFromCF), KorPlistCreateFromCFFn>);
