// Runs the simulated iPhone (`vdevice serve`) for a test: generates profiles into a fresh temp
// folder, lets the test edit them, serves them on a private usbmuxd socket, drives the control
// channel, runs libimobiledevice tools against it, and stops and cleans up when it goes away.
//
//   vdevice_test::VdeviceFixture vd;
//   std::string demo = vd.MakeProfile("demo");
//   ASSERT_TRUE(vd.Start({demo}));
//   vd.ExportSocketAddress();                 // this process's libimobiledevice calls reach it
//   auto info = vd.RunTool("ideviceinfo", {"-k", "ProductVersion"});
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vdevice_test {

struct ToolResult {
  int exit_code = -1;  // 128 + signal when killed; -1 when it could not start
  bool timed_out = false;
  std::string out;
  std::string err;
};

// The vdevice program this library was built with.
std::string VdeviceBinary();

class VdeviceFixture {
 public:
  VdeviceFixture();
  ~VdeviceFixture();
  VdeviceFixture(const VdeviceFixture&) = delete;
  VdeviceFixture& operator=(const VdeviceFixture&) = delete;

  // The temp folder that holds this fixture's profiles, sockets and logs.
  const std::string& folder() const { return folder_; }

  // Generates a profile of `kind` (demo, iphone-ios4, ipad-ios4, untrusted, locked, network,
  // jailbroken) into folder()/name (name defaults to the kind). Returns the profile folder,
  // or "" on failure. A udid other than the kind's own lets one kind be attached twice.
  // `options` are further `vdevice profile` options, e.g. {"--version", "14.0", "--assets", "1250"}.
  std::string MakeProfile(const std::string& kind, const std::string& name = "", const std::string& udid = "",
                          const std::vector<std::string>& options = {});
  static std::string ProfileUdid(const std::string& profile);
  // Rewrites a JSON file through `edit`; false when it cannot be read or written.
  static bool EditJson(const std::string& path, const std::function<void(rapidjson::Document&)>& edit);
  static bool EditDeviceJson(const std::string& profile, const std::function<void(rapidjson::Document&)>& edit);
  static bool EditAtcScript(const std::string& profile, const std::function<void(rapidjson::Document&)>& edit);

  // Whether the server logs every request (the default, for diagnosing failed tests); takes effect
  // at the next Start. Benchmarks turn it off, since no real device writes such a log.
  void SetVerbose(bool verbose) { verbose_ = verbose; }
  // Starts the server with these profiles on a fresh UNIX socket and waits until it answers.
  bool Start(const std::vector<std::string>& profiles, int timeout_ms = 15000);
  // Stops it (SIGTERM, SIGKILL after a grace period). Returns its exit code (0 after a clean
  // stop), or -1 if it was not running.
  int Stop();
  bool running() const { return pid_ > 0; }
  int64_t pid() const { return pid_; }
  // "UNIX:/.../mux.sock": the value for USBMUXD_SOCKET_ADDRESS.
  const std::string& socket_address() const { return socket_address_; }
  void ExportSocketAddress() const;
  // What the server wrote to stderr so far (one line per event).
  std::string ServerLog() const;

  // `vdevice ctl`: returns its exit code (0 on success); its output goes to *output.
  int Ctl(const std::vector<std::string>& args, std::string* output = nullptr) const;
  bool Attach(const std::string& profile) const { return Ctl({"attach", profile}) == 0; }
  bool Detach(const std::string& udid) const { return Ctl({"detach", udid}) == 0; }
  bool Trust(const std::string& udid, const std::string& state) const { return Ctl({"trust", udid, state}) == 0; }
  bool Lock(const std::string& udid, bool locked) const { return Ctl({"lock", udid, locked ? "on" : "off"}) == 0; }
  // fault UDID SERVICE KIND ARGS..., e.g. Fault(udid, "com.apple.afc", {"drop", "100"}).
  bool Fault(const std::string& udid, const std::string& service, const std::vector<std::string>& kind_and_args) const;

  // Runs a program (found on PATH unless it has a "/") with USBMUXD_SOCKET_ADDRESS set to this
  // server and HOME inside folder(), so nothing of the machine's own state is used or changed.
  ToolResult RunTool(const std::string& program, const std::vector<std::string>& args, int timeout_ms = 30000) const;

 private:
  std::string folder_;
  std::string socket_address_;
  std::string log_path_;
  int64_t pid_ = -1;
  bool verbose_ = true;
  mutable int run_counter_ = 0;
};

}  // namespace vdevice_test
