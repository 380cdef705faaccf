#include "ipc/file_packet.h"

#include <cerrno>
#include <cstdlib>

#include "platform/vel_json_util.h"

namespace {

bool Unsigned(const rapidjson::Value& object, const char* key, uint64_t* out) {
  auto member = object.FindMember(key);
  if (member == object.MemberEnd() || !member->value.IsUint64()) return false;
  *out = member->value.GetUint64();
  return true;
}

bool DecimalNumber(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *out = std::strtoll(text.c_str(), nullptr, 10);
  return *out > 0;
}

}  // namespace

bool ParseFileBlockMessage(const rapidjson::Value& object, FileBlockMessage* out) {
  if (!object.IsObject()) return false;
  uint64_t id = 0;
  if (!Unsigned(object, "id", &id) || !Unsigned(object, "offset", &out->offset) ||
      !Unsigned(object, "offset_length", &out->offset_length) || id > INT64_MAX) {
    return false;
  }
  out->id = static_cast<int64_t>(id);
  return true;
}

std::string FileBlockMessageJson(const FileBlockMessage& message) {
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, "id", message.id);
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, "offset_length", static_cast<int64_t>(message.offset_length));
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, "offset", static_cast<int64_t>(message.offset));
  return VelJsonUtil::ToString(json);
}

FilePacketPlan PlanBlocks(uint64_t size, uint64_t block_size) {
  FilePacketPlan plan;
  if (block_size == 0) return plan;
  uint64_t count = (size + block_size - 1) / block_size;
  for (uint64_t n = 1; n <= count; ++n) {
    FilePacketBlock block;
    block.number = static_cast<int64_t>(n);
    block.offset = (n - 1) * block_size;
    block.length = std::min(block_size, size - block.offset);
    plan[std::to_string(n)] = block;
  }
  return plan;
}

bool ParsePlan(const rapidjson::Value& description, uint64_t size, FilePacketPlan* plan) {
  const rapidjson::Value* fbs = VelJsonUtil::GetObject(description, "fbs");
  if (!fbs || fbs->MemberCount() == 0 || fbs->MemberCount() > kFilePacketMaxBlocks) return false;
  plan->clear();
  for (const auto& entry : fbs->GetObject()) {
    std::string name(entry.name.GetString(), entry.name.GetStringLength());
    FilePacketBlock block;
    uint64_t status = 0;
    if (!DecimalNumber(name, &block.number) || !entry.value.IsObject() ||
        !Unsigned(entry.value, "offset", &block.offset) || !Unsigned(entry.value, "offset_length", &block.length)) {
      return false;
    }
    if (block.length == 0 || block.offset > size || block.length > size - block.offset) return false;
    if (Unsigned(entry.value, "status", &status) && status != 0) block.written = true;
    (*plan)[std::to_string(block.number)] = block;
  }
  return true;
}

rapidjson::Document DescriptionJson(const FileDescription& description, const FilePacketPlan& plan) {
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  auto text = [&](const char* key, const std::string& value) {
    if (!value.empty()) VelJsonUtil::AddJsonDictStringValue(json, allocator, key, value);
  };
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "version", description.version);
  text("type", description.type);
  text("file_name", description.file_name);
  text("path", description.path);
  text("path_source", description.path_source);
  text("path_project", description.path_project);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "md5", description.md5);
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, "size", static_cast<int64_t>(description.size));
  VelJsonUtil::AddJsonDictIntValue(json, allocator, "status", 0);
  rapidjson::Value fbs(rapidjson::kObjectType);
  for (const auto& [name, block] : plan) {
    rapidjson::Value entry(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictIntValue(entry, allocator, "status", 0);
    VelJsonUtil::AddJsonDictInt64Value(entry, allocator, "offset", static_cast<int64_t>(block.offset));
    VelJsonUtil::AddJsonDictInt64Value(entry, allocator, "offset_length", static_cast<int64_t>(block.length));
    VelJsonUtil::AddJsonDictObjectValue(fbs, allocator, name.c_str(), entry);
  }
  VelJsonUtil::AddJsonDictObjectValue(json, allocator, "fbs", fbs);
  return json;
}

bool ParseDescription(const rapidjson::Value& json, FileDescription* description) {
  if (!json.IsObject()) return false;
  VelJsonUtil::GetString(json, "version", &description->version);
  VelJsonUtil::GetString(json, "type", &description->type);
  VelJsonUtil::GetString(json, "file_name", &description->file_name);
  VelJsonUtil::GetString(json, "path", &description->path);
  VelJsonUtil::GetString(json, "path_source", &description->path_source);
  VelJsonUtil::GetString(json, "path_project", &description->path_project);
  VelJsonUtil::GetString(json, "md5", &description->md5);
  return Unsigned(json, "size", &description->size);
}
