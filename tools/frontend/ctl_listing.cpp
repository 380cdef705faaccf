#include "ctl_listing.h"

#include "platform/vel_json_util.h"

namespace ctl {

std::vector<rapidjson::Document> BatchObjects(const std::vector<frontend::Message>& messages, uint32_t group) {
  std::vector<rapidjson::Document> objects;
  for (const frontend::Message& message : messages) {
    rapidjson::Document batch;
    if (message.status != 2 || message.stage != 2 || (group != 0 && message.command != group) ||
        !VelJsonUtil::Parse(message.attachment, &batch) || !batch.IsArray()) {
      continue;
    }
    for (rapidjson::Value& entry : batch.GetArray()) {
      rapidjson::Document object;
      object.CopyFrom(entry, object.GetAllocator());
      objects.push_back(std::move(object));
    }
  }
  return objects;
}

std::string MemberText(const rapidjson::Value& object, const char* key) {
  auto member = object.FindMember(key);
  if (member == object.MemberEnd()) return std::string();
  return member->value.IsString() ? member->value.GetString() : VelJsonUtil::ToString(member->value);
}

bool FailedFinal(const std::vector<frontend::Message>& messages) {
  return messages.empty() || messages.back().status != 1;
}

}  // namespace ctl
