// CFString: immutable text kept as valid UTF-8, with its UTF-16 length computed once.
#pragma once

#include <string>
#include <string_view>

#include "corefoundation/cf_object.h"

namespace devicefw::cf {

class CfString final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDString;

  // Null when `utf8` is not valid UTF-8.
  static const CfString* Create(std::string_view utf8, Lifetime lifetime = Lifetime::kCounted);
  // The interned, immortal string for this text (what __CFStringMakeConstantString returns).
  static const CfString* Constant(std::string_view utf8);

  const std::string& utf8() const { return utf8_; }
  CFIndex utf16_length() const { return utf16_length_; }
  bool Equals(const CfObject& other) const override;

 private:
  CfString(std::string utf8, CFIndex utf16_length, Lifetime lifetime)
      : CfObject(kTypeId, lifetime), utf8_(std::move(utf8)), utf16_length_(utf16_length) {}

  const std::string utf8_;
  const CFIndex utf16_length_;
};

}  // namespace devicefw::cf
