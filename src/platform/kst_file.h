// Files opened for random access, and what the file system says about a path.
// Results are 0 on success or the system's error number, so callers can map them to protocol codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kst {

enum class FileOpenMode {
  kRead,             // existing file, read only
  kReadWrite,        // read and write, created when missing
  kWriteTruncate,    // write only, created or emptied
  kReadWriteTruncate,
  kAppend,           // write only at the end, created when missing
  kReadAppend,
};

enum class FileLockKind { kShared, kExclusive, kUnlock };

class KstFile {
 public:
  KstFile() = default;
  ~KstFile() { Close(); }
  KstFile(const KstFile&) = delete;
  KstFile& operator=(const KstFile&) = delete;
  KstFile(KstFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  KstFile& operator=(KstFile&& other) noexcept;

  int Open(const std::string& path, FileOpenMode mode);
  bool Valid() const { return fd_ >= 0; }
  void Close();

  // Reads at the current position; *count gets the bytes read (0 at the end).
  int Read(void* buffer, size_t capacity, size_t* count);
  int Write(const void* data, size_t length);
  // whence: 0 from the start, 1 from the current position, 2 from the end.
  int Seek(int64_t offset, int whence, int64_t* position = nullptr);
  int Tell(int64_t* position) const;
  int Resize(int64_t size);
  int Lock(FileLockKind kind, bool wait);
  int Size(int64_t* size) const;

 private:
  int fd_ = -1;
};

enum class PathType { kMissing, kFile, kDirectory, kSymlink, kOther };

struct PathInfo {
  PathType type = PathType::kMissing;
  int64_t size = 0;
  int64_t blocks = 0;  // 512-byte blocks
  int64_t link_count = 0;
  int64_t modified_ns = 0;
  int64_t born_ns = 0;  // creation time where the file system keeps it, else the change time
  std::string link_target;
};

// Describes the path itself (a symbolic link is not followed).
int StatPath(const std::string& path, PathInfo* info);

struct FileSystemSpace {
  uint64_t total_bytes = 0;
  uint64_t free_bytes = 0;
  uint64_t block_size = 0;
};
int QueryFileSystemSpace(const std::string& path, FileSystemSpace* space);

// Sets a path's modification time (nanoseconds since 1970), without following a final link.
int SetModifiedTime(const std::string& path, int64_t modified_ns);

}  // namespace kst
