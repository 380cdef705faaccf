#include "utility/module/erase/kor_content_erase.h"

#include <string>
#include <vector>

#include "iOSAPI/kor_afc.h"
#include "platform/kst_log.h"
#include "utility/module/app/kor_installer_answer.h"
#include "utility/module/app/kor_installer_requests.h"

namespace {

struct MediaFolder {
  int64_t progress;
  const char* path;
};

constexpr MediaFolder kMediaFolders[] = {
    {4, "/PhotoData/Thumbnails"},
    {8, "/PhotoData/MISC"},
    {13, "/PhotoData/Metadata"},
    {17, "/PhotoData/Videos"},
    {21, "/PhotoData/AlbumsMetadata"},
    {26, "/PhotoData/Logs"},
    {30, "/PhotoData/Caches"},
    {34, "/PhotoData/PhotoCloudSharingData"},
    {39, "/Photos"},
    {43, "/PhotoStreamsData"},
    {47, "/DCIM"},
    {52, "/iTunes_Control/Music"},
    {56, "/iTunes_Control/Artwork"},
    {60, "/iTunes_Control/iTunes/Artwork"},
    {65, "/iTunes_Control/Sync"},
    {69, "/iTunes_Control"},
    {73, "/Books"},
    {78, "/Podcasts"},
    {82, "/Purchases"},
    {86, "/Radio"},
    {91, "/Recordings"},
    {95, "/Downloads"},
};

constexpr int32_t kFolderStage = 0;
constexpr int32_t kUninstallStage = 2;
// Identifiers longer than this are no application's and are not sent.
constexpr size_t kMaxBundleIdLength = 1024;

std::vector<std::string> ListUserApps(const KorServiceIo& installer) {
  std::vector<std::string> ids;
  KorRunInstallerExchange(installer, KorBrowseRequestXml(KorBrowsePass::kRecords), [&](const KorInstallerAnswer& answer) {
    for (const KorValue& app : answer.current_list) {
      KorValue id = app.AsDictionary()->Get("CFBundleIdentifier");
      ids.push_back(id.IsString() ? id.AsString() : std::string());
    }
  });
  return ids;
}

}  // namespace

void KorEmptyMediaFolders(AFCConnectionRef afc, const KorEraseTask& task) {
  for (const MediaFolder& folder : kMediaFolders) {
    task.report(kFolderStage, folder.progress);
    // Not checked: a folder the device does not have is already empty.
    KorAfcRemoveTree(afc, folder.path, false, false);
  }
  task.report(kFolderStage, 100);
}

size_t KorUninstallUserApps(const KorServiceIo& installer, const KorEraseTask& task) {
  std::vector<std::string> ids = ListUserApps(installer);
  size_t sent = 0;
  for (size_t index = 0; index < ids.size(); ++index) {
    const std::string& id = ids[index];
    if (!id.empty() && id.size() <= kMaxBundleIdLength) {
      if (KorMessageBufferPtr request = KorXmlToMessage(KorApplicationRequestXml("Uninstall", id))) {
        // One answer is read; the device goes on with the uninstall on its own.
        KorSendAndReceive(installer, *request, [](const uint8_t*, uint32_t, int*, int32_t*) {});
        ++sent;
      }
    } else {
      KLOG(WARNING) << "erase: skipped an application whose bundle identifier cannot be sent";
    }
    task.report(kUninstallStage, static_cast<int64_t>((index + 1) * 100 / ids.size()));
  }
  return sent;
}
