#include "utility/module/media/kor_book_collector.h"

#include <cctype>
#include <unordered_set>

#include "iOSAPI/kor_afc.h"
#include "platform/kst_log.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_database_staging.h"
#include "utility/module/itunes/kor_backup_plist_file.h"
#include "utility/module/media/kor_media_plists.h"
#include "utility/module/media/kor_media_records.h"

namespace {

constexpr const char* kBookFolder = "/Books/";
constexpr const char* kPurchasedFolder = "/Books/Purchases/";
constexpr const char* kRingtoneFolder = "/iTunes_Control/Ringtones/";
// A ringtone's "Total Time" beyond this many milliseconds (a day) is not believed.
constexpr double kMaxRingtoneMs = 86400000.0;

int64_t DeviceFileSize(AFCConnectionRef afc, const std::string& path) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, path, &info) || info.type != "S_IFREG") return 0;
  return info.size > 0 ? info.size : 0;
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
  size_t length = std::char_traits<char>::length(suffix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - length + i])) != suffix[i]) return false;
  }
  return true;
}

void ReadBookList(KorDevice& device, AFCConnectionRef afc, KorStagedFile file, KorStagedSlot slot, bool purchased,
                  std::vector<KorBook>* books) {
  KorValue root;
  if (!KorStageFile(device, afc, file)) return;
  if (!KorReadPlistFile(device.StagedPath(slot), &root)) {
    KLOG(WARNING) << "books: " << device.StagedPath(slot) << " is not a property list";
    return;
  }
  for (KorBookEntry& entry : KorReadBookList(root)) {
    KorBook book;
    book.path = (purchased ? kPurchasedFolder : kBookFolder) + entry.path;
    book.title = std::move(entry.name);
    book.size = DeviceFileSize(afc, book.path);
    book.artist = std::move(entry.artist);
    book.purchase = purchased;
    book.genre = std::move(entry.genre);
    books->push_back(std::move(book));
  }
}

void ReadRingtoneList(KorDevice& device, AFCConnectionRef afc, std::vector<KorRingtone>* ringtones) {
  KorValue root;
  if (!KorStageFile(device, afc, KorStagedFile::kRingtones)) return;
  if (!KorReadPlistFile(device.StagedPath(kKorSlotRingtones), &root)) {
    KLOG(WARNING) << "ringtones: " << device.StagedPath(kKorSlotRingtones) << " is not a property list";
    return;
  }
  for (KorRingtoneEntry& entry : KorReadRingtoneList(root)) {
    KorRingtone tone;
    tone.path = kRingtoneFolder + entry.file;
    tone.title = std::move(entry.name);
    tone.size = DeviceFileSize(afc, tone.path);
    double ms = entry.total_time_ms > 0 && entry.total_time_ms < kMaxRingtoneMs ? entry.total_time_ms : 0;
    tone.duration = KorMediaDuration(ms);
    ringtones->push_back(std::move(tone));
  }
}

void ReadMusicDatabase(KorDevice& device, AFCConnectionRef afc, KorBooksAndRingtones* out) {
  if (!KorStageFile(device, afc, KorStagedFile::kITunesCdb)) return;
  KorItunesDatabase database;
  if (!KorReadItunesDb(device.StagedPath(kKorSlotITunesCdb), &database)) {
    KLOG(WARNING) << "books: the music database " << device.StagedPath(kKorSlotITunesCdb) << " cannot be read";
    return;
  }
  KorAddMusicDatabaseEntries(KorBuildMusicTrackMap(database), afc, out);
}

}  // namespace

void KorAddMusicDatabaseEntries(const std::map<uint32_t, KorMusicTrack>& tracks, AFCConnectionRef afc,
                                KorBooksAndRingtones* out) {
  std::unordered_set<std::string> listed;
  for (const KorBook& book : out->books) listed.insert(book.path);
  for (const KorRingtone& tone : out->ringtones) listed.insert(tone.path);
  for (const auto& entry : tracks) {
    const KorMusicTrack& track = entry.second;
    std::string path = track.location;
    for (char& c : path) c = c == ':' ? '/' : c;
    bool audiobook = EndsWithNoCase(path, ".m4b");
    bool tone = EndsWithNoCase(path, ".m4r");
    if ((!audiobook && !tone) || path.empty() || path.front() != '/' || !KorIsConfinedRelativePath(path.substr(1)) ||
        listed.count(path)) {
      continue;
    }
    int64_t size = DeviceFileSize(afc, path);
    if (size == 0) continue;
    listed.insert(path);
    if (audiobook) {
      out->books.push_back({path, track.title, size, track.artist, false, track.genre});
    } else {
      out->ringtones.push_back({path, track.title, size, KorMediaDuration(track.duration_ms)});
    }
  }
}

void KorCollectBooksAndRingtones(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                                 KorBooksAndRingtones* out) {
  std::lock_guard<std::mutex> lock(*staging_mutex);
  ReadBookList(device, afc, KorStagedFile::kBookList, kKorSlotBooks, false, &out->books);
  ReadBookList(device, afc, KorStagedFile::kPurchasedBookList, kKorSlotPurchasedBooks, true, &out->books);
  ReadRingtoneList(device, afc, &out->ringtones);
  ReadMusicDatabase(device, afc, out);
}
