// JSON helpers on RapidJSON.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>

class VelJsonUtil {
 public:
  using Allocator = rapidjson::Document::AllocatorType;

  static void AddJsonDictStringValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                     const std::string& value);
  static void AddJsonDictIntValue(rapidjson::Value& object, Allocator& allocator, const char* key, int value);
  static void AddJsonDictInt64Value(rapidjson::Value& object, Allocator& allocator, const char* key,
                                    int64_t value);
  static void AddJsonDictDoubleValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                     double value);
  static void AddJsonDictBoolValue(rapidjson::Value& object, Allocator& allocator, const char* key, bool value);
  // Moves `value` into the object.
  static void AddJsonDictObjectValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                     rapidjson::Value& value);
  static void PushJsonArrayObjectValue(rapidjson::Value& array, Allocator& allocator, rapidjson::Value& value);
  static void PushJsonArrayStringValue(rapidjson::Value& array, Allocator& allocator, const std::string& value);

  // Compact JSON text.
  static std::string ToString(const rapidjson::Value& value);
  // Indented JSON text, four spaces per level.
  static std::string ToPrettyString(const rapidjson::Value& value);

  // Parses text into `document`; false when it is not JSON. Bounded nesting depth is enforced by
  // RapidJSON's iterative parser so hostile input cannot exhaust the stack.
  static bool Parse(const char* text, size_t length, rapidjson::Document* document);
  static bool Parse(const std::string& text, rapidjson::Document* document);

  // Member readers that answer false when the member is missing or of another type.
  static bool GetString(const rapidjson::Value& object, const char* key, std::string* out);
  static bool GetInt64(const rapidjson::Value& object, const char* key, int64_t* out);
  static bool GetInt(const rapidjson::Value& object, const char* key, int* out);
  static const rapidjson::Value* GetObject(const rapidjson::Value& object, const char* key);
  static const rapidjson::Value* GetArray(const rapidjson::Value& object, const char* key);
};
