#include "utility/module/media/kor_recording_collector.h"

#include <cctype>

#include "iOSAPI/kor_afc.h"
#include "platform/kst_log.h"
#include "utility/db/kor_sqlite.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_database_staging.h"
#include "utility/module/itunes/kor_backup_plist_file.h"
#include "utility/module/media/kor_media_plists.h"
#include "utility/module/media/kor_media_records.h"
#include "utility/module/sms/kor_sms_date.h"

const char kKorRecordingsSql[] =
    "select ZDURATION,ZPATH,ZCUSTOMLABEL,ZDATE from ZRECORDING WHERE ZDURATION >= 0 and ZPATH is not null "
    "order by ZDATE asc";

namespace {

constexpr int64_t kAppleEpochUnix = 978307200;
constexpr const char* kRecordingsFolder = "/Recordings";
constexpr const char* kAudioExtensions[] = {"m4a", "caf", "amr", "aac", "wav", "mp3", "aif", "aiff"};

// The file's size on the device; 0 when it cannot be found or is not a regular file.
int64_t DeviceFileSize(AFCConnectionRef afc, const std::string& path) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, path, &info) || info.type != "S_IFREG") return 0;
  return info.size > 0 ? info.size : 0;
}

// The part of a device path from the first "/Recordings/" on, kept inside that folder.
bool RecordingsPath(const std::string& zpath, std::string* path) {
  size_t from = zpath.find("/Recordings/");
  if (from == std::string::npos) return false;
  *path = zpath.substr(from);
  return KorIsConfinedRelativePath(path->substr(1));
}

int64_t WholeSeconds(double seconds) {
  if (!(seconds > 0)) return 0;
  return seconds > 3.0e10 ? static_cast<int64_t>(3.0e10) : static_cast<int64_t>(seconds);
}

int ReadDatabase(const std::string& local_path, AFCConnectionRef afc, KorRecordingCollection* collection) {
  KorSqliteDatabase db;
  if (int rc = KorOpenDatabase(local_path, &db)) return rc;
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, kKorRecordingsSql, &rows)) return rc;
  while (rows.Step()) {
    KorRecording recording;
    if (!RecordingsPath(rows.Text(1), &recording.path) || collection->Has(recording.path)) continue;
    recording.size = DeviceFileSize(afc, recording.path);
    if (recording.size == 0) continue;
    recording.duration = sqlite3_column_double(rows.Handle(), 0);
    recording.duration_text = KorMediaDuration(recording.duration * 1000.0);
    recording.label = rows.Text(2);
    recording.date = WholeSeconds(sqlite3_column_double(rows.Handle(), 3));
    recording.date_text = KorAppleDateString(recording.date);
    recording.source = KorRecordingSource::kDatabase;
    collection->Add(std::move(recording));
  }
  return 0;
}

void AddManifestEntries(const KorValue& root, AFCConnectionRef afc, KorRecordingCollection* collection) {
  for (KorManifestEntry& entry : KorReadRecordingManifest(root)) {
    if (collection->Has(entry.path)) continue;
    KorRecording recording;
    recording.size = DeviceFileSize(afc, entry.path);
    recording.path = std::move(entry.path);
    recording.label = std::move(entry.label);
    recording.date = entry.date;
    recording.date_text = std::move(entry.date_text);
    recording.source = KorRecordingSource::kManifest;
    collection->Add(std::move(recording));
  }
}

bool IsAudioName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string extension;
  for (size_t i = dot + 1; i < name.size(); ++i) {
    extension += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  }
  for (const char* known : kAudioExtensions) {
    if (extension == known) return true;
  }
  return false;
}

// A composition folder keeps the recording's own manifest.
void ReadCompositionManifest(AFCConnectionRef afc, const std::string& folder, KorRecordingCollection* collection) {
  std::string path = folder + "/manifest.plist";
  KorAfcFileInfo info;
  std::string bytes;
  KorValue root;
  if (!KorAfcStat(afc, path, &info) || info.size <= 0 || info.size > kKorMaxMediaPlist ||
      !KorAfcDownload(afc, path, std::string(), &bytes) || !KorParsePlistBytes(bytes, &root)) {
    KLOG(WARNING) << "recordings: the composition manifest " << path << " cannot be read";
    return;
  }
  AddManifestEntries(root, afc, collection);
}

void ReadFolder(AFCConnectionRef afc, KorRecordingCollection* collection) {
  std::vector<std::pair<std::string, KorAfcFileInfo>> entries;
  bool composition_read = false;
  for (const std::string& child : KorAfcListDirectory(afc, kRecordingsFolder)) {
    KorAfcFileInfo info;
    if (!KorAfcStat(afc, child, &info)) continue;
    std::string name = KorAfcLastComponent(child);
    if (info.type == "S_IFDIR" && !composition_read && name.find(".composition") != std::string::npos) {
      composition_read = true;
      ReadCompositionManifest(afc, child, collection);
    } else if (info.type == "S_IFREG") {
      entries.emplace_back(child, info);
    }
  }
  for (const auto& entry : entries) {
    std::string name = KorAfcLastComponent(entry.first);
    std::string path = std::string(kRecordingsFolder) + "/" + name;
    if (!IsAudioName(name) || entry.second.size <= 0 || !KorIsConfinedRelativePath(name)) continue;
    KorRecording recording;
    recording.path = path;
    recording.size = entry.second.size;
    recording.label = name.substr(0, name.rfind('.'));
    recording.date = entry.second.modify_time > kAppleEpochUnix ? entry.second.modify_time - kAppleEpochUnix : 0;
    recording.date_text = KorAppleDateString(recording.date);
    recording.source = KorRecordingSource::kFolder;
    collection->Add(std::move(recording));
  }
}

}  // namespace

int KorCollectRecordings(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                         std::vector<KorRecording>* out) {
  KorRecordingCollection collection;
  {
    std::lock_guard<std::mutex> lock(*staging_mutex);
    if (KorStageFile(device, afc, KorStagedFile::kRecordingsDatabase)) {
      if (int rc = ReadDatabase(device.StagedPath(kKorSlotRecordings), afc, &collection)) return rc;
    }
  }
  KorValue manifest;
  {
    std::lock_guard<std::mutex> lock(*staging_mutex);
    if (KorStageFile(device, afc, KorStagedFile::kRecordingsManifest) &&
        KorReadPlistFile(device.StagedPath(kKorSlotRecordingsManifest), &manifest)) {
      AddManifestEntries(manifest, afc, &collection);
    }
  }
  ReadFolder(afc, &collection);
  *out = collection.Items();
  return 0;
}
