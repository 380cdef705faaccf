// Holding and making CoreFoundation objects of the loaded device framework.
#pragma once

#include <string>

#include "iOSAPI/mobile_export_fun.h"

// Owns one CF reference and releases it with the framework's CFRelease.
class KorCFHolder {
 public:
  KorCFHolder() = default;
  explicit KorCFHolder(CFTypeRef object) : object_(object) {}
  ~KorCFHolder() { Reset(); }
  KorCFHolder(const KorCFHolder&) = delete;
  KorCFHolder& operator=(const KorCFHolder&) = delete;
  KorCFHolder(KorCFHolder&& other) noexcept : object_(other.Release()) {}
  KorCFHolder& operator=(KorCFHolder&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = other.Release();
    }
    return *this;
  }

  CFTypeRef Get() const { return object_; }
  template <typename T>
  T As() const {
    return static_cast<T>(object_);
  }
  explicit operator bool() const { return object_ != nullptr; }
  CFTypeRef Release() {
    CFTypeRef object = object_;
    object_ = nullptr;
    return object;
  }
  void Reset(CFTypeRef object = nullptr);

 private:
  CFTypeRef object_ = nullptr;
};

// A constant CF string (never released) for a UTF-8 text; null for an empty text when
// `empty_is_null` is set.
CFStringRef KorConstantString(const std::string& text);
// A new CF string from UTF-8 text.
KorCFHolder KorMakeString(const std::string& text);
// The CF type number of an object, 0 for null.
CFTypeID KorTypeOf(CFTypeRef object);
