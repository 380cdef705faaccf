// Shared libraries loaded at run time.
#pragma once

#include <string>

namespace kst {

class KstLibrary {
 public:
  KstLibrary() = default;
  ~KstLibrary() { Free(); }
  KstLibrary(const KstLibrary&) = delete;
  KstLibrary& operator=(const KstLibrary&) = delete;

  // Loads a library by full path or by name (searched in the added folders first). A loaded
  // library stays in the process after Free.
  bool Load(const std::string& path_or_name);
  void Free();
  bool Loaded() const { return handle_ != nullptr; }
  // The address of an exported function or data symbol, or null.
  void* Symbol(const char* name) const;
  const std::string& LastError() const { return last_error_; }

  // Folders searched for libraries loaded by name, before the system's own search.
  static void AddSearchFolder(const std::string& folder);

 private:
  void* handle_ = nullptr;
  std::string last_error_;
};

}  // namespace kst
