// What the device-support set-up tests share: a package server and reading Tandrel's log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tandrel_harness.h"

namespace connect_test {

// The three packages in download order, relative to the base URL.
extern const std::vector<std::string> kPackages;

// python3 driver_server.py on a folder of its own; stopped with the object.
class PackageServer {
 public:
  explicit PackageServer(std::vector<std::string> slow = {});
  ~PackageServer();
  bool Started() const { return port_ > 0; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Puts a file under the served folder ("x64/A.msi").
  void Put(const std::string& relative, const std::string& content);
  void Remove(const std::string& relative);
  // The "METHOD PATH" lines of the requests so far.
  std::vector<std::string> Requests() const;

 private:
  harness::TempFolder folder_;
  int64_t pid_ = -1;
  int port_ = 0;
};

// Every line of Tandrel's INFO log files in `folder` (its elevated instance's too).
std::vector<std::string> LogLines(const std::string& folder);

}  // namespace connect_test
