#include "platform/auto_release.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/kst_log.h"

namespace {

struct TrackedObject {
  const void* object;
  std::string position;
};

// Process-wide registrations (AddPoolObject), guarded by one mutex.
std::mutex g_pool_mutex;
std::map<const void*, std::string> g_pool_objects;
bool g_pool_ready = false;

// Per-thread stack of local pools; each local pool is a list of registrations.
thread_local std::vector<std::vector<TrackedObject>> t_local_pools;

std::string Position(const char* file, int line) {
  return std::string(file ? file : "?") + ":" + std::to_string(line);
}

}  // namespace

void AutoRelease::InitPool() {
  std::lock_guard<std::mutex> lock(g_pool_mutex);
  g_pool_ready = true;
}

void AutoRelease::StartLocalPool() { t_local_pools.emplace_back(); }

void AutoRelease::EndLocalPool() {
  if (t_local_pools.empty()) return;
  for (const TrackedObject& tracked : t_local_pools.back()) {
    KLOG(WARNING) << "AutoRelease: object " << tracked.object << " from " << tracked.position
                  << " still registered when its local pool ended";
  }
  t_local_pools.pop_back();
}

size_t AutoRelease::PrintLeakObject() {
  std::lock_guard<std::mutex> lock(g_pool_mutex);
  for (const auto& [object, position] : g_pool_objects) {
    KLOG(WARNING) << "AutoRelease leak: " << object << " from " << position;
  }
  return g_pool_objects.size();
}

void AutoRelease::DestroyPool() {
  std::lock_guard<std::mutex> lock(g_pool_mutex);
  g_pool_objects.clear();
  g_pool_ready = false;
}

void AutoRelease::AddObject(const void* object, const char* file, int line) {
  if (t_local_pools.empty()) {
    AddPoolObject(object, file, line);
    return;
  }
  t_local_pools.back().push_back(TrackedObject{object, Position(file, line)});
}

void AutoRelease::AddPoolObject(const void* object, const char* file, int line) {
  std::lock_guard<std::mutex> lock(g_pool_mutex);
  g_pool_objects[object] = Position(file, line);
}

void AutoRelease::RemovePoolObject(const void* object) {
  for (auto& pool : t_local_pools) {
    for (auto it = pool.begin(); it != pool.end(); ++it) {
      if (it->object == object) {
        pool.erase(it);
        return;
      }
    }
  }
  std::lock_guard<std::mutex> lock(g_pool_mutex);
  g_pool_objects.erase(object);
}

AutoRelease::AutoRelease() {
  if (t_local_pools.empty()) t_local_pools.emplace_back();
  mark_ = t_local_pools.back().size();
}

AutoRelease::~AutoRelease() {
  if (t_local_pools.empty()) return;
  auto& pool = t_local_pools.back();
  if (pool.size() > mark_) pool.resize(mark_);
}
