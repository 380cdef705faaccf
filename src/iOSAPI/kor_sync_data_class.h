// The data classes the synchronisation service exchanges: the class name, the key under which
// the device keeps its anchor, and the class version the host announces.
#pragma once

#include <cstdint>

struct KorSyncDataClass {
  const char* name;
  const char* anchor_key;
  int64_t version;
};

inline constexpr KorSyncDataClass kKorSyncContacts{"com.apple.Contacts", "Contacts-Device-Anchor", 106};
inline constexpr KorSyncDataClass kKorSyncCalendars{"com.apple.Calendars", "Calendars-Device-Anchor", 110};
inline constexpr KorSyncDataClass kKorSyncNotes{"com.apple.Notes", "Notes-Device-Anchor", 102};
inline constexpr KorSyncDataClass kKorSyncBookmarks{"com.apple.Bookmarks", "Bookmarks-Device-Anchor", 102};
// The bookmark delete sequence announces a newer class version.
inline constexpr KorSyncDataClass kKorSyncBookmarksV106{"com.apple.Bookmarks", "Bookmarks-Device-Anchor", 106};
