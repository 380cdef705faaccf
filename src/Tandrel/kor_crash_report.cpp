#include "Tandrel/kor_crash_report.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "Tandrel/kor_process.h"
#include "platform/kst_dbg_report.h"
#include "platform/kst_log.h"
#include "platform/kst_utility_sys.h"
#include "platform/vel_json_util.h"

namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};

// The kernel release ("6.1.0-18-amd64") read as major.minor.build.
bool ReadKernelRelease(unsigned* major, unsigned* minor, unsigned* build) {
  utsname names{};
  if (uname(&names) != 0) return false;
  *build = 0;
  return std::sscanf(names.release, "%u.%u.%u", major, minor, build) >= 2;
}

std::string CrashJson() {
  const KorStartParams& params = KorProcess::Get().StartParams();
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "Product", params.product);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "Version", params.version);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "System", KorSystemVersionText());
  return VelJsonUtil::ToString(json);
}

bool NameHasZip(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name.find(".zip") != std::string::npos;
}

}  // namespace

std::string KorSystemVersionText() {
  unsigned major = 0, minor = 0, build = 0;
  if (!ReadKernelRelease(&major, &minor, &build)) return std::string();
  return std::to_string(major) + "." + std::to_string(minor) + " Build " + std::to_string(build) +
         " Service Pack 0.0";
}

std::string KorCrashDumpPath(const std::string& log_folder, const std::string& time_text) {
  return log_folder + "/" + time_text + ".dmp";
}

void KorRegisterCrashReports(const std::string& log_folder) {
  std::string path = KorCrashDumpPath(log_folder, KSTUtilitySys::NowText("%Y%m%d%H%M%S"));
  KSTDbgReport::RegisterCrashFilter(path, KorCleanCrashFolder, KorWriteCrashReport);
}

char* KorWriteCrashReport(const char* folder) {
  std::string path = std::string(folder) + "Crash.json";
  {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (file) {
      std::string text = CrashJson();
      std::fwrite(text.data(), 1, text.size(), file.get());
    }
  }
  kst::StopLog();
  return strdup(path.c_str());
}

void KorCleanCrashFolder(const char* dump_path) {
  fs::path folder = fs::path(dump_path).parent_path();
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) return;
  for (const auto& entry : entries) {
    if (NameHasZip(entry.path().filename().string())) continue;
    std::error_code ignored;
    if (!entry.is_directory(ignored)) fs::remove(entry.path(), ignored);
  }
}
