// The value tree that modules read device answers from: strings (UTF-8), 32- and 64-bit
// integers, doubles, booleans, arrays and dictionaries ordered by byte-compared keys.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

class CIOSDictionary;

class KorValue {
 public:
  using Array = std::vector<KorValue>;
  using Dictionary = std::shared_ptr<CIOSDictionary>;

  KorValue() = default;
  static KorValue String(std::string text);
  static KorValue Int32(int32_t number);
  static KorValue Int64(int64_t number);
  static KorValue Double(double number);
  static KorValue Bool(bool flag);
  static KorValue MakeArray(Array items = Array());
  static KorValue MakeDictionary(Dictionary dictionary);

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
  bool IsString() const { return std::holds_alternative<std::string>(value_); }
  bool IsInt32() const { return std::holds_alternative<int32_t>(value_); }
  bool IsInt64() const { return std::holds_alternative<int64_t>(value_); }
  bool IsInteger() const { return IsInt32() || IsInt64(); }
  bool IsDouble() const { return std::holds_alternative<double>(value_); }
  bool IsBool() const { return std::holds_alternative<bool>(value_); }
  bool IsArray() const { return std::holds_alternative<Array>(value_); }
  bool IsDictionary() const { return std::holds_alternative<Dictionary>(value_); }

  const std::string& AsString() const;
  // Either integer width, widened.
  int64_t AsInteger() const;
  double AsDouble() const;
  bool AsBool() const;
  const Array& AsArray() const;
  Array& MutableArray();
  const Dictionary& AsDictionary() const;

 private:
  std::variant<std::monostate, std::string, int32_t, int64_t, double, bool, Array, Dictionary> value_;
};

// A shared, lockable dictionary; a key occurs once and storing again replaces the value.
class CIOSDictionary {
 public:
  static std::shared_ptr<CIOSDictionary> Create() { return std::make_shared<CIOSDictionary>(); }

  void Set(const std::string& key, KorValue value);
  // A copy of the value, or an empty value.
  KorValue Get(const std::string& key) const;
  bool Has(const std::string& key) const;
  size_t Size() const;
  // A copy of every entry in key order.
  std::map<std::string, KorValue> Entries() const;
  // Calls visit(key, value) for every entry in key order without copying them; the dictionary
  // stays locked meanwhile, so `visit` must not use it.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : entries_) visit(entry.first, entry.second);
  }
  std::vector<std::string> Keys() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, KorValue> entries_;
};
