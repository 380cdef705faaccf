#include "corefoundation/cf_containers.h"

#include <algorithm>

#include "common/guarded_call.h"
#include "corefoundation/cf_string.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {

CfDictionary::~CfDictionary() {
  for (const Entry& entry : entries_) {
    entry.first->Release();
    entry.second->Release();
  }
}

namespace {

// Dictionaries of this many entries and more find string keys through an index.
constexpr size_t kIndexedSize = 16;

// Room for one more element, growing geometrically (so that no reference is taken before a throw).
template <typename T>
void MakeRoom(std::vector<T>* items) {
  if (items->size() == items->capacity()) items->reserve(std::max<size_t>(4, 2 * items->size()));
}

}  // namespace

const CfDictionary::Entry* CfDictionary::FindEntry(const CfObject* key) const {
  const auto* string = CfCast<CfString>(key);
  if (string != nullptr && !string_key_index_.empty()) {
    auto found = string_key_index_.find(string->utf8());
    return found == string_key_index_.end() ? nullptr : &entries_[found->second];
  }
  for (const Entry& entry : entries_) {
    if (string == nullptr) {
      if (entry.first->Equals(*key)) return &entry;
    } else if (const auto* other = CfCast<CfString>(entry.first); other != nullptr && other->utf8() == string->utf8()) {
      return &entry;
    }
  }
  return nullptr;
}

void CfDictionary::IndexStringKeys() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (const auto* string = CfCast<CfString>(entries_[i].first)) string_key_index_.emplace(string->utf8(), i);
  }
}

void CfDictionary::Add(const CfObject* key, const CfObject* value) {
  if (FindEntry(key) != nullptr) return;
  MakeRoom(&entries_);
  if (!string_key_index_.empty()) {
    if (const auto* string = CfCast<CfString>(key)) string_key_index_.emplace(string->utf8(), entries_.size());
  }
  key->Retain();
  value->Retain();
  entries_.emplace_back(key, value);
  if (entries_.size() == kIndexedSize) IndexStringKeys();
}

const CfObject* CfDictionary::Find(const CfObject* key) const {
  const Entry* entry = FindEntry(key);
  return entry == nullptr ? nullptr : entry->second;
}

bool CfDictionary::ContainsValue(const CfObject* value) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& entry) { return entry.second->Equals(*value); });
}

bool CfDictionary::Equals(const CfObject& other) const {
  const auto* dictionary = CfCast<CfDictionary>(&other);
  if (dictionary == nullptr || dictionary->entries_.size() != entries_.size()) return false;
  return std::all_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    const CfObject* theirs = dictionary->Find(entry.first);
    return theirs != nullptr && entry.second->Equals(*theirs);
  });
}

CfArray::~CfArray() {
  for (const CfObject* item : items_) item->Release();
}

void CfArray::Append(const CfObject* value) {
  MakeRoom(&items_);
  value->Retain();
  items_.push_back(value);
}

bool CfArray::RemoveAt(size_t index) {
  if (index >= items_.size()) return false;
  const CfObject* removed = items_[index];
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  removed->Release();
  return true;
}

bool CfArray::Equals(const CfObject& other) const {
  const auto* array = CfCast<CfArray>(&other);
  return array != nullptr &&
         std::equal(items_.begin(), items_.end(), array->items_.begin(), array->items_.end(),
                    [](const CfObject* a, const CfObject* b) { return a->Equals(*b); });
}

}  // namespace devicefw::cf

using devicefw::GuardedCall;
using devicefw::cf::CfArray;
using devicefw::cf::CfCast;
using devicefw::cf::CfCastMutable;
using devicefw::cf::CfDictionary;
using devicefw::cf::ObjectFromRef;
using devicefw::cf::ToRef;

// Null keys, null values and non-CF pointers are refused rather than stored: every stored
// element is a retained CF object. Mutating an immutable container is ignored.
extern "C" {

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*) {
  if (count < 0 || (count > 0 && (keys == nullptr || values == nullptr))) return nullptr;
  return GuardedCall<CFDictionaryRef>(nullptr, [&] {
    auto* dictionary = new CfDictionary(false);
    devicefw::cf::CfOwned<CfDictionary> owner(dictionary);
    for (CFIndex i = 0; i < count; ++i) {
      const auto* key = ObjectFromRef(keys[i]);
      const auto* value = ObjectFromRef(values[i]);
      if (key != nullptr && value != nullptr) dictionary->Add(key, value);
    }
    return ToRef<CFDictionaryRef>(owner.release());
  });
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity, const CFDictionaryKeyCallBacks*,
                                                 const CFDictionaryValueCallBacks*) {
  if (capacity < 0) return nullptr;
  return GuardedCall<CFMutableDictionaryRef>(
      nullptr, [] { return ToRef<CFMutableDictionaryRef>(new CfDictionary(true)); });
}

void CFDictionaryAddValue(CFMutableDictionaryRef ref, const void* key, const void* value) {
  auto* dictionary = CfCastMutable<CfDictionary>(ref);
  const auto* key_object = ObjectFromRef(key);
  const auto* value_object = ObjectFromRef(value);
  if (dictionary == nullptr || !dictionary->is_mutable() || key_object == nullptr || value_object == nullptr) return;
  GuardedCall([&] { dictionary->Add(key_object, value_object); });
}

const void* CFDictionaryGetValue(CFDictionaryRef ref, const void* key) {
  const auto* dictionary = CfCast<CfDictionary>(ref);
  const auto* key_object = ObjectFromRef(key);
  if (dictionary == nullptr || key_object == nullptr) return nullptr;
  return dictionary->Find(key_object);
}

Boolean CFDictionaryContainsKey(CFDictionaryRef ref, const void* key) {
  return CFDictionaryGetValue(ref, key) != nullptr;
}

Boolean CFDictionaryContainsValue(CFDictionaryRef ref, const void* value) {
  const auto* dictionary = CfCast<CfDictionary>(ref);
  const auto* value_object = ObjectFromRef(value);
  return dictionary != nullptr && value_object != nullptr && dictionary->ContainsValue(value_object);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef ref) {
  const auto* dictionary = CfCast<CfDictionary>(ref);
  return dictionary == nullptr ? 0 : static_cast<CFIndex>(dictionary->entries().size());
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef ref, const void** keys, const void** values) {
  const auto* dictionary = CfCast<CfDictionary>(ref);
  if (dictionary == nullptr) return;
  size_t i = 0;
  for (const auto& [key, value] : dictionary->entries()) {
    if (keys != nullptr) keys[i] = key;
    if (values != nullptr) values[i] = value;
    ++i;
  }
}

void CFDictionaryApplyFunction(CFDictionaryRef ref, CFDictionaryApplierFunction applier, void* context) {
  const auto* dictionary = CfCast<CfDictionary>(ref);
  if (dictionary == nullptr || applier == nullptr) return;
  // Indexed, not iterated: an applier that (wrongly) adds to the dictionary cannot invalidate us.
  const auto& entries = dictionary->entries();
  for (size_t i = 0; i < entries.size(); ++i) applier(entries[i].first, entries[i].second, context);
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks*) {
  if (capacity < 0) return nullptr;
  return GuardedCall<CFMutableArrayRef>(nullptr, [] { return ToRef<CFMutableArrayRef>(new CfArray(true)); });
}

void CFArrayAppendValue(CFMutableArrayRef ref, const void* value) {
  auto* array = CfCastMutable<CfArray>(ref);
  const auto* value_object = ObjectFromRef(value);
  if (array == nullptr || !array->is_mutable() || value_object == nullptr) return;
  GuardedCall([&] { array->Append(value_object); });
}

CFIndex CFArrayGetCount(CFArrayRef ref) {
  const auto* array = CfCast<CfArray>(ref);
  return array == nullptr ? 0 : static_cast<CFIndex>(array->items().size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef ref, CFIndex index) {
  const auto* array = CfCast<CfArray>(ref);
  if (array == nullptr || index < 0 || static_cast<size_t>(index) >= array->items().size()) return nullptr;
  return array->items()[static_cast<size_t>(index)];
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef ref, CFIndex index) {
  auto* array = CfCastMutable<CfArray>(ref);
  if (array == nullptr || !array->is_mutable() || index < 0) return;
  array->RemoveAt(static_cast<size_t>(index));
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFDictionaryCreate), CFDictionaryCreateFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryCreateMutable), CFDictionaryCreateMutableFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryAddValue), CFDictionaryAddValueFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryGetValue), CFDictionaryGetValueFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryContainsKey), CFDictionaryContainsKeyFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryContainsValue), CFDictionaryContainsValueFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryGetCount), CFDictionaryGetCountFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryGetKeysAndValues), CFDictionaryGetKeysAndValuesFn>);
static_assert(std::is_same_v<decltype(&CFDictionaryApplyFunction), CFDictionaryApplyFunctionFn>);
static_assert(std::is_same_v<decltype(&CFArrayCreateMutable), CFArrayCreateMutableFn>);
static_assert(std::is_same_v<decltype(&CFArrayAppendValue), CFArrayAppendValueFn>);
static_assert(std::is_same_v<decltype(&CFArrayGetCount), CFArrayGetCountFn>);
static_assert(std::is_same_v<decltype(&CFArrayGetValueAtIndex), CFArrayGetValueAtIndexFn>);
static_assert(std::is_same_v<decltype(&CFArrayRemoveValueAtIndex), CFArrayRemoveValueAtIndexFn>);
