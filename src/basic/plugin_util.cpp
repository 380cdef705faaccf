#include "basic/plugin_util.h"

#include <dlfcn.h>

#include <algorithm>
#include <deque>
#include <filesystem>

#include "basic/plugin_load_file.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/kst_utility_string.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kCommandReceiveEvent = "LIBMODEL_PLUGIN_COMMAND_RECEIVE";
constexpr const char* kLogSource = "src/basic/plugin_util";

std::string LastComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Sub-folders holding "plugin.load", in the order the folder lists them.
std::vector<std::string> InstalledVersions(const std::string& folder) {
  std::vector<std::string> versions;
  std::error_code error;
  for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    if (!it->is_directory(ignored)) continue;
    if (fs::is_regular_file(it->path() / "plugin.load", ignored)) versions.push_back(it->path().filename().string());
  }
  return versions;
}

bool ReadPluginLoad(const std::string& version_folder, KSTPluginLoad* out) {
  std::string text;
  std::string file = version_folder + "/plugin.load";
  std::error_code error;
  auto size = fs::file_size(file, error);
  if (error || size > kKSTMaxPluginLoadSize || !kst::ReadWholeFile(file, &text)) {
    KLOG(ERROR) << kLogSource << ": cannot read " << file;
    return false;
  }
  auto load = ParsePluginLoad(text);
  if (!load) {
    KLOG(ERROR) << kLogSource << ": " << file << " does not parse";
    return false;
  }
  *out = std::move(*load);
  return true;
}

std::string LibraryPath(const std::string& version_folder, const KSTPluginLoad& load) {
  std::string path = version_folder + "/";
  if (!load.x64.empty()) path += load.x64 + "/";
  path += load.path;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

std::vector<std::string> KSTOrderPluginVersions(const std::vector<std::string>& versions_in_found_order) {
  std::deque<std::string> order;
  std::string best;
  for (const std::string& version : versions_in_found_order) {
    if (order.empty() || KSTUtilityString::CompareVersion(version.c_str(), best.c_str()) >= 0) {
      order.push_front(version);
      best = version;
    } else {
      order.push_back(version);
    }
  }
  return std::vector<std::string>(order.begin(), order.end());
}

KSTPluginBus& KSTPluginBus::Get() {
  static KSTPluginBus* bus = new KSTPluginBus();  // plug-ins may publish until the process ends
  return *bus;
}

uintptr_t KSTPluginBus::HostIdentity() const {
  static void* host = dlopen(nullptr, RTLD_NOW);
  return reinterpret_cast<uintptr_t>(host);
}

std::optional<KSTPluginRecord> KSTPluginBus::LoadPlugin(const std::string& folder) {
  std::string name = LastComponent(folder);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (plugins_.count(name)) {
      KLOG(WARNING) << kLogSource << ": plug-in " << name << " is already loaded";
      return std::nullopt;
    }
  }
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  for (const std::string& version : KSTOrderPluginVersions(InstalledVersions(base))) {
    if (TryCandidate(name, base + "/" + version)) return FindPlugin(name);
  }
  KLOG(ERROR) << kLogSource << ": no version of plug-in " << folder << " loads";
  return std::nullopt;
}

bool KSTPluginBus::TryCandidate(const std::string& name, const std::string& version_folder) {
  KSTPluginLoad load;
  if (!ReadPluginLoad(version_folder, &load)) return false;
  std::string library = LibraryPath(version_folder, load);
  std::error_code error;
  if (!fs::is_regular_file(library, error)) return false;
  // Local binding keeps one plug-in's symbols from answering another's; the library's own folder
  // is found through its RUNPATH ($ORIGIN), the counterpart of a per-load search folder.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    KLOG(ERROR) << kLogSource << ": " << dlerror();
    return false;
  }
  auto register_module = reinterpret_cast<KSTRegisterModuleFunction>(dlsym(handle, "RegisterModule"));
  if (!register_module) {
    KLOG(ERROR) << kLogSource << ": " << library << " has no RegisterModule";
    return false;
  }
  KSTPluginRecord record;
  record.type = load.type;
  record.version = load.version;
  record.id = load.id;
  record.library_path = library;
  auto handler = std::make_unique<KSTHandlerRecord>();
  handler->publish = &KSTPluginBus::PublishFunction;
  handler->identity = reinterpret_cast<uintptr_t>(handle);
  register_module(handler.get());
  record.command_recv = load.command_recv;
  record.command_send = load.command_send;
  record.require = load.require;
  record.optional = load.optional;
  record.width = load.width;
  record.height = load.height;
  record.command_create = load.command_create;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& event : record.command_recv) subscribers_[event].push_back(handler.get());
  handlers_.push_back(std::move(handler));
  plugins_.emplace(name, std::move(record));
  return true;
}

void KSTPluginBus::RegisterHost(KSTReceiveFunction receive) {
  KSTHandlerRecord host{&KSTPluginBus::PublishFunction, receive, HostIdentity(), nullptr};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (plugins_.count(kKSTHostPluginName)) return;
    KSTPluginRecord record;
    record.type = kKSTHostPluginType;
    record.command_recv = {kCommandReceiveEvent};
    plugins_.emplace(kKSTHostPluginName, std::move(record));
  }
  Subscribe(kCommandReceiveEvent, host);
}

void KSTPluginBus::Subscribe(const std::string& event, const KSTHandlerRecord& handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_.push_back(std::make_unique<KSTHandlerRecord>(handler));
  subscribers_[event].push_back(handlers_.back().get());
}

bool KSTPluginBus::HandlerAt(const std::string& event, size_t index, KSTHandlerRecord* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto list = subscribers_.find(event);
  if (list == subscribers_.end() || index >= list->second.size()) return false;
  *out = *list->second[index];
  return true;
}

int KSTPluginBus::Publish(KSTObserveData* event) {
  if (!event || event->sender == 0 || !event->event_name) return 0;
  std::string name = event->event_name;
  int result = 0;
  KSTHandlerRecord handler{};
  // The lock is not held while a receive function runs, so that it may publish in turn.
  for (size_t index = 0; HandlerAt(name, index, &handler); ++index) {
    if (!handler.receive) continue;
    if (event->target != 0) {
      if (handler.identity != event->target) continue;
      return handler.receive(event);
    }
    if (handler.identity != event->sender) result = handler.receive(event);
  }
  return result;
}

bool KSTPluginBus::HasReceivers(const std::string& event, uintptr_t sender) {
  KSTHandlerRecord handler{};
  for (size_t index = 0; HandlerAt(event, index, &handler); ++index) {
    if (handler.receive && handler.identity != sender) return true;
  }
  return false;
}

int KSTPluginBus::PublishFunction(KSTObserveData* event) { return Get().Publish(event); }

std::optional<KSTPluginRecord> KSTPluginBus::FindPlugin(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = plugins_.find(name);
  if (found == plugins_.end()) return std::nullopt;
  return found->second;
}
