#include "platform/vel_json_util.h"

#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <limits>

namespace {

rapidjson::Value Key(const char* key, VelJsonUtil::Allocator& allocator) {
  return rapidjson::Value(key, allocator);
}

}  // namespace

void VelJsonUtil::AddJsonDictStringValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                         const std::string& value) {
  object.AddMember(Key(key, allocator),
                   rapidjson::Value(value.data(), static_cast<rapidjson::SizeType>(value.size()), allocator),
                   allocator);
}

void VelJsonUtil::AddJsonDictIntValue(rapidjson::Value& object, Allocator& allocator, const char* key, int value) {
  object.AddMember(Key(key, allocator), rapidjson::Value(value), allocator);
}

void VelJsonUtil::AddJsonDictInt64Value(rapidjson::Value& object, Allocator& allocator, const char* key,
                                        int64_t value) {
  object.AddMember(Key(key, allocator), rapidjson::Value(static_cast<int64_t>(value)), allocator);
}

void VelJsonUtil::AddJsonDictDoubleValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                         double value) {
  object.AddMember(Key(key, allocator), rapidjson::Value(value), allocator);
}

void VelJsonUtil::AddJsonDictBoolValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                       bool value) {
  object.AddMember(Key(key, allocator), rapidjson::Value(value), allocator);
}

void VelJsonUtil::AddJsonDictObjectValue(rapidjson::Value& object, Allocator& allocator, const char* key,
                                         rapidjson::Value& value) {
  object.AddMember(Key(key, allocator), value, allocator);
}

void VelJsonUtil::PushJsonArrayObjectValue(rapidjson::Value& array, Allocator& allocator,
                                           rapidjson::Value& value) {
  array.PushBack(value, allocator);
}

void VelJsonUtil::PushJsonArrayStringValue(rapidjson::Value& array, Allocator& allocator,
                                           const std::string& value) {
  array.PushBack(rapidjson::Value(value.data(), static_cast<rapidjson::SizeType>(value.size()), allocator),
                 allocator);
}

std::string VelJsonUtil::ToString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string VelJsonUtil::ToPrettyString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool VelJsonUtil::Parse(const char* text, size_t length, rapidjson::Document* document) {
  if (!text) return false;
  document->Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag>(text, length);
  return !document->HasParseError();
}

bool VelJsonUtil::Parse(const std::string& text, rapidjson::Document* document) {
  return Parse(text.data(), text.size(), document);
}

bool VelJsonUtil::GetString(const rapidjson::Value& object, const char* key, std::string* out) {
  if (!object.IsObject()) return false;
  auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsString()) return false;
  out->assign(member->value.GetString(), member->value.GetStringLength());
  return true;
}

bool VelJsonUtil::GetInt64(const rapidjson::Value& object, const char* key, int64_t* out) {
  if (!object.IsObject()) return false;
  auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsInt64()) return false;
  *out = member->value.GetInt64();
  return true;
}

bool VelJsonUtil::GetInt(const rapidjson::Value& object, const char* key, int* out) {
  int64_t value = 0;
  if (!GetInt64(object, key, &value)) return false;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return false;
  *out = static_cast<int>(value);
  return true;
}

const rapidjson::Value* VelJsonUtil::GetObject(const rapidjson::Value& object, const char* key) {
  if (!object.IsObject()) return nullptr;
  auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsObject()) return nullptr;
  return &member->value;
}

const rapidjson::Value* VelJsonUtil::GetArray(const rapidjson::Value& object, const char* key) {
  if (!object.IsObject()) return nullptr;
  auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsArray()) return nullptr;
  return &member->value;
}
