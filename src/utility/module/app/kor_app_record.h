// Application records of the list command: one JSON object per application, kept under its
// bundle identifier, built from the first browse pass (bundle members and the decoded
// iTunesMetadata) and completed with the sizes of the second pass.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "iOSAPI/kor_value.h"

class KorAppRecords {
 public:
  KorAppRecords();

  // A "CurrentList" entry of the first pass; ignored without a string "CFBundleIdentifier".
  void AddRecord(const KorValue& app);
  // A "CurrentList" entry of the second pass: "data-size" and "app-size" of the same application.
  void AddSizes(const KorValue& app);

  size_t Count() const { return records_.MemberCount(); }
  // The object of every record under its bundle identifier, in the order the device listed them.
  const rapidjson::Document& Records() const { return records_; }

 private:
  rapidjson::Document records_;
};

// Adds the members taken from an application's iTunesMetadata (Base64 text of a property list)
// to `record`; false when the text does not decode into a dictionary.
bool KorApplyITunesMetadata(const std::string& base64, rapidjson::Value* record,
                            rapidjson::Document::AllocatorType& allocator);
