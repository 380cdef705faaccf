#include "platform/kst_registry.h"

#include <rapidjson/document.h>

#include <cstring>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "platform/kst_utility_string.h"
#include "platform/vel_json_util.h"

namespace kst {

namespace {

bool ParseHex(const std::string& hex, std::vector<uint8_t>* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    std::string pair = hex.substr(i, 2);
    long value = std::strtol(pair.c_str(), &end, 16);
    if (*end != '\0') return false;
    out->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

uint32_t TypeFromName(const std::string& name) {
  if (name == "REG_SZ") return kRegSz;
  if (name == "REG_EXPAND_SZ") return kRegExpandSz;
  if (name == "REG_DWORD") return kRegDword;
  if (name == "REG_BINARY") return kRegBinary;
  return kRegNone;
}

bool ParseValue(const rapidjson::Value& entry, RegistryValue* value) {
  std::string type_name;
  if (!VelJsonUtil::GetString(entry, "name", &value->name) || !VelJsonUtil::GetString(entry, "type", &type_name)) {
    return false;
  }
  value->type = TypeFromName(type_name);
  std::string hex;
  if (VelJsonUtil::GetString(entry, "bytes", &hex)) return ParseHex(hex, &value->data);
  auto data = entry.FindMember("data");
  if (data == entry.MemberEnd()) return true;
  if (data->value.IsString()) {
    value->data = RegistryStringBytes(std::string(data->value.GetString(), data->value.GetStringLength()));
  } else if (data->value.IsUint()) {
    uint32_t number = data->value.GetUint();
    value->data.resize(4);
    std::memcpy(value->data.data(), &number, 4);
  } else {
    return false;
  }
  return true;
}

std::u16string Utf16FromBytes(const uint8_t* bytes, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return text;
}

std::string Utf8FromUtf16(const std::u16string& text) {
  std::wstring wide;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    wide.push_back(static_cast<wchar_t>(c));
  }
  return KSTUtilityString::WideToUtf8(wide);
}

}  // namespace

std::vector<uint8_t> RegistryStringBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (wchar_t c : KSTUtilityString::Utf8ToWide(text)) {
    auto put = [&bytes](char16_t unit) {
      bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
      bytes.push_back(static_cast<uint8_t>(unit >> 8));
    };
    char32_t code = static_cast<char32_t>(c);
    if (code >= 0x10000) {
      code -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (code >> 10)));
      put(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      put(static_cast<char16_t>(code));
    }
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::string KstRegistry::MachineFilePath() {
  std::string named = GetEnv("TANDREL_REGISTRY");
  if (!named.empty()) return named;
  std::string beside = ParentFolder(ParentFolder(ExecutablePath())) + "/etc/tandrel/registry.json";
  if (PathExists(beside)) return beside;
  return "/etc/tandrel/registry.json";
}

const KstRegistry& KstRegistry::Machine() {
  static KstRegistry* registry = [] {
    auto* loaded = new KstRegistry();
    loaded->LoadFile(MachineFilePath());
    return loaded;
  }();
  return *registry;
}

bool KstRegistry::LoadFile(const std::string& path, std::string* error) {
  std::string text;
  if (!ReadWholeFile(path, &text)) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  return LoadText(text, error);
}

bool KstRegistry::LoadText(const std::string& text, std::string* error) {
  keys_.clear();
  rapidjson::Document document;
  if (!VelJsonUtil::Parse(text, &document) || !document.IsObject()) {
    if (error) *error = "registry file is not a JSON object";
    return false;
  }
  for (const auto& key : document.GetObject()) {
    if (!key.value.IsArray()) continue;
    auto& values = keys_[std::string(key.name.GetString(), key.name.GetStringLength())];
    for (const auto& entry : key.value.GetArray()) {
      RegistryValue value;
      if (entry.IsObject() && ParseValue(entry, &value)) values.push_back(std::move(value));
    }
  }
  return true;
}

bool KstRegistry::HasKey(const std::string& key) const { return keys_.count(key) != 0; }

int KstRegistry::EnumValueName(const std::string& key, uint32_t index, size_t max_chars, std::string* name) const {
  auto found = keys_.find(key);
  if (found == keys_.end()) return kRegFileNotFound;
  if (index >= found->second.size()) return kRegNoMoreItems;
  const std::string& value_name = found->second[index].name;
  if (KSTUtilityString::Utf8ToWide(value_name).size() + 1 > max_chars) return kRegMoreData;
  *name = value_name;
  return kRegSuccess;
}

int KstRegistry::QueryValue(const std::string& key, const std::string& name, uint32_t* type, uint8_t* buffer,
                            uint32_t* size) const {
  auto found = keys_.find(key);
  if (found == keys_.end()) return kRegFileNotFound;
  for (const RegistryValue& value : found->second) {
    if (value.name != name) continue;
    if (type) *type = value.type;
    uint32_t needed = static_cast<uint32_t>(value.data.size());
    if (!buffer || *size < needed) {
      *size = needed;
      return buffer ? kRegMoreData : kRegSuccess;
    }
    std::memcpy(buffer, value.data.data(), needed);
    *size = needed;
    return kRegSuccess;
  }
  return kRegFileNotFound;
}

bool ReadRegistryString(const KstRegistry& registry, const std::string& key, const std::string& name,
                        uint32_t buffer_bytes, std::string* text) {
  std::vector<uint8_t> buffer(buffer_bytes);
  uint32_t type = kRegNone;
  uint32_t size = buffer_bytes;
  if (registry.QueryValue(key, name, &type, buffer.data(), &size) != kRegSuccess) return false;
  if (type != kRegSz && type != kRegExpandSz) return false;
  if (size % 2 != 0 || size < 2) return false;
  std::u16string units = Utf16FromBytes(buffer.data(), size);
  size_t terminator = units.find(u'\0');
  if (terminator == std::u16string::npos) return false;
  *text = Utf8FromUtf16(units.substr(0, terminator));
  return true;
}

}  // namespace kst
