// The records of the books, ringtones and voice-recordings listings and their JSON objects.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

// Where a recording was found; the first source that yields a path wins.
enum class KorRecordingSource : int32_t {
  kDatabase = 0,  // the voice-memo database
  kFolder = 1,    // the recordings folder listing
  kManifest = 2,  // the recordings manifest (or a composition's manifest)
};

struct KorRecording {
  std::string path;  // from "/Recordings/" on
  int64_t size = 0;
  std::string label;
  double duration = 0;       // seconds; 0 when the source does not know it
  std::string duration_text; // empty when the source does not know the duration
  int64_t date = 0;          // seconds since 2001-01-01 UTC
  std::string date_text;     // local time
  KorRecordingSource source = KorRecordingSource::kDatabase;
};

struct KorBook {
  std::string path;
  std::string title;
  int64_t size = 0;
  std::string artist;
  bool purchase = false;
  std::string genre;
};

struct KorRingtone {
  std::string path;
  std::string title;
  int64_t size = 0;
  std::string duration;  // display string
};

// Recordings keyed by path in the order they were found: a later source never replaces a path.
class KorRecordingCollection {
 public:
  // False (and nothing kept) when the path is already there.
  bool Add(KorRecording recording);
  bool Has(const std::string& path) const;
  const std::vector<KorRecording>& Items() const { return items_; }

 private:
  std::vector<KorRecording> items_;
  std::unordered_set<std::string> paths_;
};

// {"path","size","label","duration_int","duration","date_int","date","source"}
void KorAppendRecordingJson(const KorRecording& recording, std::string* out);
// {"path","title","size","artist","purchase","gene"}
void KorAppendBookJson(const KorBook& book, std::string* out);
// {"path","title","size","duration"}
void KorAppendRingtoneJson(const KorRingtone& ringtone, std::string* out);
// The recordings as one JSON array.
std::string KorRecordingsJson(const std::vector<KorRecording>& recordings);
