// The databases an extraction waits for, keyed by their 40-digit backup file names, with their
// "-shm" and "-wal" companions.
#pragma once

#include <map>
#include <string>
#include <vector>

// The extraction types.
constexpr int kKorExtractMessages = 0;
constexpr int kKorExtractContacts = 1;
constexpr int kKorExtractNotes = 2;

constexpr const char* kKorMessagesDbName = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr const char* kKorAddressBookDbName = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
constexpr const char* kKorNotesDbName = "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c";
constexpr const char* kKorNoteStoreDbName = "4f98687d8ab0d6d1a371110e6b7300f6e465bef2";

struct KorWantedFile {
  bool arrived = false;
  std::string local_path;
};

struct KorWantedEntry {
  std::string name;
  KorWantedFile main;
  KorWantedFile shm;
  KorWantedFile wal;
  bool notified = false;
};

class KorWantedTable {
 public:
  // Values other than 0, 1, 2 are ignored; a value listed twice adds its entries once.
  explicit KorWantedTable(const std::vector<int>& types);

  size_t Size() const { return entries_.size(); }
  // Notes a written file by its local path: a wanted main file or companion is marked arrived.
  void NoteFile(const std::string& local_path);
  // Entries whose main file has arrived and that were not yet notified, in name order; they are
  // marked notified.
  std::vector<KorWantedEntry> TakeArrived();
  bool AllNotified() const;

 private:
  std::map<std::string, KorWantedEntry> entries_;
};
