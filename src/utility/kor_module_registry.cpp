#include "utility/kor_module_registry.h"

#include <initializer_list>

#include "utility/kor_module.h"
#include "utility/module/app/kor_module_app.h"
#include "utility/module/basicinfo/kor_module_basicinfo.h"
#include "utility/module/bookmark/kor_module_bookmark.h"
#include "utility/module/calendar/kor_module_calendar.h"
#include "utility/module/connect/kor_module_connect.h"
#include "utility/module/contact/kor_module_contact.h"
#include "utility/module/control/kor_module_control.h"
#include "utility/module/erase/kor_module_erase.h"
#include "utility/module/file/kor_module_file.h"
#include "utility/module/itunes/kor_module_itunes.h"
#include "utility/module/media/kor_module_media.h"
#include "utility/module/note/kor_module_note.h"
#include "utility/module/sms/kor_module_sms.h"
#include "utility/module/plugins/kor_module_plugins.h"
#include "utility/module/plugins/kor_plugin_platform_functions.h"
#include "utility/module/photo/kor_module_photo.h"

KorModuleRegistry& KorModuleRegistry::Get() {
  static KorModuleRegistry* registry = new KorModuleRegistry();
  return *registry;
}

KorModule* KorModuleRegistry::Adopt(std::unique_ptr<KorModule> module) {
  std::lock_guard<std::mutex> lock(mutex_);
  owned_.push_back(std::move(module));
  return owned_.back().get();
}

void KorModuleRegistry::RegisterBuiltInModules() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (filling_started_) return;
    filling_started_ = true;
  }
  auto enter = [this](KorModule* module, std::initializer_list<uint32_t> commands) {
    for (uint32_t command : commands) Register(command, module);
  };
  // In the order the modules are created; only modules this build has are registered.
  enter(Adopt(std::make_unique<KorModuleConnect>()),
        {kKorCommandRestartFramework, kKorCommandDownloadDrivers, kKorCommandInstallDrivers,
         kKorCommandCheckStoreITunes});
  enter(Adopt(std::make_unique<KorModuleBasicInfo>()), {kKorCommandRefresh, kKorCommandBasicInfo, kKorCommandRename});
  auto* sms = static_cast<KorModuleSms*>(Adopt(std::make_unique<KorModuleSms>()));
  enter(sms, {kKorCommandReadMessages});
  enter(Adopt(std::make_unique<KorModuleFile>()), {kKorCommandExport, kKorCommandDownload, kKorCommandUpload});
  auto* itunes = static_cast<KorModuleiTunes*>(Adopt(std::make_unique<KorModuleiTunes>()));
  enter(itunes,
        {kKorCommandBackup, kKorCommandRestore, kKorCommandListBackups, kKorCommandFindMyDevice,
         kKorCommandBackupEncryption, kKorCommandBackupPassword, kKorCommandMediaAppRunning, kKorCommandEndMediaApp,
         kKorCommandExtractDatabases});
  auto* contact = static_cast<KorModuleContact*>(Adopt(std::make_unique<KorModuleContact>()));
  enter(contact, {kKorCommandListContacts, kKorCommandContactsNone, kKorCommandWriteContact, kKorCommandDeleteContact,
                  kKorCommandAddGroup, kKorCommandDeleteGroup, kKorCommandChangeGroup});
  auto* note = static_cast<KorModuleNote*>(Adopt(std::make_unique<KorModuleNote>()));
  enter(note, {kKorCommandNoteList, kKorCommandNoteAdd, kKorCommandNoteFromBackup});
  enter(Adopt(std::make_unique<KorModuleCalendar>()),
        {kKorCommandCalendarList, kKorCommandCalendarWrite, kKorCommandCalendarDelete});
  enter(Adopt(std::make_unique<KorModuleBookmark>()),
        {kKorCommandBookmarkList, kKorCommandBookmarkWrite, kKorCommandBookmarkDelete});
  // The modules that use databases out of a backup hear of them in this order.
  itunes->Attach(sms);
  itunes->Attach(contact);
  itunes->Attach(note);
  enter(Adopt(std::make_unique<KorModulePhoto>()), {kKorCommandPhotoList, kKorCommandAlbumList, kKorCommandAlbumPhotos,
                                                    kKorCommandThumbnails, kKorCommandDeletePhotos});
  enter(Adopt(std::make_unique<KorModuleMedia>()),
        {kKorCommandMusicList, kKorCommandBooksAndRingtones, kKorCommandRecordings, kKorCommandPlaylistItems,
         kKorCommandMediaItems, kKorCommandAddBook, kKorCommandRemoveBooks});
  enter(Adopt(std::make_unique<KorModuleControl>()), {kKorCommandStopTask});
  auto* plugins = static_cast<KorModulePlugins*>(Adopt(std::make_unique<KorModulePlugins>()));
  enter(plugins, {kKorCommandPlugin});
  plugins->SetPlatformFunctions(KorPluginPlatformFunctions());
  KorRegisterPluginHost(plugins);
  enter(Adopt(std::make_unique<KorModuleApp>()), {kKorCommandListApps, kKorCommandAppIcons, kKorCommandInstallApps,
                                                  kKorCommandUninstallApps, kKorCommandArchiveApps});
  enter(Adopt(std::make_unique<KorModuleErase>()), {kKorCommandEraseContent, kKorCommandEraseFreeSpace});
  MarkComplete();
}

void KorModuleRegistry::Register(uint32_t command, KorModule* module) {
  std::lock_guard<std::mutex> lock(mutex_);
  modules_[command] = module;
}

void KorModuleRegistry::MarkComplete() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    complete_ = true;
  }
  complete_signal_.notify_all();
}

KorModule* KorModuleRegistry::Find(uint32_t command) {
  std::unique_lock<std::mutex> lock(mutex_);
  complete_signal_.wait(lock, [this] { return complete_; });
  auto found = modules_.find(command);
  return found == modules_.end() ? nullptr : found->second;
}
