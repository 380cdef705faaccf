#include "connect_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace connect_test {

namespace fs = std::filesystem;

const std::vector<std::string> kPackages = {"x64/AppleApplicationSupport.msi", "x64/AppleApplicationSupport64.msi",
                                            "x64/AppleMobileDeviceSupport64.msi"};

PackageServer::PackageServer(std::vector<std::string> slow) {
  fs::create_directories(folder_.Path() + "/root/x64");
  kst::SpawnOptions options;
  options.arguments = {std::string(TANDREL_SOURCE_DIR) + "/tests/connect/driver_server.py", folder_.Path() + "/root",
                       folder_.Path() + "/port", folder_.Path() + "/requests"};
  for (const std::string& name : slow) {
    options.arguments.push_back("--slow");
    options.arguments.push_back(name);
  }
  pid_ = kst::SpawnProcess("/usr/bin/python3", options);
  for (int i = 0; i < 500 && pid_ > 0; ++i) {
    std::string text;
    if (kst::ReadWholeFile(folder_.Path() + "/port", &text) && !text.empty()) {
      port_ = std::stoi(text);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

PackageServer::~PackageServer() {
  if (pid_ <= 0) return;
  kst::KillProcess(pid_, true);
  kst::WaitProcess(pid_, 5000);
}

void PackageServer::Put(const std::string& relative, const std::string& content) {
  kst::WriteWholeFile(folder_.Path() + "/root/" + relative, content);
}

void PackageServer::Remove(const std::string& relative) {
  std::error_code error;
  fs::remove(folder_.Path() + "/root/" + relative, error);
}

std::vector<std::string> PackageServer::Requests() const {
  std::vector<std::string> lines;
  std::ifstream file(folder_.Path() + "/requests");
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> LogLines(const std::string& folder) {
  std::vector<std::string> lines;
  std::error_code error;
  for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    if (it->path().filename().string().find(".log.INFO.") == std::string::npos) continue;
    std::ifstream file(it->path());
    for (std::string line; std::getline(file, line);) lines.push_back(line);
  }
  return lines;
}

}  // namespace connect_test
