#include "utility/module/itunes/kor_backup_info_plist.h"

#include <openssl/evp.h>

#include <random>
#include <utility>
#include <vector>

#include "iOSAPI/kor_afc.h"
#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/kor_plist_xml.h"
#include "platform/kst_fs.h"
#include "utility/ios/kor_device.h"
#include "utility/module/itunes/kor_backup_applications.h"
#include "utility/module/itunes/kor_backup_plist_file.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// Device files larger than this stay out of Info.plist.
constexpr int64_t kMaxEmbeddedFile = 16ll * 1024 * 1024;

constexpr const char* kItunesFileNames[] = {
    "ApertureAlbumPrefs", "IC-Info.sidb",      "IC-Info.sidv",     "PhotosFolderAlbums",
    "PhotosFolderName",   "PhotosFolderPrefs", "VoiceMemos.plist", "iPhotoAlbumPrefs",
    "iTunesApplicationIDs", "iTunesPrefs",     "iTunesPrefs.plist", "Ringtones.plist",
};

std::string Base64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return text;
}

std::string DataElement(const std::string& bytes) { return "<data>" + Base64(bytes) + "</data>"; }

std::string RandomGuid() {
  std::random_device source;
  static const char kDigits[] = "0123456789ABCDEF";
  std::string guid;
  for (int i = 0; i < 32; ++i) guid += kDigits[source() % 16];
  return guid;
}

// A device value of the default domain as a string element, when the device has it.
void AddDeviceText(AMDeviceRef device, Entries* entries, const std::string& key, const std::string& device_key) {
  KorValue value;
  if (!KorDeviceValue(device, "", device_key, &value)) return;
  if (value.IsString()) entries->emplace_back(key, KorPlistString(value.AsString()));
  if (value.IsInteger()) entries->emplace_back(key, KorPlistString(std::to_string(value.AsInteger())));
}

bool ReadDeviceFile(AFCConnectionRef afc, const std::string& path, std::string* bytes) {
  KorAfcFileInfo info;
  if (!afc || !KorAfcStat(afc, path, &info) || info.type != "S_IFREG" || info.size > kMaxEmbeddedFile) return false;
  return KorAfcDownload(afc, path, "", bytes);
}

std::string ItunesFiles(AFCConnectionRef afc) {
  Entries files;
  for (const char* name : kItunesFileNames) {
    std::string bytes;
    if (ReadDeviceFile(afc, std::string("/iTunes_Control/iTunes/") + name, &bytes)) {
      files.emplace_back(name, DataElement(bytes));
    }
  }
  return KorPlistDict(files);
}

}  // namespace

std::string KorBackupInfoPlistXml(const std::shared_ptr<KorDevice>& device, AFCConnectionRef afc,
                                  int64_t start_seconds) {
  AMDeviceRef handle = device->Device();
  Entries entries = KorBackupApplicationEntries(device);
  AddDeviceText(handle, &entries, "Build Version", "BuildVersion");
  AddDeviceText(handle, &entries, "Device Name", "DeviceName");
  AddDeviceText(handle, &entries, "Display Name", "DeviceName");
  entries.emplace_back("GUID", KorPlistString(RandomGuid()));
  AddDeviceText(handle, &entries, "ICCID", "IntegratedCircuitCardIdentity");
  AddDeviceText(handle, &entries, "IMEI", "InternationalMobileEquipmentIdentity");
  entries.emplace_back("Last Backup Date", "<date>" + KorPlistDateText(start_seconds) + "</date>");
  AddDeviceText(handle, &entries, "MEID", "MobileEquipmentIdentifier");
  AddDeviceText(handle, &entries, "Phone Number", "PhoneNumber");
  AddDeviceText(handle, &entries, "Product Type", "ProductType");
  AddDeviceText(handle, &entries, "Product Version", "ProductVersion");
  AddDeviceText(handle, &entries, "Serial Number", "SerialNumber");
  entries.emplace_back("Target Identifier", KorPlistString(device->UniqueDeviceId()));
  entries.emplace_back("Target Type", KorPlistString("Device"));
  entries.emplace_back("Unique Identifier", KorPlistString(device->UniqueDeviceId()));
  std::string books;
  if (ReadDeviceFile(afc, "/Books/iBooksData2.plist", &books)) entries.emplace_back("iBooks Data 2", DataElement(books));
  entries.emplace_back("iTunes Files", ItunesFiles(afc));
  entries.emplace_back("iTunes Settings", "<dict/>");
  entries.emplace_back("iTunes Version", KorPlistString("11.2.2.3"));
  return KorPlistDocument(KorPlistDict(entries), KorPlistDoctype::kAppleComputer);
}

bool KorWriteBackupInfoPlist(const std::shared_ptr<KorDevice>& device, AFCConnectionRef afc,
                             const std::string& folder, int64_t start_seconds) {
  return kst::WriteWholeFile(folder + "Info.plist", KorBackupInfoPlistXml(device, afc, start_seconds));
}
