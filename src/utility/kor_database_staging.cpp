#include "utility/kor_database_staging.h"

#include <vector>

#include "Tandrel/kor_process.h"
#include "iOSAPI/kor_afc.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "utility/ios/kor_device.h"

namespace {

enum class SlotTiming { kAfterSuccess, kBeforeCopy };

struct StagingEntry {
  const char* device_path;
  const char* local_name;
  std::vector<const char*> companion_suffixes;
  KorStagedSlot slot;
  SlotTiming timing;
};

const StagingEntry& EntryOf(KorStagedFile file) {
  static const StagingEntry kPhotos{"//PhotoData//Photos.sqlite", "Photos.sqlite", {"-shm", "-wal"},
                                    kKorSlotPhotoLibrary, SlotTiming::kAfterSuccess};
  static const StagingEntry kMedia{"//iTunes_Control//iTunes//MediaLibrary.sqlitedb", "MediaLibrary.sqlitedb",
                                   {"-shm", "-wal"}, kKorSlotMediaLibrary, SlotTiming::kAfterSuccess};
  static const StagingEntry kRecordings{"//Recordings//Recordings.db", "Recordings.db", {"-shm", "-wal"},
                                        kKorSlotRecordings, SlotTiming::kAfterSuccess};
  static const StagingEntry kCdb{"//iTunes_Control//iTunes//iTunesCDB", "iTunesCDB", {}, kKorSlotITunesCdb,
                                 SlotTiming::kAfterSuccess};
  static const StagingEntry kRingtones{"//iTunes_Control//iTunes//Ringtones.plist", "Ringtones.plist", {},
                                       kKorSlotRingtones, SlotTiming::kAfterSuccess};
  static const StagingEntry kManifest{"//Recordings//AssetManifest.plist", "AssetManifest.plist", {},
                                      kKorSlotRecordingsManifest, SlotTiming::kAfterSuccess};
  static const StagingEntry kBooks{"//Books//Books.plist", "Books.plist", {}, kKorSlotBooks, SlotTiming::kBeforeCopy};
  static const StagingEntry kPurchases{"//Books//Purchases//Purchases.plist", "Purchases.plist", {},
                                       kKorSlotPurchasedBooks, SlotTiming::kBeforeCopy};
  switch (file) {
    case KorStagedFile::kPhotoLibrary: return kPhotos;
    case KorStagedFile::kMediaLibrary: return kMedia;
    case KorStagedFile::kRecordingsDatabase: return kRecordings;
    case KorStagedFile::kITunesCdb: return kCdb;
    case KorStagedFile::kRingtones: return kRingtones;
    case KorStagedFile::kRecordingsManifest: return kManifest;
    case KorStagedFile::kBookList: return kBooks;
    case KorStagedFile::kPurchasedBookList: return kPurchases;
    case KorStagedFile::kMusicLibrary: break;
  }
  return kPhotos;  // the music library pair is staged by StageMusicLibrary
}

// The folder, created with its parents; empty when it cannot be made.
std::string PreparedFolder(const KorDevice& device) {
  std::string folder = KorDeviceStagingFolder(device);
  if (folder.empty() || !kst::CreateDirectories(folder)) {
    KLOG(ERROR) << "staging folder cannot be created: " << folder;
    return std::string();
  }
  return folder;
}

bool CopyFromDevice(AFCConnectionRef afc, const std::string& device_path, const std::string& local_path) {
  return KorAfcDownload(afc, device_path, local_path, nullptr);
}

// A companion copy overwrites the local file only when the device has that companion now.
void CopyCompanions(AFCConnectionRef afc, const std::string& device_base, const std::string& local_base,
                    const std::vector<const char*>& suffixes) {
  for (const char* suffix : suffixes) {
    KorAfcFileInfo info;
    if (!KorAfcStat(afc, device_base + suffix, &info)) continue;
    CopyFromDevice(afc, device_base + suffix, local_base + suffix);
  }
}

bool StageEntry(KorDevice& device, AFCConnectionRef afc, const StagingEntry& entry) {
  std::string folder = PreparedFolder(device);
  if (folder.empty()) return false;
  std::string local_path = folder + entry.local_name;
  if (entry.timing == SlotTiming::kBeforeCopy) device.SetStagedPath(entry.slot, local_path);
  if (!CopyFromDevice(afc, entry.device_path, local_path)) {
    KLOG(WARNING) << "staging: " << entry.device_path << " could not be copied";
    return false;
  }
  device.SetStagedPath(entry.slot, local_path);
  CopyCompanions(afc, entry.device_path, local_path, entry.companion_suffixes);
  return true;
}

// Library.itdb first; Locations.itdb only when it succeeded; both slots only when both did.
bool StageMusicLibrary(KorDevice& device, AFCConnectionRef afc) {
  static const std::string kDeviceFolder = "//iTunes_Control//iTunes//iTunes Library.itlp//";
  std::string folder = PreparedFolder(device);
  if (folder.empty()) return false;
  std::string library = folder + "Library.itdb";
  std::string locations = folder + "Locations.itdb";
  if (!CopyFromDevice(afc, kDeviceFolder + "Library.itdb", library) ||
      !CopyFromDevice(afc, kDeviceFolder + "Locations.itdb", locations)) {
    KLOG(WARNING) << "staging: the music library pair could not be copied";
    return false;
  }
  device.SetStagedPath(kKorSlotMusicLibrary, library);
  device.SetStagedPath(kKorSlotLocations, locations);
  for (const char* companion : {"Library.itdb-journal", "Library.itdb-shm", "Library.itdb-wal", "Locations.itdb.cbk"}) {
    CopyCompanions(afc, kDeviceFolder + companion, folder + companion, {""});
  }
  return true;
}

}  // namespace

std::string KorDeviceStagingFolder(const KorDevice& device) {
  std::string udid = device.UniqueDeviceId();
  // The identifier names a folder: one that could leave the work folder is refused.
  if (udid.empty() || udid.find('/') != std::string::npos || udid == "." || udid == "..") return std::string();
  std::string work_folder = KorProcess::Get().WorkFolder();
  if (work_folder.empty()) return std::string();
  return work_folder + udid + "/";
}

bool KorStageFile(KorDevice& device, AFCConnectionRef afc, KorStagedFile file) {
  if (!afc) return false;
  if (file == KorStagedFile::kMusicLibrary) return StageMusicLibrary(device, afc);
  return StageEntry(device, afc, EntryOf(file));
}
