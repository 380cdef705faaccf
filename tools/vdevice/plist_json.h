// The JSON form of property lists used in profiles: plain JSON values map to the obvious plist
// types, and a one-member object whose key starts with "$" marks the types JSON lacks:
//   {"$data": "<base64>"}   data
//   {"$date": "2023-04-05T06:07:08Z"}   date (UTC, whole seconds)
//   {"$real": 2}   a real that happens to be whole
// Integers become plist integers, numbers with a fraction or exponent become reals.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "plist_util.h"

namespace vdevice {

// Converts a JSON value; null and an error text in *error when it holds something a plist
// cannot (null, an unknown "$" marker, bad base64 or date text).
PlistPtr PlistFromJson(const rapidjson::Value& json, std::string* error);

// The reverse, into `allocator`'s document; used for logging and for writing profiles.
rapidjson::Value JsonFromPlist(plist_t node, rapidjson::Document::AllocatorType& allocator);

std::string Base64Encode(const std::string& bytes);
bool Base64Decode(const std::string& text, std::string* bytes);

// "YYYY-MM-DDTHH:MM:SSZ" <-> seconds since 1970.
bool ParseUtcTimestamp(const std::string& text, int64_t* unix_seconds);
std::string FormatUtcTimestamp(int64_t unix_seconds);

}  // namespace vdevice
