// A small file-backed registry: keys holding typed values in a fixed enumeration order, read
// with the same rules as the system registry (value types, byte lengths, buffer sizes).
//
// The file is JSON: {"KEY\\PATH": [{"name": "...", "type": "REG_SZ"|"REG_EXPAND_SZ"|"REG_DWORD",
//                                   "data": "text" | number, "bytes": "hex"}], ...}
// String data is stored as UTF-16LE with a terminating zero, as the system registry keeps it;
// "bytes" gives the raw data instead (to describe values exactly, malformed ones included).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kst {

enum RegistryValueType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

// Result codes of the query functions, as the system registry numbers them.
constexpr int kRegSuccess = 0;
constexpr int kRegFileNotFound = 2;
constexpr int kRegMoreData = 234;
constexpr int kRegNoMoreItems = 259;

struct RegistryValue {
  std::string name;
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

class KstRegistry {
 public:
  // The machine registry: the file named by $TANDREL_REGISTRY, else the first that exists of
  // <program folder>/../etc/tandrel/registry.json and /etc/tandrel/registry.json.
  static const KstRegistry& Machine();
  static std::string MachineFilePath();

  bool LoadFile(const std::string& path, std::string* error = nullptr);
  bool LoadText(const std::string& text, std::string* error = nullptr);

  bool HasKey(const std::string& key) const;
  // The name of the value at `index` (enumeration order); kRegNoMoreItems past the end,
  // kRegMoreData when the name with its terminator does not fit `max_chars`.
  int EnumValueName(const std::string& key, uint32_t index, size_t max_chars, std::string* name) const;
  // Copies a value's data into `buffer`; on kRegMoreData `*size` tells the size needed.
  int QueryValue(const std::string& key, const std::string& name, uint32_t* type, uint8_t* buffer,
                 uint32_t* size) const;

 private:
  std::map<std::string, std::vector<RegistryValue>> keys_;
};

// A string value read as the device framework loader reads it: only REG_SZ or REG_EXPAND_SZ
// (used without expansion), an even byte length, a terminating zero inside the data, and at
// most `buffer_bytes` bytes. Returns the text in UTF-8, or false.
bool ReadRegistryString(const KstRegistry& registry, const std::string& key, const std::string& name,
                        uint32_t buffer_bytes, std::string* text);

// UTF-16LE bytes with a terminating zero for `text` (UTF-8).
std::vector<uint8_t> RegistryStringBytes(const std::string& text);

}  // namespace kst
