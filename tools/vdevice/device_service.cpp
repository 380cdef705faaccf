#include "device_service.h"

#include <map>

namespace vdevice {

namespace {

// Filled by static initialisers before main runs, read-only afterwards.
std::map<std::string, ServiceFactory>& Factories() {
  static std::map<std::string, ServiceFactory> factories;
  return factories;
}

}  // namespace

bool ServiceRegistry::Register(const std::string& name, ServiceFactory factory) {
  return Factories().emplace(name, std::move(factory)).second;
}

const ServiceFactory* ServiceRegistry::Find(const std::string& name) {
  auto found = Factories().find(name);
  return found == Factories().end() ? nullptr : &found->second;
}

std::vector<std::string> ServiceRegistry::Names() {
  std::vector<std::string> names;
  for (const auto& entry : Factories()) names.push_back(entry.first);
  return names;
}

}  // namespace vdevice
