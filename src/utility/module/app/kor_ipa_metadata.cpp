#include "utility/module/app/kor_ipa_metadata.h"

#include <cctype>

#include "iOSAPI/kor_service_message.h"
#include "platform/kst_log.h"
#include "utility/kor_zip_entry.h"

namespace {

constexpr const char* kMetadataEntry = "iTunesMetadata.plist";
constexpr size_t kMaxBundleIdLength = 255;

std::string StringMember(const KorValue& dictionary, const char* key) {
  KorValue value = dictionary.AsDictionary()->Get(key);
  return value.IsString() ? value.AsString() : std::string();
}

// The metadata entry at the top of the archive, or else the first entry whose name ends with it.
bool LocateMetadataEntry(unzFile archive) {
  if (unzLocateFile(archive, kMetadataEntry, 1) == UNZ_OK) return true;
  const std::string suffix = std::string("/") + kMetadataEntry;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK; status = unzGoToNextFile(archive)) {
    // minizip leaves a name that fills the buffer unterminated; the last byte stays 0.
    char name[1024] = {};
    if (unzGetCurrentFileInfo64(archive, nullptr, name, sizeof(name) - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
      return false;
    }
    std::string entry(name);
    if (entry.size() > suffix.size() && entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool KorIsUsableBundleId(const std::string& bundle_id) {
  if (bundle_id.empty() || bundle_id.size() > kMaxBundleIdLength) return false;
  if (bundle_id.find_first_not_of('.') == std::string::npos) return false;
  for (char c : bundle_id) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

bool KorParseIpaMetadata(const uint8_t* bytes, size_t length, KorIpaMetadata* metadata) {
  *metadata = KorIpaMetadata();
  KorValue tree;
  if (length == 0 || length > kKorMaxIpaMetadata ||
      !KorMessageToValue(bytes, static_cast<uint32_t>(length), &tree) || !tree.IsDictionary()) {
    KLOG(WARNING) << "iTunesMetadata.plist is not a property-list dictionary";
    return false;
  }
  std::string store_id = StringMember(tree, "softwareVersionBundleId");
  std::string bundle_id = StringMember(tree, "CFBundleIdentifier");
  if (!store_id.empty() && !bundle_id.empty() && store_id != bundle_id) {
    KLOG(WARNING) << "iTunesMetadata names two bundle identifiers: " << store_id << " and " << bundle_id;
  }
  metadata->bundle_id = store_id.empty() ? bundle_id : store_id;
  metadata->icon_url = StringMember(tree, "softwareIcon57x57URL");
  if (!KorIsUsableBundleId(metadata->bundle_id)) {
    KLOG(WARNING) << "iTunesMetadata names no usable bundle identifier: \"" << metadata->bundle_id << "\"";
    return false;
  }
  return true;
}

bool KorReadIpaMetadata(const std::string& ipa_path, KorIpaMetadata* metadata) {
  KorUnzipFile archive = KorOpenZip(ipa_path);
  if (!archive) {
    KLOG(WARNING) << "package is not a ZIP archive: " << ipa_path;
    return false;
  }
  std::string bytes;
  if (!LocateMetadataEntry(archive.get()) || !KorReadCurrentZipEntry(archive.get(), kKorMaxIpaMetadata, &bytes)) {
    KLOG(WARNING) << "package has no readable " << kMetadataEntry << ": " << ipa_path;
    return false;
  }
  return KorParseIpaMetadata(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), metadata);
}
