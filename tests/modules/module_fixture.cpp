#include "module_fixture.h"

#include <filesystem>

#include "frontend_message.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

using namespace std::chrono_literals;

void ModuleTest::StartWith(const std::string& kind, const std::function<void(const std::string&)>& edit) {
  profile = vd.MakeProfile(kind);
  ASSERT_FALSE(profile.empty());
  if (edit) edit(profile);
  ASSERT_TRUE(vd.Start({profile}));
  harness::TandrelOptions options;
  options.environment = environment;
  options.load_modules = load_modules;
  options.open_log = open_log;
  options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
  tandrel = std::make_unique<harness::Tandrel>(options);
  ASSERT_TRUE(tandrel->Start());
  auto ready = tandrel->Link().WaitFor(1, 30s);
  ASSERT_TRUE(ready) << vd.ServerLog();
  udid = ready->uuid;
  code = ready->code;
}

std::string ModuleTest::Logs() const {
  std::string all;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(tandrel->LogFolder(), error)) {
    std::string text;
    if (entry.is_regular_file() && kst::ReadWholeFile(entry.path().string(), &text)) all += text;
  }
  return all;
}

std::string ModuleTest::DeviceJson(const std::string& extra) const {
  std::string json = R"({"uuid":")" + udid + R"(","code":)" + std::to_string(code);
  return json + (extra.empty() ? "" : "," + extra) + "}";
}

std::string ModuleTest::Compressed(const std::string& json) { return frontend::CompressAttachment(json); }

std::vector<frontend::Message> ModuleTest::Run(uint32_t command, const std::string& json,
                                               const std::string& attachment, uint64_t task) {
  return tandrel->Run(command, task ? task : NextTask(), json, attachment, 60s);
}

rapidjson::Document AttachmentJson(const frontend::Message& message) {
  rapidjson::Document json;
  VelJsonUtil::Parse(message.attachment, &json);
  return json;
}

std::vector<std::string> Keys(const rapidjson::Value& object) {
  std::vector<std::string> keys;
  if (!object.IsObject()) return keys;
  for (const auto& member : object.GetObject()) keys.emplace_back(member.name.GetString());
  return keys;
}
