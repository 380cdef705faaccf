// tandrelctl verbs of the device-support set-up: restart-framework (10), drivers (16),
// install-drivers (17) and store-itunes (18).
#include <iostream>

#include <rapidjson/document.h>

#include "ctl_commands.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

int RunSimple(const GlobalOptions& options, uint32_t command, const std::string& json) {
  auto session = StartSession(options);
  if (!session) return kExitLink;
  return RunCommand(*session, options, command, NewTaskId(), json, std::string(), 1, nullptr);
}

}  // namespace

int RestartFrameworkCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::cerr << "usage: tandrelctl restart-framework\n";
    return kExitUsage;
  }
  return RunSimple(options, 10, "{}");
}

int DriversCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (!list.positional.empty() || !list.Has("--url")) {
    std::cerr << "usage: tandrelctl drivers --url BASE_URL\n";
    return kExitUsage;
  }
  rapidjson::Document json(rapidjson::kObjectType);
  rapidjson::Value info(rapidjson::kObjectType);
  info.AddMember("url", rapidjson::Value(list.Get("--url").c_str(), json.GetAllocator()), json.GetAllocator());
  json.AddMember("info", info, json.GetAllocator());
  return RunSimple(options, 16, VelJsonUtil::ToString(json));
}

int InstallDriversCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cerr << "usage: tandrelctl install-drivers PACKAGE_PATH...\n";
    return kExitUsage;
  }
  rapidjson::Document json(rapidjson::kObjectType);
  rapidjson::Value paths(rapidjson::kArrayType);
  for (const std::string& path : args) paths.PushBack(rapidjson::Value(path.c_str(), json.GetAllocator()), json.GetAllocator());
  json.AddMember("info", paths, json.GetAllocator());
  return RunSimple(options, 17, VelJsonUtil::ToString(json));
}

int StoreITunesCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::cerr << "usage: tandrelctl store-itunes\n";
    return kExitUsage;
  }
  return RunSimple(options, 18, R"({"info":{}})");
}

}  // namespace ctl
