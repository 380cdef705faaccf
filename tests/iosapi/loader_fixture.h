// Registries that point the framework loader at libraries of the build tree.
#pragma once

#include <string>

#include "platform/kst_registry.h"

inline std::string LibraryPath(const std::string& name) { return std::string(TANDREL_LIB_DIR) + "/" + name; }

// A registry text with the host library and the given MobileDevice value(s), in order.
inline std::string RegistryText(const std::string& values_json) {
  return std::string(R"({"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared": [)") +
         R"({"name":"AirTrafficHostDLL","type":"REG_SZ","data":")" + LibraryPath("libAirTrafficHost.so") + "\"}" +
         (values_json.empty() ? "" : ",") + values_json + "]}";
}

inline std::string StringValue(const std::string& name, const std::string& path) {
  return R"({"name":")" + name + R"(","type":"REG_SZ","data":")" + path + "\"}";
}
