#include "utility/module/media/kor_media_plists.h"

#include <regex>

#include "iOSAPI/kor_service_message.h"
#include "utility/module/itunes/kor_backup_plist_file.h"
#include "utility/module/sms/kor_sms_date.h"

namespace {

constexpr int64_t kAppleEpochUnix = 978307200;
constexpr size_t kMaxIsoDate = 64;

std::string StringOf(const CIOSDictionary& dict, const char* key) {
  KorValue value = dict.Get(key);
  return value.IsString() ? value.AsString() : std::string();
}

bool NumberOf(const CIOSDictionary& dict, const char* key, double* out) {
  KorValue value = dict.Get(key);
  if (value.IsInteger()) {
    *out = static_cast<double>(value.AsInteger());
  } else if (value.IsDouble()) {
    *out = value.AsDouble();
  } else {
    return false;
  }
  return true;
}

// Clamps a device number to the span a date string can show.
int64_t WholeSeconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds > 3.0e10) return static_cast<int64_t>(3.0e10);
  return static_cast<int64_t>(seconds);
}

// "2023-05-21T09:45:12Z" → seconds since 2001-01-01 UTC.
bool IsoUtcSeconds(const std::string& text, int64_t* seconds) {
  static const std::regex kIsoDate("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z");
  if (text.size() > kMaxIsoDate || !std::regex_search(text, kIsoDate)) return false;
  int64_t unix_seconds = 0;
  if (!KorPlistDateSeconds(text, &unix_seconds)) return false;
  *seconds = unix_seconds - kAppleEpochUnix;
  return true;
}

std::string Unescape20(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool ManifestEntryOf(const CIOSDictionary& dict, KorManifestEntry* entry) {
  std::string url = StringOf(dict, "RCComposedAVURL");
  size_t from = url.find("/Recordings/");
  if (from == std::string::npos) return false;
  entry->path = Unescape20(url.substr(from));
  if (!KorIsConfinedRelativePath(entry->path.substr(1))) return false;
  entry->label = StringOf(dict, "RCSavedRecordingTitle");
  int64_t seconds = 0;
  double time = 0;
  if (IsoUtcSeconds(StringOf(dict, "RCSavedRecordingCreationDate"), &seconds)) {
    entry->date = seconds;
  } else if (NumberOf(dict, "RCSavedRecordingCreationTime", &time)) {
    entry->date = WholeSeconds(time);
  }
  entry->date_text = KorAppleDateString(entry->date);
  return true;
}

void AddManifestEntry(const KorValue& value, std::vector<KorManifestEntry>* entries) {
  if (!value.IsDictionary()) return;
  KorManifestEntry entry;
  if (ManifestEntryOf(*value.AsDictionary(), &entry)) entries->push_back(std::move(entry));
}

}  // namespace

bool KorIsConfinedRelativePath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    if (component.empty() || component == "." || component == "..") return false;
    start = end + 1;
  }
  return true;
}

bool KorParsePlistBytes(const std::string& bytes, KorValue* root) {
  if (bytes.empty() || static_cast<int64_t>(bytes.size()) > kKorMaxMediaPlist) return false;
  return KorMessageToValue(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()), root);
}

std::vector<KorBookEntry> KorReadBookList(const KorValue& root) {
  std::vector<KorBookEntry> books;
  if (!root.IsDictionary()) return books;
  KorValue list = root.AsDictionary()->Get("Books");
  if (!list.IsArray()) return books;
  for (const KorValue& item : list.AsArray()) {
    if (!item.IsDictionary()) continue;
    const CIOSDictionary& dict = *item.AsDictionary();
    KorBookEntry book{StringOf(dict, "Path"), StringOf(dict, "Name"), StringOf(dict, "Artist"),
                      StringOf(dict, "Genre")};
    if (KorIsConfinedRelativePath(book.path)) books.push_back(std::move(book));
  }
  return books;
}

std::vector<KorRingtoneEntry> KorReadRingtoneList(const KorValue& root) {
  std::vector<KorRingtoneEntry> ringtones;
  if (!root.IsDictionary()) return ringtones;
  KorValue tones = root.AsDictionary()->Get("Ringtones");
  if (!tones.IsDictionary()) return ringtones;
  for (const auto& entry : tones.AsDictionary()->Entries()) {
    if (!entry.second.IsDictionary() || entry.first.find('/') != std::string::npos ||
        !KorIsConfinedRelativePath(entry.first)) {
      continue;
    }
    KorRingtoneEntry tone;
    tone.file = entry.first;
    tone.name = StringOf(*entry.second.AsDictionary(), "Name");
    NumberOf(*entry.second.AsDictionary(), "Total Time", &tone.total_time_ms);
    ringtones.push_back(std::move(tone));
  }
  return ringtones;
}

std::vector<KorManifestEntry> KorReadRecordingManifest(const KorValue& root) {
  std::vector<KorManifestEntry> entries;
  if (root.IsArray()) {
    for (const KorValue& item : root.AsArray()) AddManifestEntry(item, &entries);
  } else if (root.IsDictionary() && root.AsDictionary()->Has("RCComposedAVURL")) {
    AddManifestEntry(root, &entries);
  } else if (root.IsDictionary()) {
    for (const auto& entry : root.AsDictionary()->Entries()) AddManifestEntry(entry.second, &entries);
  }
  return entries;
}
