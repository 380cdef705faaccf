#include "frontend_file_blocks.h"

#include <cstdlib>

#include "frontend_message.h"
#include "platform/vel_json_util.h"

namespace frontend {

namespace {

bool NonNegative(const rapidjson::Value& object, const char* key, uint64_t* out) {
  int64_t value = 0;
  if (!VelJsonUtil::GetInt64(object, key, &value) || value < 0) return false;
  *out = static_cast<uint64_t>(value);
  return true;
}

}  // namespace

bool OpeningDescription(const Message& opened, rapidjson::Document* description) {
  if (!opened.info || !VelJsonUtil::Parse(*opened.info, description) || !description->IsObject()) return false;
  std::string where;
  if (!VelJsonUtil::GetString(*description, "description", &where)) return true;
  return where == "attachment" && opened.attachment_inflated && VelJsonUtil::Parse(opened.attachment, description) &&
         description->IsObject();
}

std::map<int64_t, FileBlock> FileBlockPlan(const rapidjson::Value& description) {
  std::map<int64_t, FileBlock> plan;
  const rapidjson::Value* fbs = VelJsonUtil::GetObject(description, "fbs");
  if (!fbs) return plan;
  for (const auto& entry : fbs->GetObject()) {
    FileBlock block;
    block.id = std::atoll(entry.name.GetString());
    if (block.id <= 0 || !NonNegative(entry.value, "offset", &block.offset) ||
        !NonNegative(entry.value, "offset_length", &block.length)) {
      continue;
    }
    plan[block.id] = block;
  }
  return plan;
}

std::string FileBlockJson(const FileBlock& block) {
  rapidjson::Document json(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictInt64Value(json, json.GetAllocator(), "id", block.id);
  VelJsonUtil::AddJsonDictInt64Value(json, json.GetAllocator(), "offset_length", static_cast<int64_t>(block.length));
  VelJsonUtil::AddJsonDictInt64Value(json, json.GetAllocator(), "offset", static_cast<int64_t>(block.offset));
  return VelJsonUtil::ToString(json);
}

bool ParseFileBlock(const rapidjson::Value& json, FileBlock* block) {
  return VelJsonUtil::GetInt64(json, "id", &block->id) && NonNegative(json, "offset", &block->offset) &&
         NonNegative(json, "offset_length", &block->length);
}

}  // namespace frontend
