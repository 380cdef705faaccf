// The AFC* entry points. AFCConnectionOpen takes a socket: when it belongs to a service started
// here, the AFC connection uses that service's channel (and so its SSL state); any other socket
// is spoken to directly and stays owned by the caller. Directory listings and key/value replies
// are fetched whole when opened and read locally afterwards. KorAFCFileInfoOpenBatch, this
// framework's own addition, asks about many paths with their requests pipelined.
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"
#include "mobiledevice/afc_connection.h"

struct afc_directory {
  std::vector<std::string> names;
  size_t next = 0;
};

struct afc_dictionary {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t next = 0;
};

struct afc_connection {
  explicit afc_connection(std::shared_ptr<devicefw::md::ServiceChannel> channel) : afc(std::move(channel)) {}

  devicefw::md::AfcConnection afc;
  // Listings belong to their connection, so that the ones a caller never closes are freed with it
  // and a directory handle can be checked before use.
  std::mutex directories_mutex;
  std::unordered_map<AFCDirectoryRef, std::unique_ptr<afc_directory>> directories;
};

namespace devicefw::md {
namespace {

template <typename Body>
afc_error_t AfcCall(AFCConnectionRef connection, Body&& body) {
  if (connection == nullptr) return kAFCInvalidArgumentError;
  return GuardedCall<afc_error_t>(kAFCNoResourcesError, [&] { return body(connection->afc); });
}

afc_error_t PathRequest(AFCConnectionRef connection, AfcOperation operation, const char* path,
                        std::vector<uint8_t>* reply = nullptr, uint64_t reply_operation = kAfcOpStatus) {
  if (path == nullptr) return kAFCInvalidArgumentError;
  return AfcCall(connection, [&](AfcConnection& afc) {
    AfcParameters parameters;
    parameters.Text(path);
    return afc.Exchange(operation, parameters, reply_operation, reply);
  });
}

afc_error_t FileRequest(AFCConnectionRef connection, AfcOperation operation, AfcParameters parameters,
                        std::vector<uint8_t>* reply = nullptr, uint64_t reply_operation = kAfcOpStatus) {
  return AfcCall(connection, [&](AfcConnection& afc) {
    return afc.Exchange(operation, parameters, reply_operation, reply);
  });
}

// Key/value replies alternate keys and values; an unpaired trailing key is dropped.
afc_error_t OpenKeyValues(afc_error_t result, const uint8_t* reply, size_t length, AFCDictionaryRef* out) {
  if (result != kAFCSuccess) return result;
  return GuardedCall<afc_error_t>(kAFCNoResourcesError, [&] {
    std::vector<std::string> pieces = SplitZeroTerminated(reply, length);
    auto dictionary = std::make_unique<afc_dictionary>();
    dictionary->pairs.reserve(pieces.size() / 2);
    for (size_t i = 0; i + 1 < pieces.size(); i += 2) {
      dictionary->pairs.emplace_back(std::move(pieces[i]), std::move(pieces[i + 1]));
    }
    *out = dictionary.release();
    return kAFCSuccess;
  });
}

afc_error_t OpenKeyValues(afc_error_t result, const std::vector<uint8_t>& reply, AFCDictionaryRef* out) {
  return OpenKeyValues(result, reply.data(), reply.size(), out);
}

// File information replies are a handful of short pairs; a path names at most a few kilobytes.
constexpr uint64_t kMaxFileInfoBody = 64 << 10;
// Paths of one locked stretch of a batch: other users of the connection get a turn in between.
constexpr size_t kBatchStretch = 512;

// One stretch of a batch: the paths at `indices`, all non-null. When the exchange breaks, the paths
// it left unanswered carry its error.
afc_error_t FileInfoStretch(AfcConnection& afc, const char* const* paths, const std::vector<size_t>& indices,
                            AFCDictionaryRef* infos, afc_error_t* results) {
  size_t answered = 0;
  const afc_error_t outcome = afc.ExchangeMany(
      kAfcOpGetFileInfo, indices.size(), kAfcOpData, kMaxFileInfoBody,
      [&](size_t index, AfcParameters* parameters) { parameters->Text(paths[indices[index]]); },
      [&](size_t index, afc_error_t error, const uint8_t* body, size_t length) {
        const size_t at = indices[index];
        results[at] = OpenKeyValues(error, body, length, &infos[at]);
        answered = index + 1;
      });
  for (size_t i = answered; i < indices.size(); ++i) results[indices[i]] = outcome;
  return outcome;
}

afc_error_t FileInfoBatch(AfcConnection& afc, const char* const* paths, size_t count, AFCDictionaryRef* infos,
                          afc_error_t* results) {
  std::vector<size_t> indices;
  afc_error_t outcome = kAFCSuccess;
  for (size_t start = 0; start < count; start += kBatchStretch) {
    indices.clear();
    for (size_t i = start; i < std::min(count, start + kBatchStretch); ++i) {
      infos[i] = nullptr;
      // What a path that never gets its answer reports, should the exchange itself fail.
      const afc_error_t unanswered = outcome != kAFCSuccess ? outcome : kAFCNoResourcesError;
      results[i] = paths[i] == nullptr ? kAFCInvalidArgumentError : unanswered;
      if (paths[i] != nullptr) indices.push_back(i);
    }
    if (outcome == kAFCSuccess && !indices.empty()) outcome = FileInfoStretch(afc, paths, indices, infos, results);
  }
  return outcome;
}

afc_error_t ReadFile(AfcConnection& afc, AFCFileRef file, uint8_t* buffer, uint32_t* length) {
  size_t total = 0;
  const size_t wanted = *length;
  afc_error_t result = kAFCSuccess;
  while (total < wanted) {
    size_t got = 0;
    result = afc.ReadPiece(file, buffer + total, std::min(wanted - total, kAfcMaxReadPiece), &got);
    if (result != kAFCSuccess || got == 0) break;
    total += got;
  }
  *length = static_cast<uint32_t>(total);
  return total > 0 ? kAFCSuccess : result;
}

afc_error_t WriteFile(AfcConnection& afc, AFCFileRef file, const uint8_t* data, uint32_t length) {
  size_t written = 0;
  do {
    const size_t piece = std::min<size_t>(length - written, kAfcMaxWritePiece);
    AfcParameters parameters;
    parameters.U64(file);
    const afc_error_t result = afc.Exchange(kAfcOpFileWrite, parameters, kAfcOpStatus, nullptr, data + written, piece);
    if (result != kAFCSuccess) return result;
    written += piece;
  } while (written < length);
  return kAFCSuccess;
}

}  // namespace
}  // namespace devicefw::md

using devicefw::GuardedCall;
using devicefw::md::AfcCall;
using devicefw::md::AfcConnection;
using devicefw::md::AfcParameters;
using devicefw::md::FileRequest;
using devicefw::md::PathRequest;

extern "C" {

afc_error_t AFCConnectionOpen(int32_t socket, uint32_t, AFCConnectionRef* connection) {
  if (connection == nullptr || socket < 0) return kAFCInvalidArgumentError;
  *connection = nullptr;
  return GuardedCall<afc_error_t>(kAFCNoResourcesError, [&] {
    std::shared_ptr<devicefw::md::ServiceChannel> channel = devicefw::md::FindChannel(socket);
    if (!channel) channel = devicefw::md::ServiceChannel::ForSocket(socket);
    *connection = new afc_connection(std::move(channel));
    return kAFCSuccess;
  });
}

afc_error_t AFCConnectionClose(AFCConnectionRef connection) {
  if (connection == nullptr) return kAFCInvalidArgumentError;
  delete connection;
  return kAFCSuccess;
}

afc_error_t AFCConnectionSetSecureContext(AFCConnectionRef, void*) { return kAFCUnsupportedError; }

afc_error_t AFCDirectoryOpen(AFCConnectionRef connection, const char* path, AFCDirectoryRef* directory) {
  if (directory == nullptr) return kAFCInvalidArgumentError;
  *directory = nullptr;
  std::vector<uint8_t> reply;
  const afc_error_t result = PathRequest(connection, devicefw::md::kAfcOpReadDirectory, path, &reply,
                                         devicefw::md::kAfcOpData);
  if (result != kAFCSuccess) return result;
  return GuardedCall<afc_error_t>(kAFCNoResourcesError, [&] {
    auto listing = std::make_unique<afc_directory>();
    listing->names = devicefw::md::SplitZeroTerminated(reply);
    std::lock_guard lock(connection->directories_mutex);
    AFCDirectoryRef handle = listing.get();
    connection->directories.emplace(handle, std::move(listing));
    *directory = handle;
    return kAFCSuccess;
  });
}

// Gives the next name, or null after the last; the text stays valid until the directory is closed.
afc_error_t AFCDirectoryRead(AFCConnectionRef connection, AFCDirectoryRef directory, char** name) {
  if (connection == nullptr || name == nullptr) return kAFCInvalidArgumentError;
  *name = nullptr;
  std::lock_guard lock(connection->directories_mutex);
  if (directory == nullptr || connection->directories.count(directory) == 0) return kAFCInvalidArgumentError;
  if (directory->next < directory->names.size()) *name = directory->names[directory->next++].data();
  return kAFCSuccess;
}

afc_error_t AFCDirectoryClose(AFCConnectionRef connection, AFCDirectoryRef directory) {
  if (connection == nullptr) return kAFCInvalidArgumentError;
  std::lock_guard lock(connection->directories_mutex);
  return connection->directories.erase(directory) == 1 ? kAFCSuccess : kAFCInvalidArgumentError;
}

afc_error_t AFCDirectoryCreate(AFCConnectionRef connection, const char* path) {
  return PathRequest(connection, devicefw::md::kAfcOpMakeDirectory, path);
}

afc_error_t AFCRemovePath(AFCConnectionRef connection, const char* path) {
  return PathRequest(connection, devicefw::md::kAfcOpRemovePath, path);
}

afc_error_t AFCRenamePath(AFCConnectionRef connection, const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return kAFCInvalidArgumentError;
  AfcParameters parameters;
  parameters.Text(from).Text(to);
  return FileRequest(connection, devicefw::md::kAfcOpRenamePath, parameters);
}

afc_error_t AFCFileInfoOpen(AFCConnectionRef connection, const char* path, AFCDictionaryRef* info) {
  if (info == nullptr) return kAFCInvalidArgumentError;
  *info = nullptr;
  std::vector<uint8_t> reply;
  const afc_error_t result = PathRequest(connection, devicefw::md::kAfcOpGetFileInfo, path, &reply,
                                         devicefw::md::kAfcOpData);
  return devicefw::md::OpenKeyValues(result, reply, info);
}

afc_error_t KorAFCFileInfoOpenBatch(AFCConnectionRef connection, const char* const* paths, size_t count,
                                    AFCDictionaryRef* infos, afc_error_t* results) {
  if (count > 0 && (paths == nullptr || infos == nullptr || results == nullptr)) return kAFCInvalidArgumentError;
  return AfcCall(connection, [&](AfcConnection& afc) {
    return devicefw::md::FileInfoBatch(afc, paths, count, infos, results);
  });
}

afc_error_t AFCDeviceInfoOpen(AFCConnectionRef connection, AFCDictionaryRef* info) {
  if (info == nullptr) return kAFCInvalidArgumentError;
  *info = nullptr;
  std::vector<uint8_t> reply;
  const afc_error_t result = FileRequest(connection, devicefw::md::kAfcOpGetDeviceInfo, AfcParameters(), &reply,
                                         devicefw::md::kAfcOpData);
  return devicefw::md::OpenKeyValues(result, reply, info);
}

// Gives the next pair, or null key and value after the last; texts stay valid until closed.
afc_error_t AFCKeyValueRead(AFCDictionaryRef info, char** key, char** value) {
  if (info == nullptr || key == nullptr || value == nullptr) return kAFCInvalidArgumentError;
  *key = nullptr;
  *value = nullptr;
  if (info->next < info->pairs.size()) {
    auto& [next_key, next_value] = info->pairs[info->next++];
    *key = next_key.data();
    *value = next_value.data();
  }
  return kAFCSuccess;
}

afc_error_t AFCKeyValueClose(AFCDictionaryRef info) {
  if (info == nullptr) return kAFCInvalidArgumentError;
  delete info;
  return kAFCSuccess;
}

afc_error_t AFCFileRefOpen(AFCConnectionRef connection, const char* path, uint64_t mode, AFCFileRef* file) {
  if (path == nullptr || file == nullptr || mode < kAFCFileModeReadOnly || mode > kAFCFileModeReadWriteCreateAppend) {
    return kAFCInvalidArgumentError;
  }
  *file = 0;
  std::vector<uint8_t> reply;
  AfcParameters parameters;
  parameters.U64(mode).Text(path);
  const afc_error_t result =
      FileRequest(connection, devicefw::md::kAfcOpFileOpen, parameters, &reply, devicefw::md::kAfcOpFileOpenResult);
  if (result != kAFCSuccess) return result;
  if (reply.size() < 8) return kAFCBadHeaderError;
  *file = devicefw::md::ReadLittleEndian64(reply.data());
  return kAFCSuccess;
}

afc_error_t AFCFileRefClose(AFCConnectionRef connection, AFCFileRef file) {
  AfcParameters parameters;
  parameters.U64(file);
  return FileRequest(connection, devicefw::md::kAfcOpFileClose, parameters);
}

// *length is in: bytes wanted, out: bytes read. The request is served fully unless the file ends
// first; 0 bytes with success means the end of the file.
afc_error_t AFCFileRefRead(AFCConnectionRef connection, AFCFileRef file, void* buffer, uint32_t* length) {
  if (buffer == nullptr || length == nullptr) return kAFCInvalidArgumentError;
  return AfcCall(connection, [&](AfcConnection& afc) {
    return devicefw::md::ReadFile(afc, file, static_cast<uint8_t*>(buffer), length);
  });
}

afc_error_t AFCFileRefWrite(AFCConnectionRef connection, AFCFileRef file, const void* data, uint32_t length) {
  if (data == nullptr && length > 0) return kAFCInvalidArgumentError;
  return AfcCall(connection, [&](AfcConnection& afc) {
    return devicefw::md::WriteFile(afc, file, static_cast<const uint8_t*>(data), length);
  });
}

afc_error_t AFCFileRefSeek(AFCConnectionRef connection, AFCFileRef file, int64_t offset, int32_t whence) {
  if (whence < kAFCSeekSet || whence > kAFCSeekEnd) return kAFCInvalidArgumentError;
  AfcParameters parameters;
  parameters.U64(file).U64(static_cast<uint64_t>(whence)).U64(static_cast<uint64_t>(offset));
  return FileRequest(connection, devicefw::md::kAfcOpFileSeek, parameters);
}

afc_error_t AFCFileRefTell(AFCConnectionRef connection, AFCFileRef file, uint64_t* position) {
  if (position == nullptr) return kAFCInvalidArgumentError;
  std::vector<uint8_t> reply;
  AfcParameters parameters;
  parameters.U64(file);
  const afc_error_t result =
      FileRequest(connection, devicefw::md::kAfcOpFileTell, parameters, &reply, devicefw::md::kAfcOpFileTellResult);
  if (result != kAFCSuccess) return result;
  if (reply.size() < 8) return kAFCBadHeaderError;
  *position = devicefw::md::ReadLittleEndian64(reply.data());
  return kAFCSuccess;
}

afc_error_t AFCFileRefSetFileSize(AFCConnectionRef connection, AFCFileRef file, uint64_t size) {
  AfcParameters parameters;
  parameters.U64(file).U64(size);
  return FileRequest(connection, devicefw::md::kAfcOpFileSetSize, parameters);
}

// A non-zero `exclusive` takes an exclusive lock, zero a shared one; the lock never blocks.
afc_error_t AFCFileRefLock(AFCConnectionRef connection, AFCFileRef file, uint64_t exclusive) {
  AfcParameters parameters;
  parameters.U64(file).U64(exclusive != 0 ? devicefw::md::kAfcLockExclusive : devicefw::md::kAfcLockShared);
  return FileRequest(connection, devicefw::md::kAfcOpFileLock, parameters);
}

afc_error_t AFCFileRefUnlock(AFCConnectionRef connection, AFCFileRef file) {
  AfcParameters parameters;
  parameters.U64(file).U64(devicefw::md::kAfcLockUnlock);
  return FileRequest(connection, devicefw::md::kAfcOpFileLock, parameters);
}

// Every write is acknowledged by the device before AFCFileRefWrite returns, so there is nothing
// left to flush.
afc_error_t AFCFlushData(AFCConnectionRef connection, AFCFileRef) {
  return connection == nullptr ? kAFCInvalidArgumentError : kAFCSuccess;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AFCConnectionOpen), AFCConnectionOpenFn>);
static_assert(std::is_same_v<decltype(&AFCConnectionClose), AFCConnectionCloseFn>);
static_assert(std::is_same_v<decltype(&AFCConnectionSetSecureContext), AFCConnectionSetSecureContextFn>);
static_assert(std::is_same_v<decltype(&AFCDirectoryOpen), AFCDirectoryOpenFn>);
static_assert(std::is_same_v<decltype(&AFCDirectoryRead), AFCDirectoryReadFn>);
static_assert(std::is_same_v<decltype(&AFCDirectoryClose), AFCDirectoryCloseFn>);
static_assert(std::is_same_v<decltype(&AFCDirectoryCreate), AFCDirectoryCreateFn>);
static_assert(std::is_same_v<decltype(&AFCRemovePath), AFCRemovePathFn>);
static_assert(std::is_same_v<decltype(&AFCRenamePath), AFCRenamePathFn>);
static_assert(std::is_same_v<decltype(&AFCFileInfoOpen), AFCFileInfoOpenFn>);
static_assert(std::is_same_v<decltype(&AFCDeviceInfoOpen), AFCDeviceInfoOpenFn>);
static_assert(std::is_same_v<decltype(&AFCKeyValueRead), AFCKeyValueReadFn>);
static_assert(std::is_same_v<decltype(&AFCKeyValueClose), AFCKeyValueCloseFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefOpen), AFCFileRefOpenFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefClose), AFCFileRefCloseFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefRead), AFCFileRefReadFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefWrite), AFCFileRefWriteFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefSeek), AFCFileRefSeekFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefTell), AFCFileRefTellFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefSetFileSize), AFCFileRefSetFileSizeFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefLock), AFCFileRefLockFn>);
static_assert(std::is_same_v<decltype(&AFCFileRefUnlock), AFCFileRefUnlockFn>);
static_assert(std::is_same_v<decltype(&AFCFlushData), AFCFlushDataFn>);
static_assert(std::is_same_v<decltype(&KorAFCFileInfoOpenBatch), KorAFCFileInfoOpenBatchFn>);
