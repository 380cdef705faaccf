#include "utility/module/plugins/kor_module_plugins.h"

#include <atomic>
#include <cstring>

#include "basic/plugin_util.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/kor_command.h"

namespace {

constexpr const char* kCommandReceiveEvent = "LIBMODEL_PLUGIN_COMMAND_RECEIVE";
std::atomic<KorModulePlugins*> g_host_module{nullptr};

}  // namespace

void KorRegisterPluginHost(KorModulePlugins* module) {
  g_host_module.store(module);
  KSTPluginBus::Get().RegisterHost(&KorModulePlugins::HostDispatcher);
}

int KorModulePlugins::HostDispatcher(KSTObserveData* event) {
  KorModulePlugins* module = g_host_module.load();
  return module ? module->Dispatch(event) : 0;
}

int KorModulePlugins::Dispatch(KSTObserveData* event) {
  if (!event->event_name || std::strcmp(event->event_name, kCommandReceiveEvent) != 0) return 0;
  if (!event->platform_function) return 0;
  auto found = platform_functions_.find(event->platform_function);
  if (found == platform_functions_.end()) {
    KLOG(WARNING) << "no platform function named " << event->platform_function;
    return 0;
  }
  return found->second(event);
}

int KorModulePlugins::OnCommand(kst::IPCPacket* packet) {
  if (packet->command != kKorCommandPlugin) return kKorBadJson;
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  if (!ParseCommandJson(payload, &json)) {
    KLOG(ERROR) << "plug-in request " << KorTaskIdText(packet) << ": JSON does not parse";
    SendResult(packet, std::string(), kKorBadJson);
    return kKorBadJson;
  }
  int type = 0;
  VelJsonUtil::GetInt(json, "type", &type);
  std::string event_name;
  if (json.HasMember("info") && json["info"].IsObject()) {
    VelJsonUtil::GetString(json["info"], "sub_command_type", &event_name);
  }
  std::string task_id = KorTaskIdText(packet);
  std::string inflated;
  KSTObserveData event;
  std::memset(&event, 0, sizeof(event));
  event.task_id = task_id.c_str();
  event.event_name = event_name.c_str();
  event.sender = KSTPluginBus::Get().HostIdentity();
  if (type != 0) {
    event.data_kind = KST_OBSERVE_BYTES;
    event.data = payload.attachment;
    event.data_length = payload.attachment_length;
  } else {
    event.data_kind = KST_OBSERVE_TEXT;
    if (payload.attachment_length > 0 && !KorInflateAttachment(payload, &inflated)) {
      KLOG(WARNING) << "plug-in request " << task_id << ": attachment does not inflate; sent without data";
    }
    event.data = inflated.c_str();
    event.data_length = inflated.size();
  }
  KLOG(INFO) << "plug-in request " << task_id << " publishes " << event_name;
  KSTPluginBus::Get().Publish(&event);
  return 0;
}
