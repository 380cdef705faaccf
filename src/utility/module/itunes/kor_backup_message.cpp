#include "utility/module/itunes/kor_backup_message.h"

#include <cmath>
#include <cstring>

#include "iOSAPI/kor_device_link.h"

namespace {

struct KindName {
  const char* name;
  int kind;
};

constexpr KindName kKinds[] = {
    {"DLMessageDownloadFiles", kKorBackupDownloadFiles},
    {"DLContentsOfDirectory", kKorBackupContentsOfDirectory},
    {"DLMessageGetFreeDiskSpace", kKorBackupGetFreeDiskSpace},
    {"DLMessageCreateDirectory", kKorBackupCreateDirectory},
    {"DLMessageMoveItems", kKorBackupMoveItems},
    {"DLMessageRemoveFiles", kKorBackupRemoveFiles},
    {"DLMessageDisconnect", kKorBackupDisconnect},
    {"DLMessageCopyItem", kKorBackupCopyItem},
    {"DLMessageRemoveItems", kKorBackupRemoveItems},
    {"DLMessageProcessMessage", kKorBackupProcessMessage},
    {"DLMessageUploadFiles", kKorBackupUploadFiles},
};

const KorValue* FirstOf(const KorValue::Array& items, bool (KorValue::*is)() const) {
  for (size_t i = 1; i < items.size(); ++i) {
    if ((items[i].*is)()) return &items[i];
  }
  return nullptr;
}

void ReadStrings(const KorValue::Array& items, std::vector<std::string>* paths) {
  for (const KorValue& item : items) {
    if (item.IsString()) paths->push_back(item.AsString());
  }
}

void ReadArguments(const KorValue::Array& items, KorBackupMessage* out) {
  switch (out->kind) {
    case kKorBackupDownloadFiles:
    case kKorBackupRemoveItems:
      if (const KorValue* list = FirstOf(items, &KorValue::IsArray)) ReadStrings(list->AsArray(), &out->paths);
      break;
    case kKorBackupCreateDirectory:
      if (const KorValue* path = FirstOf(items, &KorValue::IsString)) out->paths.push_back(path->AsString());
      break;
    case kKorBackupMoveItems:
      if (const KorValue* dict = FirstOf(items, &KorValue::IsDictionary)) {
        for (const auto& [source, target] : dict->AsDictionary()->Entries()) {
          if (target.IsString()) out->moves.emplace_back(source, target.AsString());
        }
      }
      break;
    case kKorBackupProcessMessage:
      if (const KorValue* dict = FirstOf(items, &KorValue::IsDictionary)) {
        KorValue code = dict->AsDictionary()->Get("ErrorCode");
        out->has_error_code = code.IsInteger();
        if (out->has_error_code) out->error_code = code.AsInteger();
        KorValue description = dict->AsDictionary()->Get("ErrorDescription");
        if (description.IsString()) out->error_description = description.AsString();
      }
      break;
    default:
      break;
  }
}

}  // namespace

int KorBackupMessageKindOf(const std::string& name) {
  for (const KindName& entry : kKinds) {
    if (name == entry.name) return entry.kind;
  }
  return kKorBackupOther;
}

KorBackupMessage KorReadBackupMessage(const KorValue& message) {
  KorBackupMessage out;
  if (!message.IsArray() || message.AsArray().empty()) return out;
  out.kind = KorBackupMessageKindOf(KorDLMessageName(message));
  if (out.kind == kKorBackupOther) return out;
  const KorValue::Array& items = message.AsArray();
  if (const KorValue* real = FirstOf(items, &KorValue::IsDouble)) {
    out.has_progress = true;
    out.progress = real->AsDouble();
  }
  ReadArguments(items, &out);
  return out;
}

int KorProgressHundredths(double percent) {
  if (!std::isfinite(percent) || percent <= 0) return 0;
  if (percent >= 100) return 10000;
  return static_cast<int>(percent * 100);
}
