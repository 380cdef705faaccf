#include "backup_manifest.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>

#include "byte_order.h"

namespace vdevice {

namespace {

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

constexpr const char* kManifestSchema = R"(
PRAGMA synchronous = OFF;
PRAGMA journal_mode = MEMORY;
CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB);
CREATE INDEX FilesDomainIdx ON Files(domain);
CREATE INDEX FilesRelativePathIdx ON Files(relativePath);
CREATE INDEX FilesFlagsIdx ON Files(flags);
CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);
)";

// Manifest.db flags of a row.
constexpr int kFlagFile = 1;
constexpr int kFlagDirectory = 2;
// Owner and mode of files and folders in a phone's user partition.
constexpr uint64_t kMobileUser = 501;
constexpr uint64_t kFileMode = 0100644;
constexpr uint64_t kDirectoryMode = 040755;
constexpr int kPasswordIterations = 1000;

PlistPtr Uid(uint64_t value) { return PlistPtr(plist_new_uid(value)); }

// The file's attributes as the phone archives them: an NSKeyedArchiver property list of MBFile.
std::string ArchivedAttributes(const BackupFileEntry& entry, uint64_t inode) {
  PlistPtr file = MakeDict();
  plist_t node = file.get();
  SetNode(node, "$class", Uid(3));
  SetUnsigned(node, "Birth", static_cast<uint64_t>(entry.modified));
  SetUnsigned(node, "Flags", 0);
  SetUnsigned(node, "GroupID", kMobileUser);
  SetUnsigned(node, "InodeNumber", inode);
  SetUnsigned(node, "LastModified", static_cast<uint64_t>(entry.modified));
  SetUnsigned(node, "LastStatusChange", static_cast<uint64_t>(entry.modified));
  SetUnsigned(node, "Mode", entry.directory ? kDirectoryMode : kFileMode);
  SetUnsigned(node, "ProtectionClass", entry.directory ? 0 : 3);
  SetNode(node, "RelativePath", Uid(2));
  SetUnsigned(node, "Size", entry.size);
  SetUnsigned(node, "UserID", kMobileUser);
  PlistPtr classes(plist_new_array());
  plist_array_append_item(classes.get(), plist_new_string("MBFile"));
  plist_array_append_item(classes.get(), plist_new_string("NSObject"));
  PlistPtr class_info = MakeDict();
  SetNode(class_info.get(), "$classes", std::move(classes));
  SetString(class_info.get(), "$classname", "MBFile");
  PlistPtr objects(plist_new_array());
  plist_array_append_item(objects.get(), plist_new_string("$null"));
  plist_array_append_item(objects.get(), file.release());
  plist_array_append_item(objects.get(), plist_new_string(entry.relative_path.c_str()));
  plist_array_append_item(objects.get(), class_info.release());
  PlistPtr top = MakeDict();
  SetNode(top.get(), "root", Uid(1));
  PlistPtr archive = MakeDict();
  SetUnsigned(archive.get(), "$version", 100000);
  SetNode(archive.get(), "$objects", std::move(objects));
  SetString(archive.get(), "$archiver", "NSKeyedArchiver");
  SetNode(archive.get(), "$top", std::move(top));
  return ToBinary(archive.get());
}

bool InsertRows(sqlite3* db, const std::vector<BackupFileEntry>& catalog) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO Files VALUES (?, ?, ?, ?, ?)", -1, &raw, nullptr) != SQLITE_OK) {
    return false;
  }
  Statement insert(raw);
  uint64_t inode = 100000;
  for (const BackupFileEntry& entry : catalog) {
    std::string blob = ArchivedAttributes(entry, inode++);
    sqlite3_reset(raw);
    sqlite3_bind_text(raw, 1, entry.file_id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 2, entry.domain.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 3, entry.relative_path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(raw, 4, entry.directory ? kFlagDirectory : kFlagFile);
    sqlite3_bind_blob(raw, 5, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(raw) != SQLITE_DONE) return false;
  }
  return true;
}

void AppendTag(std::string* bag, const char* tag, const std::string& value) {
  uint8_t length[4];
  StoreBig(length, 4, value.size());
  bag->append(tag, 4);
  bag->append(reinterpret_cast<const char*>(length), 4);
  bag->append(value);
}

std::string BigEndian32(uint32_t value) {
  uint8_t bytes[4];
  StoreBig(bytes, 4, value);
  return std::string(reinterpret_cast<const char*>(bytes), 4);
}

std::string PasswordCheck(const std::string& password, const std::string& salt) {
  unsigned char derived[32];
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                    reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                    kPasswordIterations, EVP_sha256(), sizeof(derived), derived);
  return std::string(reinterpret_cast<const char*>(derived), sizeof(derived));
}

// A key bag of tag-length-value entries as the phone writes them; HMCK here is the password check.
std::string KeyBag(const std::string& udid, const std::string& password) {
  std::string salt = "vdevice-salt-" + udid.substr(0, 7);
  std::string bag;
  AppendTag(&bag, "VERS", BigEndian32(3));
  AppendTag(&bag, "TYPE", BigEndian32(1));
  AppendTag(&bag, "SALT", salt);
  AppendTag(&bag, "ITER", BigEndian32(kPasswordIterations));
  AppendTag(&bag, "HMCK", PasswordCheck(password, salt));
  return bag;
}

// The value of `tag` in a key bag; empty when absent or when the bag is malformed.
std::string KeyBagValue(const std::string& bag, const char* tag) {
  for (size_t offset = 0; offset + 8 <= bag.size();) {
    uint64_t length = LoadBig(reinterpret_cast<const uint8_t*>(bag.data()) + offset + 4, 4);
    if (length > bag.size() - offset - 8) return "";
    if (bag.compare(offset, 4, tag) == 0) return bag.substr(offset + 8, length);
    offset += 8 + length;
  }
  return "";
}

PlistPtr LockdownSummary(const VirtualDevice& device) {
  PlistPtr lockdown = MakeDict();
  for (const char* key : {"BuildVersion", "DeviceName", "ProductType", "ProductVersion", "SerialNumber", "UniqueDeviceID"}) {
    if (PlistPtr value = device.GetValue(kDefaultDomain, key)) SetNode(lockdown.get(), key, std::move(value));
  }
  return lockdown;
}

}  // namespace

int WriteManifestDatabase(const std::string& path, const std::vector<BackupFileEntry>& catalog, std::string* error) {
  std::remove(path.c_str());
  sqlite3* raw = nullptr;
  int status = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Database db(raw);
  bool ok = status == SQLITE_OK && sqlite3_exec(raw, kManifestSchema, nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK && InsertRows(raw, catalog) &&
            sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (ok) return 0;
  *error = "Manifest.db: " + std::string(raw ? sqlite3_errmsg(raw) : "cannot open");
  return 1;
}

std::optional<std::vector<std::string>> ReadManifestFileIds(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  int status = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  Database db(raw);
  sqlite3_stmt* query = nullptr;
  if (status != SQLITE_OK ||
      sqlite3_prepare_v2(raw, "SELECT fileID FROM Files WHERE flags = 1 ORDER BY rowid", -1, &query, nullptr) !=
          SQLITE_OK) {
    *error = "Manifest.db: " + std::string(raw ? sqlite3_errmsg(raw) : "cannot open");
    return std::nullopt;
  }
  Statement statement(query);
  std::vector<std::string> ids;
  while ((status = sqlite3_step(query)) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(query, 0);
    if (text) ids.emplace_back(reinterpret_cast<const char*>(text));
  }
  if (status != SQLITE_DONE) {
    *error = "Manifest.db: " + std::string(sqlite3_errmsg(raw));
    return std::nullopt;
  }
  return ids;
}

PlistPtr MakeManifestPlist(const VirtualDevice& device, const std::string& password, int64_t now) {
  PlistPtr manifest = MakeDict();
  plist_t node = manifest.get();
  SetData(node, "BackupKeyBag", KeyBag(device.udid(), password));
  SetString(node, "Version", "10.0");
  SetNode(node, "Date", MakeDateFromUnix(now));
  SetString(node, "SystemDomainsVersion", "24.0");
  SetBool(node, "WasPasscodeSet", false);
  SetNode(node, "Lockdown", LockdownSummary(device));
  SetNode(node, "Applications", MakeDict());
  SetBool(node, "IsEncrypted", !password.empty());
  return manifest;
}

PlistPtr MakeStatusPlist(bool full_backup, int64_t now) {
  PlistPtr status = MakeDict();
  plist_t node = status.get();
  SetBool(node, "IsFullBackup", full_backup);
  SetString(node, "Version", "3.3");
  SetString(node, "BackupState", "new");
  SetNode(node, "Date", MakeDateFromUnix(now));
  SetString(node, "UUID", "5A3E2C1B-7D4F-4E6A-9B8C-" + std::to_string(100000000000 + now % 100000000000));
  SetString(node, "SnapshotState", "finished");
  return status;
}

bool PasswordOpensManifest(plist_t manifest, const std::string& password) {
  if (!DictBool(manifest, "IsEncrypted").value_or(false)) return true;
  std::string bag = DictData(manifest, "BackupKeyBag").value_or("");
  std::string salt = KeyBagValue(bag, "SALT");
  std::string check = KeyBagValue(bag, "HMCK");
  return !salt.empty() && !check.empty() && PasswordCheck(password, salt) == check;
}

}  // namespace vdevice
