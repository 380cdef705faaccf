// com.apple.afc (the media folder) and com.apple.afc2 (the whole file system of a jailbroken
// device): the AFC file operations a host uses, confined to the profile's afc/ or afc2/ folder.
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "afc_path.h"
#include "afc_protocol.h"
#include "device_service.h"
#include "log.h"
#include "platform/kst_file.h"

namespace vdevice {

namespace {

namespace fs = std::filesystem;

// One read reply carries at most this much; hosts ask again for the rest.
constexpr uint64_t kMaxReadChunk = 8 << 20;
constexpr size_t kMaxOpenFiles = 256;
// Room for the usual file-information pairs of one reply.
constexpr size_t kFileInfoReserve = 160;

uint64_t AfcErrorOfErrno(int error) {
  switch (error) {
    case 0: return kAfcSuccess;
    case ENOENT: case ENOTDIR: return kAfcObjectNotFound;
    case EISDIR: return kAfcObjectIsDirectory;
    case EACCES: case EPERM: case EROFS: case EXDEV: case EBADF: return kAfcPermissionDenied;
    case EEXIST: return kAfcObjectExists;
    case ENOTEMPTY: return kAfcDirectoryNotEmpty;
    case ENOSPC: case EDQUOT: return kAfcNoSpaceLeft;
    case EBUSY: return kAfcObjectBusy;
    case EWOULDBLOCK: return kAfcWouldBlock;
    case EINVAL: case ENAMETOOLONG: return kAfcInvalidArgument;
    case EIO: return kAfcIoError;
    default: return kAfcUnknownError;
  }
}

// An armed error fault names an AFC error number; anything else stands for an unknown error.
uint64_t AfcErrorOfFaultValue(const std::string& value) {
  if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos) {
    return kAfcUnknownError;
  }
  return std::strtoull(value.c_str(), nullptr, 10);
}

uint64_t AfcErrorOf(const std::error_code& error) { return AfcErrorOfErrno(error.value()); }

const char* IfmtName(kst::PathType type) {
  switch (type) {
    case kst::PathType::kDirectory: return "S_IFDIR";
    case kst::PathType::kSymlink: return "S_IFLNK";
    default: return "S_IFREG";
  }
}

std::optional<kst::FileOpenMode> OpenModeOf(uint64_t mode) {
  switch (mode) {
    case 1: return kst::FileOpenMode::kRead;
    case 2: return kst::FileOpenMode::kReadWrite;
    case 3: return kst::FileOpenMode::kWriteTruncate;
    case 4: return kst::FileOpenMode::kReadWriteTruncate;
    case 5: return kst::FileOpenMode::kAppend;
    case 6: return kst::FileOpenMode::kReadAppend;
    default: return std::nullopt;
  }
}

// A reply other than a plain status: its operation and parameter bytes.
struct AfcAnswer {
  uint64_t operation = kAfcStatus;
  uint64_t status = kAfcSuccess;
  std::string body;

  static AfcAnswer Status(uint64_t status) { return AfcAnswer{kAfcStatus, status, {}}; }
  static AfcAnswer Data(std::string bytes) { return AfcAnswer{kAfcData, kAfcSuccess, std::move(bytes)}; }
};

class AfcService : public DeviceService {
 public:
  AfcService(const std::string& root, std::string model, std::optional<kst::FileSystemSpace> space)
      : paths_(root), model_(std::move(model)), space_(space) {}

  void Serve(ServiceContext& context) override {
    AfcRequestReader requests(context.stream);
    AfcReplyWriter replies(context.stream);
    for (;;) {
      // The replies gathered so far leave before this side waits for the host.
      if (!requests.HasWholeRequest() && !replies.Flush()) return;
      AfcRequest request;
      std::string error;
      AfcReadStatus status = requests.Next(&request, &error);
      if (status == AfcReadStatus::kClosed) return;
      if (status == AfcReadStatus::kMalformed) {
        LogLine("%s %s: bad packet (%s); closing", context.device.udid().c_str(), context.stream.service().c_str(),
                error.c_str());
        replies.Flush();
        return;
      }
      if (!Answer(context.stream, request, replies)) return;
    }
  }

 private:
  bool Answer(ServiceStream& stream, const AfcRequest& request, AfcReplyWriter& replies) {
    uint64_t number = request.header.packet_number;
    if (std::optional<std::string> injected = stream.TakeInjectedError()) {
      return replies.Status(number, AfcErrorOfFaultValue(*injected));
    }
    LogDetail("%s: operation 0x%llx", stream.service().c_str(), static_cast<unsigned long long>(request.header.operation));
    if (request.header.operation == kAfcFileRead) return ReadFile(request, replies);
    AfcAnswer answer = Dispatch(request);
    if (answer.operation == kAfcStatus) {
      if (answer.status != kAfcSuccess) {
        LogDetail("%s: operation 0x%llx answered error %llu", stream.service().c_str(),
                  static_cast<unsigned long long>(request.header.operation),
                  static_cast<unsigned long long>(answer.status));
      }
      return replies.Status(number, answer.status);
    }
    if (answer.operation == kAfcData) return replies.Data(number, answer.body.data(), answer.body.size());
    return replies.Reply(number, answer.operation, answer.body);
  }

  AfcAnswer Dispatch(const AfcRequest& request) {
    AfcParameters parameters(request.parameters);
    switch (request.header.operation) {
      case kAfcReadDirectory: return ReadDirectory(parameters);
      case kAfcGetFileInfo: return GetFileInfo(parameters);
      case kAfcGetDeviceInfo: return GetDeviceInfo();
      case kAfcMakeDirectory: return MakeDirectory(parameters);
      case kAfcRemovePath: return RemovePath(parameters, false);
      case kAfcRemovePathAndContents: return RemovePath(parameters, true);
      case kAfcRenamePath: return RenamePath(parameters);
      case kAfcFileOpen: return OpenFile(parameters);
      case kAfcFileWrite: return WriteFile(parameters, request.payload);
      case kAfcFileSeek: return SeekFile(parameters);
      case kAfcFileTell: return TellFile(parameters);
      case kAfcFileSetSize: return ResizeFile(parameters);
      case kAfcTruncatePath: return TruncatePath(parameters);
      case kAfcFileLock: return LockFile(parameters);
      case kAfcFileClose: return CloseFile(parameters);
      case kAfcMakeLink: return MakeLink(parameters);
      case kAfcSetFileModTime: return SetModTime(parameters);
      case kAfcGetFileHash: return HashFile(parameters);
      default:
        LogLine("afc: unsupported operation 0x%llx", static_cast<unsigned long long>(request.header.operation));
        return AfcAnswer::Status(kAfcUnknownPacketType);
    }
  }

  // Reads a path parameter and maps it; a non-zero return is the AFC error to answer.
  uint64_t MapPath(AfcParameters& parameters, FinalLink final_link, std::string* host_path) {
    std::string_view device_path;
    if (!parameters.ReadString(&device_path)) return kAfcInvalidArgument;
    int result = paths_.Map(device_path, final_link, host_path);
    if (result == kAfcPermissionDenied) {
      LogLine("afc: refused path outside the served folder: %s", std::string(device_path).c_str());
    }
    return static_cast<uint64_t>(result);
  }

  kst::KstFile* FindFile(AfcParameters& parameters) {
    uint64_t handle = 0;
    if (!parameters.ReadU64(&handle)) return nullptr;
    auto found = files_.find(handle);
    return found == files_.end() ? nullptr : &found->second;
  }

  AfcAnswer ReadDirectory(AfcParameters& parameters) {
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kFollow, &path)) return AfcAnswer::Status(error);
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      return AfcAnswer::Status(fs::exists(path, error) ? kAfcInvalidArgument : kAfcObjectNotFound);
    }
    std::vector<std::string> names{".", ".."};
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
      names.push_back(entry.path().filename().string());
    }
    if (error) return AfcAnswer::Status(AfcErrorOf(error));
    std::sort(names.begin() + 2, names.end());
    return AfcAnswer::Data(EncodeAfcNames(names));
  }

  AfcAnswer GetFileInfo(AfcParameters& parameters) {
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &path)) return AfcAnswer::Status(error);
    kst::PathInfo info;
    if (int error = kst::StatPath(path, &info)) return AfcAnswer::Status(AfcErrorOfErrno(error));
    std::string body;
    body.reserve(kFileInfoReserve + info.link_target.size());
    AppendAfcNumberPair(&body, "st_size", info.size);
    AppendAfcNumberPair(&body, "st_blocks", info.blocks);
    AppendAfcNumberPair(&body, "st_nlink", info.link_count);
    AppendAfcPair(&body, "st_ifmt", IfmtName(info.type));
    AppendAfcNumberPair(&body, "st_mtime", info.modified_ns);
    AppendAfcNumberPair(&body, "st_birthtime", info.born_ns);
    if (info.type == kst::PathType::kSymlink) AppendAfcPair(&body, "LinkTarget", info.link_target);
    return AfcAnswer::Data(std::move(body));
  }

  AfcAnswer GetDeviceInfo() {
    kst::FileSystemSpace space;
    if (space_) {
      space = *space_;
    } else if (int error = kst::QueryFileSystemSpace(paths_.root(), &space)) {
      return AfcAnswer::Status(AfcErrorOfErrno(error));
    }
    return AfcAnswer::Data(EncodeAfcPairs({{"Model", model_},
                                           {"FSTotalBytes", std::to_string(space.total_bytes)},
                                           {"FSFreeBytes", std::to_string(space.free_bytes)},
                                           {"FSBlockSize", std::to_string(space.block_size)}}));
  }

  AfcAnswer MakeDirectory(AfcParameters& parameters) {
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &path)) return AfcAnswer::Status(error);
    std::error_code error;
    // Like "mkdir -p": an existing folder is fine, anything else in the way is not.
    if (fs::exists(fs::symlink_status(path, error)) && !fs::is_directory(path, error)) {
      return AfcAnswer::Status(kAfcObjectExists);
    }
    fs::create_directories(path, error);
    return AfcAnswer::Status(fs::is_directory(path) ? kAfcSuccess : AfcErrorOf(error));
  }

  AfcAnswer RemovePath(AfcParameters& parameters, bool with_contents) {
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &path)) return AfcAnswer::Status(error);
    if (path == paths_.root()) return AfcAnswer::Status(kAfcPermissionDenied);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error))) return AfcAnswer::Status(kAfcObjectNotFound);
    if (with_contents) {
      fs::remove_all(path, error);
    } else {
      fs::remove(path, error);
    }
    return AfcAnswer::Status(AfcErrorOf(error));
  }

  AfcAnswer RenamePath(AfcParameters& parameters) {
    std::string from, to;
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &from)) return AfcAnswer::Status(error);
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &to)) return AfcAnswer::Status(error);
    if (from == paths_.root() || to == paths_.root()) return AfcAnswer::Status(kAfcPermissionDenied);
    std::error_code error;
    fs::rename(from, to, error);
    return AfcAnswer::Status(AfcErrorOf(error));
  }

  AfcAnswer OpenFile(AfcParameters& parameters) {
    uint64_t mode_number = 0;
    if (!parameters.ReadU64(&mode_number)) return AfcAnswer::Status(kAfcInvalidArgument);
    std::optional<kst::FileOpenMode> mode = OpenModeOf(mode_number);
    if (!mode) return AfcAnswer::Status(kAfcInvalidArgument);
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kFollow, &path)) return AfcAnswer::Status(error);
    std::error_code error;
    if (fs::is_directory(path, error)) return AfcAnswer::Status(kAfcObjectIsDirectory);
    if (files_.size() >= kMaxOpenFiles) return AfcAnswer::Status(kAfcNoResources);
    kst::KstFile file;
    if (int open_error = file.Open(path, *mode)) return AfcAnswer::Status(AfcErrorOfErrno(open_error));
    uint64_t handle = next_handle_++;
    files_.emplace(handle, std::move(file));
    if (IsFillFolderPath(path)) sparse_handles_.insert(handle);
    return AfcAnswer{kAfcFileOpenResult, kAfcSuccess, EncodeAfcU64(handle)};
  }

  // Reads go straight from the file into a reused buffer and from there onto the socket. The
  // buffer is never cleared: the reply carries only the bytes the read put there.
  bool ReadFile(const AfcRequest& request, AfcReplyWriter& replies) {
    AfcParameters parameters(request.parameters);
    uint64_t number = request.header.packet_number;
    kst::KstFile* file = FindFile(parameters);
    uint64_t wanted = 0;
    if (!file || !parameters.ReadU64(&wanted)) return replies.Status(number, kAfcInvalidArgument);
    size_t chunk = static_cast<size_t>(std::min(wanted, kMaxReadChunk));
    if (read_capacity_ < chunk) {
      read_buffer_.reset(new char[chunk]);
      read_capacity_ = chunk;
    }
    size_t count = 0;
    if (int error = file->Read(read_buffer_.get(), chunk, &count)) {
      return replies.Status(number, error == EBADF ? kAfcPermissionDenied : kAfcReadError);
    }
    return replies.Data(number, read_buffer_.get(), count);
  }

  AfcAnswer WriteFile(AfcParameters& parameters, std::string_view payload) {
    uint64_t handle = 0;
    if (!AfcParameters(parameters).ReadU64(&handle)) return AfcAnswer::Status(kAfcInvalidArgument);
    kst::KstFile* file = FindFile(parameters);
    if (!file) return AfcAnswer::Status(kAfcInvalidArgument);
    if (sparse_handles_.count(handle) && IsAllZero(payload)) return AfcAnswer::Status(SkipZeros(file, payload.size()));
    int error = file->Write(payload.data(), payload.size());
    return AfcAnswer::Status(error == EBADF ? kAfcPermissionDenied : error ? kAfcWriteError : kAfcSuccess);
  }

  AfcAnswer SeekFile(AfcParameters& parameters) {
    kst::KstFile* file = FindFile(parameters);
    uint64_t whence = 0, offset = 0;
    if (!file || !parameters.ReadU64(&whence) || !parameters.ReadU64(&offset) || whence > 2) {
      return AfcAnswer::Status(kAfcInvalidArgument);
    }
    return AfcAnswer::Status(AfcErrorOfErrno(file->Seek(static_cast<int64_t>(offset), static_cast<int>(whence))));
  }

  AfcAnswer TellFile(AfcParameters& parameters) {
    kst::KstFile* file = FindFile(parameters);
    int64_t position = 0;
    if (!file) return AfcAnswer::Status(kAfcInvalidArgument);
    if (int error = file->Tell(&position)) return AfcAnswer::Status(AfcErrorOfErrno(error));
    return AfcAnswer{kAfcFileTellResult, kAfcSuccess, EncodeAfcU64(static_cast<uint64_t>(position))};
  }

  AfcAnswer ResizeFile(AfcParameters& parameters) {
    kst::KstFile* file = FindFile(parameters);
    uint64_t size = 0;
    if (!file || !parameters.ReadU64(&size) || size > INT64_MAX) return AfcAnswer::Status(kAfcInvalidArgument);
    return AfcAnswer::Status(AfcErrorOfErrno(file->Resize(static_cast<int64_t>(size))));
  }

  AfcAnswer TruncatePath(AfcParameters& parameters) {
    uint64_t size = 0;
    if (!parameters.ReadU64(&size) || size > INT64_MAX) return AfcAnswer::Status(kAfcInvalidArgument);
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kFollow, &path)) return AfcAnswer::Status(error);
    std::error_code error;
    if (fs::is_directory(path, error)) return AfcAnswer::Status(kAfcObjectIsDirectory);
    if (!fs::exists(path, error)) return AfcAnswer::Status(kAfcObjectNotFound);
    fs::resize_file(path, size, error);
    return AfcAnswer::Status(AfcErrorOf(error));
  }

  AfcAnswer LockFile(AfcParameters& parameters) {
    kst::KstFile* file = FindFile(parameters);
    uint64_t operation = 0;
    if (!file || !parameters.ReadU64(&operation)) return AfcAnswer::Status(kAfcInvalidArgument);
    kst::FileLockKind kind = (operation & 8) ? kst::FileLockKind::kUnlock
                             : (operation & 2) ? kst::FileLockKind::kExclusive
                                               : kst::FileLockKind::kShared;
    if (!(operation & 0xB)) return AfcAnswer::Status(kAfcInvalidArgument);
    // A blocking lock would hold this connection's thread forever; every lock is tried once.
    return AfcAnswer::Status(AfcErrorOfErrno(file->Lock(kind, false)));
  }

  AfcAnswer CloseFile(AfcParameters& parameters) {
    uint64_t handle = 0;
    if (!parameters.ReadU64(&handle) || files_.erase(handle) == 0) return AfcAnswer::Status(kAfcInvalidArgument);
    sparse_handles_.erase(handle);
    return AfcAnswer::Status(kAfcSuccess);
  }

  AfcAnswer MakeLink(AfcParameters& parameters) {
    uint64_t type = 0;
    std::string target, link;
    if (!parameters.ReadU64(&type) || !parameters.ReadString(&target) || (type != 1 && type != 2)) {
      return AfcAnswer::Status(kAfcInvalidArgument);
    }
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &link)) return AfcAnswer::Status(error);
    std::error_code error;
    if (type == 2) {
      fs::create_symlink(target, link, error);
      return AfcAnswer::Status(AfcErrorOf(error));
    }
    std::string host_target;
    int mapped = paths_.Map(target, FinalLink::kFollow, &host_target);
    if (mapped != kAfcSuccess) return AfcAnswer::Status(static_cast<uint64_t>(mapped));
    fs::create_hard_link(host_target, link, error);
    return AfcAnswer::Status(AfcErrorOf(error));
  }

  AfcAnswer SetModTime(AfcParameters& parameters) {
    uint64_t modified_ns = 0;
    if (!parameters.ReadU64(&modified_ns) || modified_ns > INT64_MAX) return AfcAnswer::Status(kAfcInvalidArgument);
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kDontFollow, &path)) return AfcAnswer::Status(error);
    return AfcAnswer::Status(AfcErrorOfErrno(kst::SetModifiedTime(path, static_cast<int64_t>(modified_ns))));
  }

  AfcAnswer HashFile(AfcParameters& parameters) {
    std::string path;
    if (uint64_t error = MapPath(parameters, FinalLink::kFollow, &path)) return AfcAnswer::Status(error);
    kst::KstFile file;
    if (int error = file.Open(path, kst::FileOpenMode::kRead)) return AfcAnswer::Status(AfcErrorOfErrno(error));
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> hash(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha1(), nullptr) != 1) return AfcAnswer::Status(kAfcNoResources);
    std::vector<char> buffer(1 << 20);
    for (size_t count = 1; count > 0;) {
      if (file.Read(buffer.data(), buffer.size(), &count) != 0) return AfcAnswer::Status(kAfcReadError);
      EVP_DigestUpdate(hash.get(), buffer.data(), count);
    }
    std::string digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    EVP_DigestFinal_ex(hash.get(), reinterpret_cast<unsigned char*>(digest.data()), &length);
    digest.resize(length);
    return AfcAnswer::Data(digest);
  }

  // Free-space erasers fill /iostemp with zeros; those files are kept sparse so that a test can
  // run a whole fill without the computer's disk filling up.
  bool IsFillFolderPath(const std::string& host_path) const {
    const std::string folder = paths_.root() + "/iostemp/";
    return host_path.compare(0, folder.size(), folder) == 0;
  }

  static bool IsAllZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
  }

  // Moves past the zeros and grows the file to cover them, leaving a hole instead of data.
  static uint64_t SkipZeros(kst::KstFile* file, size_t length) {
    int64_t position = 0, size = 0;
    if (file->Seek(static_cast<int64_t>(length), 1, &position) != 0 || file->Size(&size) != 0) return kAfcWriteError;
    if (position > size && file->Resize(position) != 0) return kAfcWriteError;
    return kAfcSuccess;
  }

  AfcPathMapper paths_;
  std::string model_;
  std::set<uint64_t> sparse_handles_;
  std::optional<kst::FileSystemSpace> space_;
  std::map<uint64_t, kst::KstFile> files_;
  uint64_t next_handle_ = 1;
  std::unique_ptr<char[]> read_buffer_;
  size_t read_capacity_ = 0;
};

// The profile's storage figures, when it has them, so that AFC and lockdown agree.
std::optional<kst::FileSystemSpace> ProfileSpace(const VirtualDevice& device) {
  PlistPtr usage = device.GetValue("com.apple.disk_usage", "");
  std::optional<uint64_t> total = DictUnsigned(usage.get(), "TotalDataCapacity");
  std::optional<uint64_t> free = DictUnsigned(usage.get(), "TotalDataAvailable");
  if (!total || !free) return std::nullopt;
  return kst::FileSystemSpace{*total, *free, 4096};
}

std::unique_ptr<DeviceService> MakeAfcFor(const VirtualDevice& device, const char* folder) {
  std::string root = device.profile().AfcRoot(folder);
  if (root.empty()) return nullptr;
  return std::make_unique<AfcService>(root, device.StringValue("ProductType").value_or("iPhone"), ProfileSpace(device));
}

std::unique_ptr<DeviceService> MakeAfcService(const VirtualDevice& device) { return MakeAfcFor(device, "afc"); }
std::unique_ptr<DeviceService> MakeAfc2Service(const VirtualDevice& device) { return MakeAfcFor(device, "afc2"); }

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.afc", MakeAfcService);
VDEVICE_REGISTER_SERVICE("com.apple.afc2", MakeAfc2Service);

}  // namespace vdevice
