// Readers of the property lists the books, ringtones and recordings listings take from the device:
// the book lists ("Books.plist", "Purchases.plist"), the ringtone list ("Ringtones.plist") and the
// voice-memo manifests ("AssetManifest.plist", a composition's "manifest.plist"). The lists come
// from the device and are hostile: entries of the wrong type are skipped, and every file name they
// give is kept inside its folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iOSAPI/kor_value.h"

// Property lists larger than this are not read (real lists hold a few hundred entries).
constexpr int64_t kKorMaxMediaPlist = 16 << 20;

struct KorBookEntry {
  std::string path;  // relative to the list's folder
  std::string name;
  std::string artist;
  std::string genre;
};

struct KorRingtoneEntry {
  std::string file;  // file name in the ringtone folder
  std::string name;
  double total_time_ms = 0;
};

struct KorManifestEntry {
  std::string path;  // from "/Recordings/" on, "%20" turned into spaces
  std::string label;
  int64_t date = 0;  // seconds since 2001-01-01 UTC
  std::string date_text;
};

// Local copies are read with KorReadPlistFile (kor_backup_plist_file.h). Bytes held in memory
// (a list read straight from the device) into the value tree; false when there are none, more
// than kKorMaxMediaPlist, or they do not parse.
bool KorParsePlistBytes(const std::string& bytes, KorValue* root);

// The "Books" array of a book list.
std::vector<KorBookEntry> KorReadBookList(const KorValue& root);
// The "Ringtones" dictionary of a ringtone list, in key order.
std::vector<KorRingtoneEntry> KorReadRingtoneList(const KorValue& root);
// The recordings of a manifest: a dictionary of entries, an array of entries, or one entry.
std::vector<KorManifestEntry> KorReadRecordingManifest(const KorValue& root);

// A relative path a list names is usable when it is not empty, not absolute, has no "." or ".."
// component and no backslash or NUL.
bool KorIsConfinedRelativePath(const std::string& path);
