// Auto-release pools: objects registered with a source position are tracked per thread-local
// pool, so that a pool that ends with objects still registered can report them as leaks.
#pragma once

#include <cstddef>
#include <string>

class AutoRelease {
 public:
  static void InitPool();
  static void StartLocalPool();
  static void EndLocalPool();
  // Writes the objects still registered anywhere to the log; returns their number.
  static size_t PrintLeakObject();
  static void DestroyPool();

  static void AddObject(const void* object, const char* file, int line);
  static void AddPoolObject(const void* object, const char* file, int line);
  static void RemovePoolObject(const void* object);

  // A local pool for the current scope.
  class LocalPool {
   public:
    LocalPool() { StartLocalPool(); }
    ~LocalPool() { EndLocalPool(); }
    LocalPool(const LocalPool&) = delete;
    LocalPool& operator=(const LocalPool&) = delete;
  };

  // An auto-release scope: objects added inside it are released from tracking when it ends.
  AutoRelease();
  ~AutoRelease();
  AutoRelease(const AutoRelease&) = delete;
  AutoRelease& operator=(const AutoRelease&) = delete;

 private:
  size_t mark_;
};
