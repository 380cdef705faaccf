#include "iOSAPI/kor_value.h"

namespace {

const std::string kEmptyText;
const KorValue::Array kEmptyArray;
const KorValue::Dictionary kNoDictionary;

}  // namespace

KorValue KorValue::String(std::string text) {
  KorValue value;
  value.value_ = std::move(text);
  return value;
}

KorValue KorValue::Int32(int32_t number) {
  KorValue value;
  value.value_ = number;
  return value;
}

KorValue KorValue::Int64(int64_t number) {
  KorValue value;
  value.value_ = number;
  return value;
}

KorValue KorValue::Double(double number) {
  KorValue value;
  value.value_ = number;
  return value;
}

KorValue KorValue::Bool(bool flag) {
  KorValue value;
  value.value_ = flag;
  return value;
}

KorValue KorValue::MakeArray(Array items) {
  KorValue value;
  value.value_ = std::move(items);
  return value;
}

KorValue KorValue::MakeDictionary(Dictionary dictionary) {
  KorValue value;
  value.value_ = std::move(dictionary);
  return value;
}

const std::string& KorValue::AsString() const {
  const auto* text = std::get_if<std::string>(&value_);
  return text ? *text : kEmptyText;
}

int64_t KorValue::AsInteger() const {
  if (const auto* small = std::get_if<int32_t>(&value_)) return *small;
  if (const auto* large = std::get_if<int64_t>(&value_)) return *large;
  return 0;
}

double KorValue::AsDouble() const {
  if (const auto* number = std::get_if<double>(&value_)) return *number;
  return static_cast<double>(AsInteger());
}

bool KorValue::AsBool() const {
  const auto* flag = std::get_if<bool>(&value_);
  return flag && *flag;
}

const KorValue::Array& KorValue::AsArray() const {
  const auto* items = std::get_if<Array>(&value_);
  return items ? *items : kEmptyArray;
}

KorValue::Array& KorValue::MutableArray() {
  if (!IsArray()) value_ = Array();
  return std::get<Array>(value_);
}

const KorValue::Dictionary& KorValue::AsDictionary() const {
  const auto* dictionary = std::get_if<Dictionary>(&value_);
  return dictionary ? *dictionary : kNoDictionary;
}

void CIOSDictionary::Set(const std::string& key, KorValue value) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_[key] = std::move(value);
}

KorValue CIOSDictionary::Get(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(key);
  return found == entries_.end() ? KorValue() : found->second;
}

bool CIOSDictionary::Has(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.count(key) != 0;
}

size_t CIOSDictionary::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::map<std::string, KorValue> CIOSDictionary::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

std::vector<std::string> CIOSDictionary::Keys() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> keys;
  for (const auto& entry : entries_) keys.push_back(entry.first);
  return keys;
}
