// The platform functions that hand plug-ins the host's data listings. The request travels in the
// record's data as a JSON object (text, JSON value or raw bytes); the listing comes back as a JSON
// array in the record's output bytes, with the result flag set to 1. A request the function cannot
// serve leaves the result flag 0.
//
//   "LIBPLATFORM_SMS_QUERY_CONVERSATION_LIST"   {"path": messages database copy}
//       → [conversation object with its "messages" array, ...]
//   "LIBPLATFORM_PHOTO_QUERY_CAMERA_ROLL_LIST"  {"path": photo library copy, "productVersion"}
//   "LIBPLATFORM_PHOTO_QUERY_ALBUM_LIST"        {"path", "productVersion"}
//   "LIBPLATFORM_PHOTO_QUERY_PHOTO_FROM_ALBUM"  {"path", "productVersion", "albumId", "albumType"}
//   "LIBPLATFORM_RECORDING_QUERY_LIST"          {"uuid": attached device}
//       → [recording object, ...] as command 1002 lists them
#pragma once

#include "basic/kst_plugin_abi.h"

int KorPluginSmsConversations(KSTObserveData* event);
int KorPluginPhotoList(KSTObserveData* event);
int KorPluginAlbumList(KSTObserveData* event);
int KorPluginAlbumPhotos(KSTObserveData* event);
int KorPluginRecordingList(KSTObserveData* event);
