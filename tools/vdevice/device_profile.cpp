#include "device_profile.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "platform/kst_fs.h"
#include "plist_json.h"

namespace vdevice {

namespace {

constexpr size_t kMaxProfileFileBytes = 64u << 20;

bool ReadJsonFile(const std::string& path, rapidjson::Document* document, std::string* error) {
  std::string text;
  int64_t size = kst::FileSize(path);
  if (size < 0 || static_cast<uint64_t>(size) > kMaxProfileFileBytes || !kst::ReadWholeFile(path, &text)) {
    *error = "cannot read " + path;
    return false;
  }
  document->Parse(text.c_str(), text.size());
  if (document->HasParseError()) {
    *error = path + ": " + rapidjson::GetParseError_En(document->GetParseError()) + " at offset " +
             std::to_string(document->GetErrorOffset());
    return false;
  }
  return true;
}

std::string MemberString(const rapidjson::Value& object, const char* name, const char* fallback) {
  auto member = object.FindMember(name);
  return member != object.MemberEnd() && member->value.IsString() ? member->value.GetString() : fallback;
}

bool ReadDomains(const rapidjson::Value& root, DeviceProfile* profile, std::string* error) {
  auto lockdown = root.FindMember("lockdown");
  if (lockdown == root.MemberEnd() || !lockdown->value.IsObject()) {
    *error = "device.json needs a \"lockdown\" object";
    return false;
  }
  for (const auto& domain : lockdown->value.GetObject()) {
    if (!domain.value.IsObject()) {
      *error = std::string("lockdown domain ") + domain.name.GetString() + " is not an object";
      return false;
    }
    PlistPtr values = PlistFromJson(domain.value, error);
    if (!values || plist_get_node_type(values.get()) != PLIST_DICT) {
      *error = std::string("lockdown domain ") + domain.name.GetString() + ": " + *error;
      return false;
    }
    profile->domains[domain.name.GetString()] = std::move(values);
  }
  if (!profile->domains.count(kDefaultDomain)) profile->domains[kDefaultDomain] = MakeDict();
  return true;
}

bool ReadStates(const rapidjson::Value& root, DeviceProfile* profile, std::string* error) {
  std::string connection = MemberString(root, "connection", "USB");
  if (connection != "USB" && connection != "Network") {
    *error = "connection must be \"USB\" or \"Network\"";
    return false;
  }
  profile->connection = connection == "USB" ? ConnectionKind::kUsb : ConnectionKind::kNetwork;
  std::optional<TrustState> trust = ParseTrustState(MemberString(root, "trust", "on"));
  if (!trust) {
    *error = "trust must be \"on\", \"off\" or \"deny\"";
    return false;
  }
  profile->trust = *trust;
  auto locked = root.FindMember("locked");
  profile->locked = locked != root.MemberEnd() && locked->value.IsBool() && locked->value.GetBool();
  auto product = root.FindMember("product_id");
  if (product != root.MemberEnd() && product->value.IsUint()) profile->product_id = product->value.GetUint();
  auto refused = root.FindMember("refused_set_values");
  if (refused != root.MemberEnd() && refused->value.IsArray()) {
    for (const auto& key : refused->value.GetArray()) {
      if (key.IsString()) profile->refused_set_values.insert(key.GetString());
    }
  }
  return true;
}

}  // namespace

std::optional<TrustState> ParseTrustState(const std::string& text) {
  if (text == "on") return TrustState::kOn;
  if (text == "off") return TrustState::kOff;
  if (text == "deny") return TrustState::kDeny;
  return std::nullopt;
}

const char* TrustStateName(TrustState state) {
  switch (state) {
    case TrustState::kOn: return "on";
    case TrustState::kOff: return "off";
    case TrustState::kDeny: return "deny";
  }
  return "?";
}

std::string DeviceProfile::AfcRoot(const std::string& name) const {
  std::string root = folder + "/" + name;
  return kst::IsDirectory(root) ? root : std::string();
}

int LoadProfile(const std::string& folder, DeviceProfile* profile, std::string* error) {
  *profile = DeviceProfile();
  profile->folder = folder;
  while (profile->folder.size() > 1 && profile->folder.back() == '/') profile->folder.pop_back();
  rapidjson::Document root;
  if (!ReadJsonFile(profile->folder + "/device.json", &root, error)) return 1;
  if (!root.IsObject()) {
    *error = "device.json is not an object";
    return 1;
  }
  profile->udid = MemberString(root, "udid", "");
  if (profile->udid.empty() || profile->udid.size() > 40) {
    *error = "device.json needs a \"udid\" of 1 to 40 characters";
    return 1;
  }
  if (!ReadStates(root, profile, error) || !ReadDomains(root, profile, error)) return 1;
  return 0;
}

PlistPtr LoadJsonAsPlist(const std::string& path, std::string* error) {
  rapidjson::Document root;
  if (!ReadJsonFile(path, &root, error)) return nullptr;
  PlistPtr value = PlistFromJson(root, error);
  if (!value) *error = path + ": " + *error;
  return value;
}

}  // namespace vdevice
