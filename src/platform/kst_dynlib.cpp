#include "platform/kst_dynlib.h"

#include <dlfcn.h>

#include <mutex>
#include <vector>

#include "platform/kst_fs.h"

namespace kst {

namespace {

std::mutex& SearchMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::string>& SearchFolders() {
  static std::vector<std::string> folders;
  return folders;
}

std::string FindInSearchFolders(const std::string& name) {
  std::lock_guard<std::mutex> lock(SearchMutex());
  for (const std::string& folder : SearchFolders()) {
    std::string candidate = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + name;
    if (PathExists(candidate)) return candidate;
  }
  return name;
}

}  // namespace

void KstLibrary::AddSearchFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(SearchMutex());
  for (const std::string& known : SearchFolders()) {
    if (known == folder) return;
  }
  SearchFolders().push_back(folder);
}

bool KstLibrary::Load(const std::string& path_or_name) {
  Free();
  std::string target =
      path_or_name.find('/') == std::string::npos ? FindInSearchFolders(path_or_name) : path_or_name;
  // Freeing a handle never unloads the code: a library's own threads and objects may outlive
  // the handle (a device framework's event threads, objects it handed out).
  handle_ = ::dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* text = ::dlerror();
    last_error_ = text ? text : "dlopen failed";
  }
  return handle_ != nullptr;
}

void KstLibrary::Free() {
  if (handle_) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

void* KstLibrary::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  return ::dlsym(handle_, name);
}

}  // namespace kst
