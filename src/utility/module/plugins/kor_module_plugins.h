// Command 1800: hands a front-end request to the plug-ins as an event on the bus. The module also
// owns the table of platform functions that plug-ins call through
// "LIBMODEL_PLUGIN_COMMAND_RECEIVE".
#pragma once

#include <functional>
#include <map>
#include <string>

#include "basic/kst_plugin_abi.h"
#include "utility/kor_module.h"

constexpr uint32_t kKorCommandPlugin = 1800;

class KorModulePlugins : public KorModule {
 public:
  using PlatformFunction = std::function<int(KSTObserveData*)>;
  using PlatformTable = std::map<std::string, PlatformFunction>;

  int OnCommand(kst::IPCPacket* packet) override;

  // Filled once at start-up, read afterwards.
  void SetPlatformFunctions(PlatformTable table) { platform_functions_ = std::move(table); }
  // The host's receive function on the bus: runs the platform function an event names.
  static int HostDispatcher(KSTObserveData* event);

 private:
  int Dispatch(KSTObserveData* event);
  PlatformTable platform_functions_;
};

// Registers the host on the bus with the dispatcher of `module`.
void KorRegisterPluginHost(KorModulePlugins* module);
