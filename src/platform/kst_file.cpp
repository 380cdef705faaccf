#include "platform/kst_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace kst {

namespace {

int OpenFlags(FileOpenMode mode) {
  switch (mode) {
    case FileOpenMode::kRead: return O_RDONLY;
    case FileOpenMode::kReadWrite: return O_RDWR | O_CREAT;
    case FileOpenMode::kWriteTruncate: return O_WRONLY | O_CREAT | O_TRUNC;
    case FileOpenMode::kReadWriteTruncate: return O_RDWR | O_CREAT | O_TRUNC;
    case FileOpenMode::kAppend: return O_WRONLY | O_APPEND | O_CREAT;
    case FileOpenMode::kReadAppend: return O_RDWR | O_APPEND | O_CREAT;
  }
  return O_RDONLY;
}

int64_t Nanoseconds(const struct statx_timestamp& stamp) {
  return static_cast<int64_t>(stamp.tv_sec) * 1000000000LL + stamp.tv_nsec;
}

PathType TypeOf(unsigned mode) {
  if (S_ISREG(mode)) return PathType::kFile;
  if (S_ISDIR(mode)) return PathType::kDirectory;
  if (S_ISLNK(mode)) return PathType::kSymlink;
  return PathType::kOther;
}

std::string ReadLinkTarget(const std::string& path) {
  std::vector<char> buffer(PATH_MAX);
  ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length <= 0) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace

KstFile& KstFile::operator=(KstFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int KstFile::Open(const std::string& path, FileOpenMode mode) {
  Close();
  fd_ = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0644);
  return fd_ < 0 ? errno : 0;
}

void KstFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

int KstFile::Read(void* buffer, size_t capacity, size_t* count) {
  *count = 0;
  char* bytes = static_cast<char*>(buffer);
  // A single read of a regular file may return less than asked; fill the buffer unless at the end.
  while (*count < capacity) {
    ssize_t got = ::read(fd_, bytes + *count, capacity - *count);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    *count += static_cast<size_t>(got);
  }
  return 0;
}

int KstFile::Write(const void* data, size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t done = ::write(fd_, bytes, length);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return errno;
    bytes += done;
    length -= static_cast<size_t>(done);
  }
  return 0;
}

int KstFile::Seek(int64_t offset, int whence, int64_t* position) {
  int native = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : whence == 2 ? SEEK_END : -1;
  if (native < 0) return EINVAL;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), native);
  if (result < 0) return errno;
  if (position) *position = static_cast<int64_t>(result);
  return 0;
}

int KstFile::Tell(int64_t* position) const {
  off_t result = ::lseek(fd_, 0, SEEK_CUR);
  if (result < 0) return errno;
  *position = static_cast<int64_t>(result);
  return 0;
}

int KstFile::Resize(int64_t size) {
  if (size < 0) return EINVAL;
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int KstFile::Lock(FileLockKind kind, bool wait) {
  int operation = kind == FileLockKind::kShared ? LOCK_SH
                  : kind == FileLockKind::kExclusive ? LOCK_EX : LOCK_UN;
  if (!wait) operation |= LOCK_NB;
  for (;;) {
    if (::flock(fd_, operation) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

int KstFile::Size(int64_t* size) const {
  struct stat info;
  if (::fstat(fd_, &info) != 0) return errno;
  *size = static_cast<int64_t>(info.st_size);
  return 0;
}

int StatPath(const std::string& path, PathInfo* info) {
  *info = PathInfo();
  struct statx data;
  unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, mask, &data) != 0) return errno;
  info->type = TypeOf(data.stx_mode);
  info->size = static_cast<int64_t>(data.stx_size);
  info->blocks = static_cast<int64_t>(data.stx_blocks);
  info->link_count = static_cast<int64_t>(data.stx_nlink);
  info->modified_ns = Nanoseconds(data.stx_mtime);
  info->born_ns = (data.stx_mask & STATX_BTIME) ? Nanoseconds(data.stx_btime) : Nanoseconds(data.stx_ctime);
  if (info->type == PathType::kSymlink) info->link_target = ReadLinkTarget(path);
  return 0;
}

int QueryFileSystemSpace(const std::string& path, FileSystemSpace* space) {
  struct statvfs data;
  if (::statvfs(path.c_str(), &data) != 0) return errno;
  space->block_size = data.f_bsize;
  space->total_bytes = static_cast<uint64_t>(data.f_blocks) * data.f_frsize;
  space->free_bytes = static_cast<uint64_t>(data.f_bavail) * data.f_frsize;
  return 0;
}

int SetModifiedTime(const std::string& path, int64_t modified_ns) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(modified_ns / 1000000000LL);
  times[1].tv_nsec = static_cast<long>(modified_ns % 1000000000LL);
  if (modified_ns < 0) return EINVAL;
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

}  // namespace kst
