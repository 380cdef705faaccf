// The start parameters: one JSON object given as the whole command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* kKorServerStartParamPort = "kKorServerStartParamPort";
constexpr const char* kKorServerStartParamPid = "kKorServerStartParamPid";
constexpr const char* kKorServerStartParamShowConsole = "kKorServerStartParamShowConsole";
constexpr const char* kKorServerStartParamTestSelf = "kKorServerStartParamTestSelf";
constexpr const char* kKorServerStartParamOpenLog = "kKorServerStartParamOpenLog";
constexpr const char* kKorServerStartParamVersion = "kKorServerStartParamVersion";
constexpr const char* kKorServerStartParamBrand = "kKorServerStartParamBrand";
constexpr const char* kKorServerStartParamProduct = "kKorServerStartParamProduct";
constexpr const char* kKorServerStartParamType = "kKorServerStartParamType";
constexpr const char* kKorServerStartParamTaskId = "kKorServerStartParamTaskId";
constexpr const char* kKorServerStartParamLoadModules = "kKorServerStartParamLoadModules";
// The file holding the secret an elevated instance presents to the process that started it.
constexpr const char* kKorServerStartParamSecretFile = "kKorServerStartParamSecretFile";

// Start types.
constexpr int32_t kKorStartTypeNormal = 0;
constexpr int32_t kKorStartTypeQuiet = 1;     // the device layer leaves out some notifications
constexpr int32_t kKorStartTypeElevated = 2;  // the elevated instance

struct KorStartParams {
  int32_t port = 0;
  int64_t pid = 0;
  bool show_console = false;
  bool test_self = false;
  bool open_log = false;
  std::string version;
  std::string brand;
  std::string product;
  int32_t type = 0;
  std::string task_id;
  std::vector<std::string> load_modules;
  std::string secret_file;
  bool parsed = false;  // false when the text was not a JSON object
};

// Absent or mistyped keys keep their zero value; text that is not JSON leaves everything zero.
KorStartParams ParseStartParams(const std::string& text);
// The TaskId text as a 64-bit decimal number (0 when it is not one).
uint64_t StartTaskIdNumber(const KorStartParams& params);
