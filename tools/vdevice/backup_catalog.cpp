#include "backup_catalog.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include <sys/stat.h>

#include "device_profile.h"
#include "platform/kst_fs.h"

namespace vdevice {

namespace {

namespace fs = std::filesystem;

uint64_t SplitMix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

// A uniform number in [0, 1) from a seed and an index.
double Uniform(uint64_t seed, uint64_t index) {
  return static_cast<double>(SplitMix(seed * 0x100000001B3ULL + index) >> 11) / 9007199254740992.0;
}

std::string Hex(const unsigned char* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

// The database a "-wal"/"-shm" file belongs to, when it is one of those companions.
std::string CompanionBase(const std::string& relative_path, std::string* suffix) {
  for (const char* candidate : {"-wal", "-shm"}) {
    size_t length = std::strlen(candidate);
    if (relative_path.size() > length &&
        relative_path.compare(relative_path.size() - length, length, candidate) == 0) {
      *suffix = candidate;
      return relative_path.substr(0, relative_path.size() - length);
    }
  }
  return "";
}

std::vector<BackupFileEntry> ProfileFiles(const std::string& domains_folder) {
  std::vector<BackupFileEntry> files;
  std::error_code error;
  if (!fs::is_directory(domains_folder, error)) return files;
  for (const fs::directory_entry& domain : fs::directory_iterator(domains_folder, error)) {
    if (!domain.is_directory()) continue;
    for (auto it = fs::recursive_directory_iterator(domain.path(), error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
      if (!it->is_regular_file() || it->is_symlink()) continue;
      BackupFileEntry entry;
      entry.domain = domain.path().filename().string();
      entry.relative_path = fs::relative(it->path(), domain.path(), error).generic_string();
      entry.size = it->file_size(error);
      entry.source = it->path().string();
      struct stat info {};
      if (::stat(entry.source.c_str(), &info) == 0) entry.modified = info.st_mtime;
      files.push_back(std::move(entry));
    }
  }
  // A database's "-shm"/"-wal" go just before it, so that a host which stops at the database
  // (an extraction) already holds what its write-ahead log keeps.
  auto order_key = [](const BackupFileEntry& file) {
    std::string suffix;
    std::string base = CompanionBase(file.relative_path, &suffix);
    return base.empty() ? std::make_tuple(file.domain, file.relative_path, std::string("~"))
                        : std::make_tuple(file.domain, base, suffix);
  };
  std::sort(files.begin(), files.end(), [&order_key](const BackupFileEntry& a, const BackupFileEntry& b) {
    return order_key(a) < order_key(b);
  });
  return files;
}

void AssignFileIds(std::vector<BackupFileEntry>& files) {
  std::set<std::pair<std::string, std::string>> present;
  for (const BackupFileEntry& file : files) present.emplace(file.domain, file.relative_path);
  for (BackupFileEntry& file : files) {
    std::string suffix;
    std::string base = CompanionBase(file.relative_path, &suffix);
    file.file_id = !base.empty() && present.count({file.domain, base}) ? HashedFileId(file.domain, base) + suffix
                                                                       : HashedFileId(file.domain, file.relative_path);
  }
}

// Where generated file i lives: mostly photos, some app documents and recordings, as on a phone.
void NameGeneratedFile(uint64_t index, BackupFileEntry* entry) {
  char path[96];
  switch (index % 5) {
    case 3:
      entry->domain = "AppDomain-com.example.fieldnotes";
      std::snprintf(path, sizeof(path), "Documents/Attachments/attachment-%05llu.bin",
                    static_cast<unsigned long long>(index));
      break;
    case 4:
      entry->domain = "MediaDomain";
      std::snprintf(path, sizeof(path), "Media/Recordings/%05llu.m4a", static_cast<unsigned long long>(index));
      break;
    default:
      entry->domain = "CameraRollDomain";
      std::snprintf(path, sizeof(path), "Media/DCIM/%03lluAPPLE/IMG_%04llu.HEIC",
                    static_cast<unsigned long long>(100 + index / 1000), static_cast<unsigned long long>(index % 10000));
      break;
  }
  entry->relative_path = path;
}

// Sizes spread over two orders of magnitude around the mean, adding up to `total` exactly.
std::vector<uint64_t> GeneratedSizes(uint64_t count, uint64_t total, uint64_t seed) {
  std::vector<double> weights(count);
  double sum = 0;
  for (uint64_t i = 0; i < count; ++i) sum += weights[i] = std::exp(std::log(100.0) * (Uniform(seed, i) - 0.5));
  std::vector<uint64_t> sizes(count);
  uint64_t assigned = 0;
  for (uint64_t i = 0; i < count; ++i) {
    sizes[i] = static_cast<uint64_t>(static_cast<double>(total) * weights[i] / sum);
    assigned += sizes[i];
  }
  if (count > 0) sizes[count - 1] += total - std::min(total, assigned);
  return sizes;
}

std::vector<BackupFileEntry> GeneratedFiles(const BackupSettings& settings) {
  std::vector<uint64_t> sizes = GeneratedSizes(settings.generated_files, settings.generated_bytes, settings.seed);
  std::vector<BackupFileEntry> files(settings.generated_files);
  for (uint64_t i = 0; i < files.size(); ++i) {
    NameGeneratedFile(i, &files[i]);
    files[i].size = sizes[i];
    files[i].modified = 1700000000 + static_cast<int64_t>(i) * 60;
    files[i].content_seed = SplitMix(settings.seed ^ (i + 1) * 0xD6E8FEB86659FD93ULL);
    files[i].file_id = HashedFileId(files[i].domain, files[i].relative_path);
  }
  return files;
}

std::vector<BackupFileEntry> ParentDirectories(const std::vector<BackupFileEntry>& files) {
  std::map<std::pair<std::string, std::string>, int64_t> folders;
  for (const BackupFileEntry& file : files) {
    for (fs::path parent = fs::path(file.relative_path).parent_path(); !parent.empty(); parent = parent.parent_path()) {
      folders.emplace(std::make_pair(file.domain, parent.generic_string()), file.modified);
    }
  }
  std::vector<BackupFileEntry> directories;
  for (const auto& [key, modified] : folders) {
    BackupFileEntry entry;
    entry.domain = key.first;
    entry.relative_path = key.second;
    entry.file_id = HashedFileId(entry.domain, entry.relative_path);
    entry.directory = true;
    entry.modified = modified;
    directories.push_back(std::move(entry));
  }
  return directories;
}

}  // namespace

int LoadBackupSettings(const std::string& folder, BackupSettings* settings, std::string* error) {
  *settings = BackupSettings();
  std::string path = folder + "/backup.json";
  if (!kst::PathExists(path)) return 0;
  PlistPtr json = LoadJsonAsPlist(path, error);
  if (!json || plist_get_node_type(json.get()) != PLIST_DICT) {
    if (error->empty()) *error = path + ": not an object";
    return 1;
  }
  plist_t dict = json.get();
  settings->generated_files = DictUnsigned(dict, "generated_files").value_or(0);
  settings->generated_bytes = DictUnsigned(dict, "generated_bytes").value_or(0);
  settings->seed = DictUnsigned(dict, "seed").value_or(1);
  settings->batch_files = std::max<uint64_t>(1, DictUnsigned(dict, "batch_files").value_or(64));
  settings->pace_mbps = DictUnsigned(dict, "pace_mbps").value_or(0);
  settings->password = DictString(dict, "password").value_or("");
  constexpr uint64_t kMaxGeneratedFiles = 2000000;
  if (settings->generated_files > kMaxGeneratedFiles) {
    *error = path + ": generated_files is limited to " + std::to_string(kMaxGeneratedFiles);
    return 1;
  }
  return 0;
}

std::string HashedFileId(const std::string& domain, const std::string& relative_path) {
  std::string text = domain + "-" + relative_path;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr);
  return Hex(digest, length);
}

std::vector<BackupFileEntry> BuildBackupCatalog(const std::string& folder, const BackupSettings& settings) {
  std::vector<BackupFileEntry> files = ProfileFiles(folder + "/domains");
  AssignFileIds(files);
  std::vector<BackupFileEntry> generated = GeneratedFiles(settings);
  files.insert(files.end(), std::make_move_iterator(generated.begin()), std::make_move_iterator(generated.end()));
  std::vector<BackupFileEntry> catalog = ParentDirectories(files);
  catalog.insert(catalog.end(), std::make_move_iterator(files.begin()), std::make_move_iterator(files.end()));
  return catalog;
}

BackupFileReader::BackupFileReader(const BackupFileEntry& entry) : entry_(entry) {
  if (!entry.source.empty()) file_ = std::fopen(entry.source.c_str(), "rb");
}

BackupFileReader::~BackupFileReader() {
  if (file_) std::fclose(file_);
}

bool BackupFileReader::Read(uint64_t offset, char* buffer, size_t length) {
  if (entry_.source.empty()) {
    FillGeneratedContent(entry_.content_seed, offset, buffer, length);
    return true;
  }
  return file_ && std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0 &&
         std::fread(buffer, 1, length, file_) == length;
}

void FillGeneratedContent(uint64_t seed, uint64_t offset, char* buffer, size_t length) {
  uint64_t word_index = offset / 8;
  size_t skip = static_cast<size_t>(offset % 8);
  size_t written = 0;
  while (written < length) {
    uint64_t word = SplitMix(seed + word_index++);
    size_t take = std::min(length - written, sizeof(word) - skip);
    std::memcpy(buffer + written, reinterpret_cast<const char*>(&word) + skip, take);
    written += take;
    skip = 0;
  }
}

}  // namespace vdevice
