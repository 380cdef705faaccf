#include "utility/module/note/kor_note_write.h"

#include "iOSAPI/kor_plist_xml.h"

std::vector<std::string> KorNewNoteElements(const std::string& host_id, const std::string& title,
                                            const std::string& content, const std::string& utc_now) {
  // The device keeps a note only when it carries both a creation and a modification date.
  const std::string date = "<date>" + KorXmlEscape(utc_now) + "</date>";
  const std::string note = KorPlistDict({{"com.apple.syncservices.RecordEntityName", KorPlistString("com.apple.notes.Note")},
                                         {"contentType", KorPlistString("text/plain")},
                                         {"dateCreated", date},
                                         {"dateModified", date},
                                         {"subject", KorPlistString(title)},
                                         {"content", KorPlistString(content)}});
  const std::string flags =
      KorPlistDict({{"SyncDeviceLinkEntityNamesKey", KorPlistArray({KorPlistString("com.apple.notes.Note")})},
                    {"SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", KorPlistBool(true)}});
  return {KorPlistDict({{host_id, note}}), KorPlistBool(false), flags};
}
