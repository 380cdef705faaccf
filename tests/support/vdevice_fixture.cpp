#include "vdevice_fixture.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <thread>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace vdevice_test {

namespace {

constexpr int kStopGraceMs = 5000;
constexpr int kCtlTimeoutMs = 20000;

std::string FreshFolder() {
  static std::atomic<int> counter{0};
  std::random_device random;
  std::string folder = kst::TempFolder() + "vdt-" + std::to_string(kst::CurrentProcessId()) + "-" +
                       std::to_string(counter++) + "-" + std::to_string(random() % 100000);
  kst::CreateDirectories(folder);
  return folder;
}

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  std::stringstream path(kst::GetEnv("PATH"));
  std::string entry;
  while (std::getline(path, entry, ':')) {
    if (!entry.empty() && kst::PathExists(entry + "/" + program)) return entry + "/" + program;
  }
  return program;
}

std::string ReadText(const std::string& path) {
  std::string text;
  kst::ReadWholeFile(path, &text);
  return text;
}

}  // namespace

std::string VdeviceBinary() { return VDEVICE_BINARY; }

VdeviceFixture::VdeviceFixture() : folder_(FreshFolder()) {
  socket_address_ = "UNIX:" + folder_ + "/mux.sock";
  log_path_ = folder_ + "/serve.log";
}

VdeviceFixture::~VdeviceFixture() {
  // A server that does not stop cleanly (a leak or undefined behaviour reported by a sanitizer
  // build, a hang) shows its log in the test's output before the folder goes away.
  int code = Stop();
  if (code > 0) std::fprintf(stderr, "vdevice serve exited with %d; its log:\n%s\n", code, ServerLog().c_str());
  kst::RemoveTree(folder_);
}

std::string VdeviceFixture::MakeProfile(const std::string& kind, const std::string& name, const std::string& udid,
                                        const std::vector<std::string>& options) {
  std::string profile = folder_ + "/" + (name.empty() ? kind : name);
  std::vector<std::string> args{"profile", kind, profile};
  if (!udid.empty()) args.insert(args.end(), {"--udid", udid});
  args.insert(args.end(), options.begin(), options.end());
  ToolResult result = RunTool(VdeviceBinary(), args);
  return result.exit_code == 0 ? profile : std::string();
}

std::string VdeviceFixture::ProfileUdid(const std::string& profile) {
  rapidjson::Document document;
  document.Parse(ReadText(profile + "/device.json").c_str());
  if (document.HasParseError() || !document.IsObject() || !document.HasMember("udid") || !document["udid"].IsString()) {
    return std::string();
  }
  return document["udid"].GetString();
}

bool VdeviceFixture::EditJson(const std::string& path, const std::function<void(rapidjson::Document&)>& edit) {
  rapidjson::Document document;
  std::string text;
  if (!kst::ReadWholeFile(path, &text)) return false;
  document.Parse(text.c_str());
  if (document.HasParseError()) return false;
  edit(document);
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return kst::WriteWholeFile(path, std::string(buffer.GetString(), buffer.GetSize()));
}

bool VdeviceFixture::EditDeviceJson(const std::string& profile, const std::function<void(rapidjson::Document&)>& edit) {
  return EditJson(profile + "/device.json", edit);
}

bool VdeviceFixture::EditAtcScript(const std::string& profile, const std::function<void(rapidjson::Document&)>& edit) {
  return EditJson(profile + "/atc/script.json", edit);
}

bool VdeviceFixture::Start(const std::vector<std::string>& profiles, int timeout_ms) {
  if (running()) return false;
  kst::SpawnOptions options;
  options.arguments = {"serve", "--socket", socket_address_};
  if (verbose_) options.arguments.push_back("--verbose");
  for (const std::string& profile : profiles) options.arguments.insert(options.arguments.end(), {"--profile", profile});
  options.stderr_path = log_path_;
  pid_ = kst::SpawnProcess(VdeviceBinary(), options);
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!kst::IsProcessRunning(pid_)) {
      kst::WaitProcess(pid_, 1000);
      pid_ = -1;
      return false;
    }
    if (Ctl({"list"}) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return false;
}

int VdeviceFixture::Stop() {
  if (!running()) return -1;
  kst::KillProcess(pid_, false);
  int code = kst::WaitProcess(pid_, kStopGraceMs);
  if (code < 0) {
    kst::KillProcess(pid_, true);
    code = kst::WaitProcess(pid_, -1);
  }
  pid_ = -1;
  return code;
}

void VdeviceFixture::ExportSocketAddress() const { kst::SetEnv("USBMUXD_SOCKET_ADDRESS", socket_address_); }

std::string VdeviceFixture::ServerLog() const { return ReadText(log_path_); }

int VdeviceFixture::Ctl(const std::vector<std::string>& args, std::string* output) const {
  std::vector<std::string> full{"ctl", "--socket", socket_address_};
  full.insert(full.end(), args.begin(), args.end());
  ToolResult result = RunTool(VdeviceBinary(), full, kCtlTimeoutMs);
  if (output) *output = result.out + result.err;
  return result.exit_code;
}

bool VdeviceFixture::Fault(const std::string& udid, const std::string& service,
                           const std::vector<std::string>& kind_and_args) const {
  std::vector<std::string> args{"fault", udid, service};
  args.insert(args.end(), kind_and_args.begin(), kind_and_args.end());
  return Ctl(args) == 0;
}

ToolResult VdeviceFixture::RunTool(const std::string& program, const std::vector<std::string>& args,
                                   int timeout_ms) const {
  ToolResult result;
  std::string stem = folder_ + "/run" + std::to_string(run_counter_++);
  kst::SpawnOptions options;
  options.arguments = args;
  options.stdout_path = stem + ".out";
  options.stderr_path = stem + ".err";
  options.extra_env = {{"USBMUXD_SOCKET_ADDRESS", socket_address_},
                       {"HOME", folder_},
                       {"XDG_CONFIG_HOME", folder_ + "/config"}};
  int64_t pid = kst::SpawnProcess(FindOnPath(program), options);
  if (pid <= 0) return result;
  result.exit_code = kst::WaitProcess(pid, timeout_ms);
  if (result.exit_code < 0) {
    result.timed_out = true;
    kst::KillProcess(pid, true);
    result.exit_code = kst::WaitProcess(pid, -1);
  }
  result.out = ReadText(options.stdout_path);
  result.err = ReadText(options.stderr_path);
  return result;
}

}  // namespace vdevice_test
