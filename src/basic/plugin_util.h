// Plug-in libraries and the in-process event bus they share with the host: loading a plug-in
// folder, the plug-in table, the event subscription table and publishing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "basic/kst_plugin_abi.h"

struct KSTPluginRecord {
  int32_t type = 0;
  std::string library_path;
  std::string id;
  std::string version;
  std::vector<std::string> command_recv;
  std::vector<std::string> command_send;
  std::vector<std::string> require;
  std::vector<std::string> optional;
  int32_t width = 0;
  int32_t height = 0;
  std::string command_create;
};

// The host's own entry in the plug-in table.
constexpr const char* kKSTHostPluginName = "Tandrel";
constexpr int32_t kKSTHostPluginType = 2;

class KSTPluginBus {
 public:
  static KSTPluginBus& Get();

  // Loads the best installed version of the plug-in in `folder`; nothing when the name is
  // already loaded or no version loads.
  std::optional<KSTPluginRecord> LoadPlugin(const std::string& folder);
  // Enters the host's record and subscribes `receive` to "LIBMODEL_PLUGIN_COMMAND_RECEIVE".
  void RegisterHost(KSTReceiveFunction receive);
  // Appends a handler to an event's subscriber list.
  void Subscribe(const std::string& event, const KSTHandlerRecord& handler);
  // The last called receive function's result, or 0 (also when the sender is 0).
  int Publish(KSTObserveData* event);
  // True when publishing `event` from `sender` would reach at least one receive function.
  bool HasReceivers(const std::string& event, uintptr_t sender);
  // The function plug-ins are given to publish with.
  static int PublishFunction(KSTObserveData* event);

  uintptr_t HostIdentity() const;
  std::optional<KSTPluginRecord> FindPlugin(const std::string& name);

 private:
  KSTPluginBus() = default;
  bool TryCandidate(const std::string& name, const std::string& version_folder);
  void Enter(const std::string& name, KSTPluginRecord record, KSTHandlerRecord* handler);
  bool HandlerAt(const std::string& event, size_t index, KSTHandlerRecord* out);

  std::mutex mutex_;  // the plug-in lock
  std::map<std::string, KSTPluginRecord> plugins_;
  // Handler records stay where they are: plug-ins keep pointers to theirs.
  std::vector<std::unique_ptr<KSTHandlerRecord>> handlers_;
  std::map<std::string, std::vector<KSTHandlerRecord*>> subscribers_;
};

// Candidate version folders in the order they are tried: the first found starts the list; a later
// one whose version compares greater than or equal to the best so far goes to the front.
std::vector<std::string> KSTOrderPluginVersions(const std::vector<std::string>& versions_in_found_order);
