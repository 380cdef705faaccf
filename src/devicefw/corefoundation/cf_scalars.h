// The small immutable CF types: booleans (two immortal objects), data, dates and file URLs.
#pragma once

#include <string>
#include <vector>

#include "corefoundation/cf_object.h"

namespace devicefw::cf {

class CfBoolean final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDBoolean;
  static const CfBoolean* Of(bool value);
  bool value() const { return value_; }

 private:
  explicit CfBoolean(bool value) : CfObject(kTypeId, Lifetime::kImmortal), value_(value) {}
  const bool value_;
};

class CfData final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDData;
  static const CfData* Create(const UInt8* bytes, size_t length) {
    return new CfData(length == 0 ? std::vector<UInt8>() : std::vector<UInt8>(bytes, bytes + length));
  }
  static const CfData* Adopt(std::vector<UInt8> bytes) { return new CfData(std::move(bytes)); }

  // Never null, also for empty data: callers treat a null pointer as "no data".
  const UInt8* bytes() const { return bytes_.empty() ? &kEmpty : bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  bool Equals(const CfObject& other) const override;

 private:
  explicit CfData(std::vector<UInt8> bytes) : CfObject(kTypeId), bytes_(std::move(bytes)) {}
  static constexpr UInt8 kEmpty = 0;
  const std::vector<UInt8> bytes_;
};

// Seconds since 2001-01-01 00:00:00 UTC.
class CfDate final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDDate;
  static const CfDate* Create(CFAbsoluteTime time) { return new CfDate(time); }
  CFAbsoluteTime time() const { return time_; }
  bool Equals(const CfObject& other) const override;

 private:
  explicit CfDate(CFAbsoluteTime time) : CfObject(kTypeId), time_(time) {}
  const CFAbsoluteTime time_;
};

// Only what the host needs: an object that carries a file-system path.
class CfUrl final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDURL;
  CfUrl(std::string path, bool is_directory)
      : CfObject(kTypeId), path_(std::move(path)), is_directory_(is_directory) {}
  const std::string& path() const { return path_; }
  bool is_directory() const { return is_directory_; }

 private:
  const std::string path_;
  const bool is_directory_;
};

}  // namespace devicefw::cf
