#include "utility/module/media/kor_book_commands.h"

#include <openssl/rand.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

#include "iOSAPI/kor_afc.h"
#include "iOSAPI/kor_service_message.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_database_staging.h"
#include "utility/kor_message.h"
#include "utility/module/media/kor_book_list_edit.h"
#include "utility/module/media/kor_epub_title.h"
#include "utility/module/media/kor_media_plists.h"

namespace {

constexpr const char* kBookFolder = "/Books";
constexpr const char* kPurchasedPrefix = "/Books/Purchases/";
constexpr int kNameAttempts = 16;

struct BookList {
  KorStagedFile file;
  KorStagedSlot slot;
  const char* device_path;
};

constexpr BookList kBooks{KorStagedFile::kBookList, kKorSlotBooks, "/Books/Books.plist"};
constexpr BookList kPurchases{KorStagedFile::kPurchasedBookList, kKorSlotPurchasedBooks,
                              "/Books/Purchases/Purchases.plist"};

std::string UpperExtension(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension;
}

std::string FileStem(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

uint64_t NewPersistentId() {
  unsigned char guid[16];
  if (RAND_bytes(guid, sizeof(guid)) != 1) {
    for (unsigned char& byte : guid) byte = static_cast<unsigned char>(std::rand());
  }
  uint64_t id = 0;
  std::memcpy(&id, guid, sizeof(id));
  return id;
}

bool DeviceHas(AFCConnectionRef afc, const std::string& path) {
  KorAfcFileInfo info;
  return KorAfcStat(afc, path, &info);
}

// The list's current XML: restaged from the device; a list the device does not have is empty.
bool CurrentListXml(KorDevice& device, AFCConnectionRef afc, const BookList& list, std::string* xml) {
  KorStageFile(device, afc, list.file);
  std::string local = device.StagedPath(list.slot);
  std::string bytes;
  if (local.empty() || kst::FileSize(local) <= 0 || !DeviceHas(afc, list.device_path)) {
    *xml = KorEmptyBookListXml();
    return true;
  }
  if (kst::FileSize(local) > kKorMaxMediaPlist || !kst::ReadWholeFile(local, &bytes)) return false;
  // A binary list is read through its XML form; the list is written back as XML.
  *xml = KorMessageToXml(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  return !xml->empty();
}

// Writes the list to the staged copy and from there to the device.
bool WriteList(KorDevice& device, AFCConnectionRef afc, const BookList& list, const std::string& xml) {
  std::string local = device.StagedPath(list.slot);
  if (local.empty() || !kst::WriteWholeFile(local, xml)) return false;
  return KorAfcUpload(afc, local, list.device_path);
}

bool IsBooksFolder(const std::string& remote) { return remote.empty() || remote == "/Books" || remote == "/Books/"; }

}  // namespace

std::string KorRandomBookName(const std::string& extension) {
  static std::once_flag seeded;
  std::call_once(seeded, [] { std::srand(static_cast<unsigned>(std::time(nullptr))); });
  char name[512];
  std::snprintf(name, sizeof(name), "%c%c%c%c%s", 'A' + std::rand() % 26, 'A' + std::rand() % 26,
                'A' + std::rand() % 26, 'A' + std::rand() % 26, extension.c_str());
  return name;
}

int KorAddBookToDevice(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                       const rapidjson::Value& parameters, std::string* device_path) {
  std::string local;
  std::string remote;
  VelJsonUtil::GetString(parameters, "remote", &remote);
  if (!VelJsonUtil::GetString(parameters, "path", &local) || local.empty() || !IsBooksFolder(remote)) {
    return kKorBadParameters;
  }
  std::string upper = UpperExtension(local);
  if ((upper != ".EPUB" && upper != ".PDF") || kst::FileSize(local) < 0) return kKorBookNotAccepted;
  std::string extension = local.substr(local.rfind('.'));
  std::string name;
  for (int attempt = 0; attempt < kNameAttempts && (name.empty() || DeviceHas(afc, *device_path)); ++attempt) {
    name = KorRandomBookName(extension);
    *device_path = std::string(kBookFolder) + "/" + name;
  }
  KorAfcMakeDirectory(afc, kBookFolder);
  if (!KorAfcUpload(afc, local, *device_path)) {
    KLOG(ERROR) << "add book: " << local << " could not be put on the device as " << *device_path;
    return kKorBookUploadFailed;
  }
  std::lock_guard<std::mutex> lock(*staging_mutex);
  std::string xml;
  std::string edited;
  // An EPUB is listed under the title it gives itself, any other book under its file name.
  std::string title = upper == ".EPUB" ? KorEpubTitle(local) : std::string();
  KorNewBookEntry entry{title.empty() ? FileStem(local) : title, name, NewPersistentId(), false};
  if (!CurrentListXml(device, afc, kBooks, &xml) || !KorBookListAdd(xml, entry, &edited) ||
      !WriteList(device, afc, kBooks, edited)) {
    KLOG(ERROR) << "add book: the book list could not take " << *device_path;
    KorAfcRemovePath(afc, *device_path);
    return kKorBookListFailed;
  }
  return kKorOk;
}

int KorRemoveBooksFromDevice(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                             const rapidjson::Value& parameters, int* removed) {
  *removed = 0;
  const rapidjson::Value* paths = VelJsonUtil::GetArray(parameters, "paths");
  if (!paths) return kKorBadParameters;
  std::set<std::string> from_books;
  std::set<std::string> from_purchases;
  for (const rapidjson::Value& path : paths->GetArray()) {
    if (!path.IsString()) return kKorBadParameters;
    std::string text = path.GetString();
    if (text.rfind(kPurchasedPrefix, 0) == 0 && KorIsConfinedRelativePath(text.substr(std::strlen(kPurchasedPrefix)))) {
      from_purchases.insert(text.substr(std::strlen(kPurchasedPrefix)));
    } else if (text.rfind("/Books/", 0) == 0 && KorIsConfinedRelativePath(text.substr(std::strlen("/Books/")))) {
      from_books.insert(text.substr(std::strlen("/Books/")));
    } else {
      return kKorBadParameters;
    }
  }
  std::lock_guard<std::mutex> lock(*staging_mutex);
  int result = kKorOk;
  struct Removal {
    const BookList* list;
    const std::set<std::string>* names;
    const char* folder;
  };
  for (const Removal& removal : {Removal{&kBooks, &from_books, "/Books/"},
                                 Removal{&kPurchases, &from_purchases, kPurchasedPrefix}}) {
    if (removal.names->empty()) continue;
    std::string xml;
    std::string edited;
    std::set<std::string> found;
    int count = CurrentListXml(device, afc, *removal.list, &xml) ? KorBookListRemove(xml, *removal.names, &edited, &found)
                                                                  : -1;
    if (count < 0 || (count > 0 && !WriteList(device, afc, *removal.list, edited))) {
      KLOG(ERROR) << "remove books: " << removal.list->device_path << " could not be read or written";
      return kKorBookListFailed;
    }
    *removed += count;
    for (const std::string& name : found) {
      std::string path = removal.folder + name;
      KorAfcFileInfo info;
      if (!KorAfcStat(afc, path, &info)) continue;
      bool gone = info.type == "S_IFDIR" ? KorAfcRemoveTree(afc, path, true, true) : KorAfcRemovePath(afc, path);
      if (!gone) result = kKorBookUploadFailed;
    }
  }
  return result;
}
