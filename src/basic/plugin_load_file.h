// "plugin.load": the description of one installed plug-in version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct KSTPluginLoad {
  std::string path;   // file name of the library
  std::string x64;    // sub-folder of the 64-bit library
  std::string win32;  // present in the file, not used here
  int32_t type = 0;
  std::string version;
  std::string id;
  std::vector<std::string> command_recv;
  std::vector<std::string> command_send;
  std::vector<std::string> require;
  std::vector<std::string> optional;
  int32_t width = 0;
  int32_t height = 0;
  std::string command_create;
};

// Larger files are not read: a description is a few hundred bytes.
constexpr size_t kKSTMaxPluginLoadSize = 64 * 1024;

// Parses the text; nothing when it is not a JSON object, lacks "path", or names a library or
// sub-folder that would leave the version folder. Mistyped optional members keep their zero.
std::optional<KSTPluginLoad> ParsePluginLoad(const std::string& text);
