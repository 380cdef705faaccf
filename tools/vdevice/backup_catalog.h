// What the simulated phone backs up: the domain files its profile holds
// (mobilebackup2/domains/<Domain>/<relative path>) and, when backup.json asks for them, files
// of generated content that make the backup as large as a real one without being stored.
// Every file goes under its hashed name: the SHA-1 of "<Domain>-<relative path>" in hex; a
// database's "-wal" and "-shm" companions go under the database's name with that suffix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vdevice {

// mobilebackup2/backup.json; every member is optional.
struct BackupSettings {
  uint64_t generated_files = 0;  // "generated_files": files of generated content
  uint64_t generated_bytes = 0;  // "generated_bytes": their total size
  uint64_t seed = 1;             // "seed": what the generated content is derived from
  uint64_t batch_files = 64;     // "batch_files": files per DLMessageUploadFiles
  uint64_t pace_mbps = 0;        // "pace_mbps": the backup's pace in MB/s (0: as fast as it goes)
  std::string password;          // "password": the backup password of a device that encrypts
};

// Reads `folder`/backup.json (missing: the defaults). Returns 0, or 1 with *error.
int LoadBackupSettings(const std::string& folder, BackupSettings* settings, std::string* error);

struct BackupFileEntry {
  std::string domain;
  std::string relative_path;
  std::string file_id;
  bool directory = false;
  uint64_t size = 0;
  int64_t modified = 0;  // Unix seconds
  std::string source;    // the profile's file; empty for generated content
  uint64_t content_seed = 0;
};

// "HomeDomain", "Library/SMS/sms.db" -> "3d0d7e5fb2ce288813306e4d4636395e047a3d28"
std::string HashedFileId(const std::string& domain, const std::string& relative_path);

// Directories first (they are listed, not sent), then the profile's files in domain and path
// order, then the generated ones.
std::vector<BackupFileEntry> BuildBackupCatalog(const std::string& folder, const BackupSettings& settings);

// Reads a file's content piece by piece, in order.
class BackupFileReader {
 public:
  explicit BackupFileReader(const BackupFileEntry& entry);
  ~BackupFileReader();
  BackupFileReader(const BackupFileReader&) = delete;
  BackupFileReader& operator=(const BackupFileReader&) = delete;
  bool Read(uint64_t offset, char* buffer, size_t length);

 private:
  const BackupFileEntry& entry_;
  std::FILE* file_ = nullptr;
};

// Generated content: the same bytes for the same seed and offset, at memory speed.
void FillGeneratedContent(uint64_t seed, uint64_t offset, char* buffer, size_t length);

}  // namespace vdevice
