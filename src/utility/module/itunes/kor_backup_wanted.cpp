#include "utility/module/itunes/kor_backup_wanted.h"

#include <algorithm>

KorWantedTable::KorWantedTable(const std::vector<int>& types) {
  auto want = [this](const char* name) { entries_[name].name = name; };
  for (int type : types) {
    if (type == kKorExtractMessages) want(kKorMessagesDbName);
    if (type == kKorExtractContacts) want(kKorAddressBookDbName);
    if (type == kKorExtractNotes) {
      want(kKorNotesDbName);
      want(kKorNoteStoreDbName);
    }
  }
}

void KorWantedTable::NoteFile(const std::string& local_path) {
  const size_t slash = local_path.rfind('/');
  const std::string file_name = slash == std::string::npos ? local_path : local_path.substr(slash + 1);
  const std::string base_name = file_name.substr(0, file_name.find('-'));
  auto found = entries_.find(base_name);
  if (found == entries_.end()) return;
  KorWantedEntry& entry = found->second;
  KorWantedFile* file = nullptr;
  if (file_name == entry.name) file = &entry.main;
  if (file_name == entry.name + "-shm") file = &entry.shm;
  if (file_name == entry.name + "-wal") file = &entry.wal;
  if (!file) return;
  file->arrived = true;
  file->local_path = local_path;
}

std::vector<KorWantedEntry> KorWantedTable::TakeArrived() {
  std::vector<KorWantedEntry> arrived;
  for (auto& [name, entry] : entries_) {
    if (entry.main.arrived && !entry.notified) {
      entry.notified = true;
      arrived.push_back(entry);
    }
  }
  return arrived;
}

bool KorWantedTable::AllNotified() const {
  return std::all_of(entries_.begin(), entries_.end(), [](const auto& item) { return item.second.notified; });
}
