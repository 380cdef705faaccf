// Process-wide state of the host: its start parameters, folders and the quit flag.
#pragma once

#include <string>

#include "Tandrel/kor_start_params.h"

class KorProcess {
 public:
  static KorProcess& Get();

  // Set once during start-up; read-only afterwards.
  void SetStartParams(const KorStartParams& params) { params_ = params; }
  const KorStartParams& StartParams() const { return params_; }

  void SetFolders(const std::string& log_folder, const std::string& work_folder);
  const std::string& LogFolder() const { return log_folder_; }
  // The per-process scratch folder (ends with "/"); created on first request.
  std::string WorkFolder(bool create = true) const;

  bool Quitting() const;
  void SetQuitting();

 private:
  KorProcess() = default;
  KorStartParams params_;
  std::string log_folder_;
  std::string work_folder_;
};

// Log folder: the temporary folder + brand + "/" + the start date "%Y%m%d".
std::string BuildLogFolder(const std::string& temp_folder, const std::string& brand, const std::string& date);
// Work folder: log folder + "/" + program file name + "-" + process ID + "/".
std::string BuildWorkFolder(const std::string& log_folder, const std::string& program, long long pid);
