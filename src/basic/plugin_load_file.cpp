#include "basic/plugin_load_file.h"

#include <rapidjson/document.h>

#include "platform/vel_json_util.h"

namespace {

std::vector<std::string> ReadTexts(const rapidjson::Value& json, const char* key) {
  std::vector<std::string> texts;
  auto member = json.FindMember(key);
  if (member == json.MemberEnd() || !member->value.IsArray()) return texts;
  for (const auto& item : member->value.GetArray()) {
    if (item.IsString()) texts.emplace_back(item.GetString(), item.GetStringLength());
  }
  return texts;
}

int32_t ReadInt(const rapidjson::Value& json, const char* key) {
  auto member = json.FindMember(key);
  return member != json.MemberEnd() && member->value.IsInt() ? member->value.GetInt() : 0;
}

std::string ReadText(const rapidjson::Value& json, const char* key) {
  auto member = json.FindMember(key);
  if (member == json.MemberEnd() || !member->value.IsString()) return std::string();
  return std::string(member->value.GetString(), member->value.GetStringLength());
}

// A library name or sub-folder must stay inside the version folder.
bool StaysInside(const std::string& relative) {
  if (relative.find('\0') != std::string::npos || (!relative.empty() && relative.front() == '/')) return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of("/\\", start);
    if (end == std::string::npos) end = relative.size();
    if (relative.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::optional<KSTPluginLoad> ParsePluginLoad(const std::string& text) {
  if (text.size() > kKSTMaxPluginLoadSize) return std::nullopt;
  rapidjson::Document json;
  if (!VelJsonUtil::Parse(text, &json) || !json.IsObject()) return std::nullopt;
  KSTPluginLoad load;
  load.path = ReadText(json, "path");
  load.x64 = ReadText(json, "x64");
  if (load.path.empty() || !StaysInside(load.path) || !StaysInside(load.x64)) return std::nullopt;
  load.win32 = ReadText(json, "win32");
  load.type = ReadInt(json, "type");
  load.version = ReadText(json, "version");
  load.id = ReadText(json, "id");
  load.command_recv = ReadTexts(json, "command-recv");
  load.command_send = ReadTexts(json, "command-send");
  load.require = ReadTexts(json, "require");
  load.optional = ReadTexts(json, "optional");
  load.width = ReadInt(json, "width");
  load.height = ReadInt(json, "height");
  load.command_create = ReadText(json, "command-create");
  return load;
}
