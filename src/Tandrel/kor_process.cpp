#include "Tandrel/kor_process.h"

#include <atomic>

#include "platform/kst_fs.h"

namespace {

std::atomic<bool> g_quitting{false};

}  // namespace

KorProcess& KorProcess::Get() {
  static KorProcess* process = new KorProcess();
  return *process;
}

void KorProcess::SetFolders(const std::string& log_folder, const std::string& work_folder) {
  log_folder_ = log_folder;
  work_folder_ = work_folder;
}

std::string KorProcess::WorkFolder(bool create) const {
  if (create && !work_folder_.empty()) kst::CreateDirectories(work_folder_);
  return work_folder_;
}

bool KorProcess::Quitting() const { return g_quitting.load(); }

void KorProcess::SetQuitting() { g_quitting.store(true); }

std::string BuildLogFolder(const std::string& temp_folder, const std::string& brand, const std::string& date) {
  return temp_folder + brand + "/" + date;
}

std::string BuildWorkFolder(const std::string& log_folder, const std::string& program, long long pid) {
  return log_folder + "/" + program + "-" + std::to_string(pid) + "/";
}
