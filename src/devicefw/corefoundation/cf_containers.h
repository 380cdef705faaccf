// CFDictionary and CFArray. Both retain what they hold and release it when they go. Dictionary
// keys are compared by value (CFEqual); string keys, by far the common case, are found through a
// hash index, other keys by a scan. Entries keep their insertion order.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "corefoundation/cf_object.h"

namespace devicefw::cf {

class CfDictionary final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDDictionary;
  using Entry = std::pair<const CfObject*, const CfObject*>;

  explicit CfDictionary(bool is_mutable) : CfObject(kTypeId), mutable_(is_mutable) {}
  ~CfDictionary() override;

  bool is_mutable() const { return mutable_; }
  // Adds the pair unless the key is already present (CFDictionaryAddValue semantics).
  void Add(const CfObject* key, const CfObject* value);
  const CfObject* Find(const CfObject* key) const;
  bool ContainsValue(const CfObject* value) const;
  const std::vector<Entry>& entries() const { return entries_; }
  bool Equals(const CfObject& other) const override;

 private:
  const Entry* FindEntry(const CfObject* key) const;

  // Indexes the string keys once the dictionary is large enough for a scan to cost more than
  // the index (most dictionaries of a device reply are records of a few fields).
  void IndexStringKeys();

  const bool mutable_;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> string_key_index_;  // empty below kIndexedSize entries
};

class CfArray final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDArray;

  explicit CfArray(bool is_mutable) : CfObject(kTypeId), mutable_(is_mutable) {}
  ~CfArray() override;

  bool is_mutable() const { return mutable_; }
  void Append(const CfObject* value);
  // False when the index is out of range.
  bool RemoveAt(size_t index);
  const std::vector<const CfObject*>& items() const { return items_; }
  bool Equals(const CfObject& other) const override;

 private:
  const bool mutable_;
  std::vector<const CfObject*> items_;
};

}  // namespace devicefw::cf
