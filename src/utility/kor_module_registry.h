// The module registry: command number → the module that handles it. Filled once at start-up;
// lookups made while it is being filled wait until it is complete.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class KorModule;

class KorModuleRegistry {
 public:
  static KorModuleRegistry& Get();

  // Registers every built-in module (once) and marks the registry complete.
  void RegisterBuiltInModules();
  void Register(uint32_t command, KorModule* module);
  void MarkComplete();
  // The module for a command number, or null.
  KorModule* Find(uint32_t command);
  template <typename T>
  T* FindModule() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& module : owned_) {
      if (auto* typed = dynamic_cast<T*>(module.get())) return typed;
    }
    return nullptr;
  }

 private:
  KorModuleRegistry() = default;
  KorModule* Adopt(std::unique_ptr<KorModule> module);

  std::mutex mutex_;
  std::condition_variable complete_signal_;
  bool complete_ = false;
  bool filling_started_ = false;
  std::map<uint32_t, KorModule*> modules_;
  std::vector<std::unique_ptr<KorModule>> owned_;
};
