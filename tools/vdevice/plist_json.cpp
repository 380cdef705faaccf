#include "plist_json.h"

#include <openssl/evp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vdevice {

namespace {

constexpr size_t kMaxBase64Length = 64u << 20;

PlistPtr MarkedValue(const rapidjson::Value& json, std::string* error);

PlistPtr ArrayFromJson(const rapidjson::Value& json, std::string* error) {
  PlistPtr array(plist_new_array());
  for (const rapidjson::Value& element : json.GetArray()) {
    PlistPtr item = PlistFromJson(element, error);
    if (!item) return nullptr;
    plist_array_append_item(array.get(), item.release());
  }
  return array;
}

PlistPtr DictFromJson(const rapidjson::Value& json, std::string* error) {
  if (json.MemberCount() == 1 && json.MemberBegin()->name.GetString()[0] == '$') {
    return MarkedValue(json, error);
  }
  PlistPtr dict = MakeDict();
  for (const auto& member : json.GetObject()) {
    PlistPtr item = PlistFromJson(member.value, error);
    if (!item) return nullptr;
    SetNode(dict.get(), member.name.GetString(), std::move(item));
  }
  return dict;
}

PlistPtr NumberFromJson(const rapidjson::Value& json) {
  if (json.IsUint64()) return PlistPtr(plist_new_uint(json.GetUint64()));
  // libplist 2.2 has one integer type; negative values travel as two's complement.
  if (json.IsInt64()) return PlistPtr(plist_new_uint(static_cast<uint64_t>(json.GetInt64())));
  return PlistPtr(plist_new_real(json.GetDouble()));
}

PlistPtr MarkedValue(const rapidjson::Value& json, std::string* error) {
  const std::string marker = json.MemberBegin()->name.GetString();
  const rapidjson::Value& value = json.MemberBegin()->value;
  if (marker == "$data" && value.IsString()) {
    std::string bytes;
    if (Base64Decode(value.GetString(), &bytes)) {
      return PlistPtr(plist_new_data(bytes.data(), bytes.size()));
    }
    *error = "bad base64 in $data";
    return nullptr;
  }
  if (marker == "$date" && value.IsString()) {
    int64_t seconds = 0;
    if (ParseUtcTimestamp(value.GetString(), &seconds)) return MakeDateFromUnix(seconds);
    *error = std::string("bad $date text: ") + value.GetString();
    return nullptr;
  }
  if (marker == "$real" && value.IsNumber()) return PlistPtr(plist_new_real(value.GetDouble()));
  *error = "unknown or malformed marker " + marker;
  return nullptr;
}

rapidjson::Value MarkedJson(const char* marker, rapidjson::Value inner,
                            rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value object(rapidjson::kObjectType);
  object.AddMember(rapidjson::Value(marker, allocator), inner, allocator);
  return object;
}

rapidjson::Value StringJson(const std::string& text, rapidjson::Document::AllocatorType& allocator) {
  return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

}  // namespace

PlistPtr PlistFromJson(const rapidjson::Value& json, std::string* error) {
  if (json.IsString()) return PlistPtr(plist_new_string(json.GetString()));
  if (json.IsBool()) return PlistPtr(plist_new_bool(json.GetBool() ? 1 : 0));
  if (json.IsNumber()) return NumberFromJson(json);
  if (json.IsArray()) return ArrayFromJson(json, error);
  if (json.IsObject()) return DictFromJson(json, error);
  *error = "null has no property list form";
  return nullptr;
}

rapidjson::Value JsonFromPlist(plist_t node, rapidjson::Document::AllocatorType& allocator) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return rapidjson::Value(value != 0);
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return rapidjson::Value(value);
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      if (std::floor(value) == value) return MarkedJson("$real", rapidjson::Value(value), allocator);
      return rapidjson::Value(value);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      char* text = nullptr;
      plist_get_string_val(node, &text);
      rapidjson::Value value = StringJson(text ? text : "", allocator);
      std::free(text);
      return value;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      std::string data(bytes ? bytes : "", bytes ? length : 0);
      std::free(bytes);
      return MarkedJson("$data", StringJson(Base64Encode(data), allocator), allocator);
    }
    case PLIST_DATE:
      return MarkedJson("$date", StringJson(FormatUtcTimestamp(UnixSecondsOfDate(node)), allocator),
                        allocator);
    case PLIST_ARRAY: {
      rapidjson::Value array(rapidjson::kArrayType);
      for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
        array.PushBack(JsonFromPlist(plist_array_get_item(node, i), allocator), allocator);
      }
      return array;
    }
    case PLIST_DICT: {
      rapidjson::Value object(rapidjson::kObjectType);
      for (const std::string& key : DictKeys(node)) {
        object.AddMember(StringJson(key, allocator),
                         JsonFromPlist(plist_dict_get_item(node, key.c_str()), allocator), allocator);
      }
      return object;
    }
    default:
      return rapidjson::Value();
  }
}

std::string Base64Encode(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                               reinterpret_cast<const unsigned char*>(bytes.data()),
                               static_cast<int>(bytes.size()));
  text.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return text;
}

bool Base64Decode(const std::string& text, std::string* bytes) {
  std::string compact;
  for (char c : text) {
    if (c != '\n' && c != '\r' && c != ' ' && c != '\t') compact.push_back(c);
  }
  if (compact.size() % 4 != 0 || compact.size() > kMaxBase64Length) return false;
  bytes->assign(compact.size() / 4 * 3, '\0');
  if (compact.empty()) return true;
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes->data()),
                               reinterpret_cast<const unsigned char*>(compact.data()),
                               static_cast<int>(compact.size()));
  if (length < 0) return false;
  // EVP_DecodeBlock counts padding as zero bytes; drop them.
  size_t padding = 0;
  if (compact.back() == '=') ++padding;
  if (compact.size() >= 2 && compact[compact.size() - 2] == '=') ++padding;
  bytes->resize(static_cast<size_t>(length) - padding);
  return true;
}

bool ParseUtcTimestamp(const std::string& text, int64_t* unix_seconds) {
  int year, month, day, hour, minute, second;
  char zone = 0;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &year, &month, &day, &hour, &minute,
                  &second, &zone, &consumed) != 7 ||
      zone != 'Z' || static_cast<size_t>(consumed) != text.size()) {
    return false;
  }
  using namespace std::chrono;
  year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                      std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60 || hour < 0 || minute < 0 || second < 0) {
    return false;
  }
  *unix_seconds = sys_days(date).time_since_epoch().count() * 86400LL + hour * 3600 + minute * 60 + second;
  return true;
}

std::string FormatUtcTimestamp(int64_t unix_seconds) {
  using namespace std::chrono;
  int64_t days = unix_seconds / 86400;
  int64_t rest = unix_seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  year_month_day date{sys_days(std::chrono::days(days))};
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

}  // namespace vdevice
