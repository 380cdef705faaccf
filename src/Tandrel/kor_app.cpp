#include "Tandrel/kor_app.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "Tandrel/kor_crash_report.h"
#include "basic/plugin_util.h"
#include "Tandrel/kor_process.h"
#include "Tandrel/kor_watchdog.h"
#include "platform/auto_release.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"
#include "platform/kst_utility_sys.h"
#include "platform/qr_task_pool.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/kor_module_registry.h"

namespace {

constexpr size_t kTaskPoolThreads = 10;
constexpr const char* kProgramName = "Tandrel";

// The main thread waits here until the watchdog posts the quit.
class QuitEvent {
 public:
  void Post() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_ = true;
    }
    signal_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    signal_.wait(lock, [this] { return posted_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  bool posted_ = false;
};

void PrepareFolders(const KorStartParams& params) {
  std::string log_folder = BuildLogFolder(kst::TempFolder(), params.brand, KSTUtilitySys::NowText("%Y%m%d"));
  kst::CreateDirectories(log_folder);
  std::string work_folder = BuildWorkFolder(log_folder, kst::ExecutableFileName(), kst::CurrentProcessId());
  KorProcess::Get().SetFolders(log_folder, work_folder);
}

void StartLogging(const KorStartParams& params) {
  if (!params.open_log) return;
  kst::LogSettings settings;
  settings.program_name = kProgramName;
  settings.folder = KorProcess::Get().LogFolder();
  settings.max_file_mb = 20;
  settings.also_to_stderr = params.show_console;
  kst::StartLog(settings);
}

void SendStartupReport(const KorStartParams& params, bool connected) {
  rapidjson::Document info(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictInt64Value(info, info.GetAllocator(), "pid", kst::CurrentProcessId());
  VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "task_id", params.task_id);
  KorPacketHeader header{StartTaskIdNumber(params), connected ? kKorStatusDone : kKorStatusFailed, 19};
  KorMessage message;
  message.info = VelJsonUtil::ToString(info);
  KorClient::Instance().Send(header, message);
}

// The elevated instance's first packet: the secret its starter left in a file for it.
void PresentElevatedSecret(const KorStartParams& params) {
  std::string secret;
  if (params.secret_file.empty() || !kst::ReadWholeFile(params.secret_file, &secret)) {
    KLOG(ERROR) << "elevated instance without its secret: the link will refuse it";
    return;
  }
  KorClient::Instance().SendElevatedHello(secret);
}

void LoadPlugins(const KorStartParams& params) {
  for (const std::string& folder : params.load_modules) {
    if (KSTPluginBus::Get().LoadPlugin(folder)) KLOG(INFO) << "Load Module Success: " << folder;
  }
}

void StartModulesAndLink(const KorStartParams& params) {
  QrTaskPool::Get().Activate(kTaskPoolThreads);
  KorClient& client = KorClient::Instance();
  bool connected = client.ConnectFrontend(params.port);
  if (connected && params.type == kKorStartTypeElevated) PresentElevatedSecret(params);
  KorModuleRegistry::Get().RegisterBuiltInModules();
  LoadPlugins(params);
  KorDeviceMonitor::Get().RegisterObserver(&client);
  KorDeviceMonitor::Get().StartMonitoringAndReport();
  SendStartupReport(params, connected);
}

void ShutDown(const KorStartParams& params) {
  KLOG(INFO) << "shutting down";
  KorClient::Instance().Shutdown();
  if (params.open_log) kst::StopLog();
  kst::RemoveTree(KorProcess::Get().WorkFolder(false));
  AutoRelease::EndLocalPool();
  AutoRelease::PrintLeakObject();
  AutoRelease::DestroyPool();
}

}  // namespace

int KorRunApplication(const std::string& command_line) {
  AutoRelease::InitPool();
  AutoRelease::StartLocalPool();
  KorStartParams params = ParseStartParams(command_line);
  KorProcess::Get().SetStartParams(params);
  PrepareFolders(params);
  StartLogging(params);
  if (!params.parsed) KLOG(WARNING) << "start parameters are not a JSON object; every parameter is zero";
  KorRegisterCrashReports(KorProcess::Get().LogFolder());
  // COM, sockets and graphics need no start-up on this platform.
  QuitEvent quit;
  KorWatchdog watchdog([&quit] { quit.Post(); });
  watchdog.Watch(params.pid);
  StartModulesAndLink(params);
  KLOG(INFO) << "running";
  quit.Wait();
  ShutDown(params);
  std::fflush(nullptr);
  return 0;
}
