// The base of every CoreFoundation object of this library: a type number and an atomic
// reference count. References handed across the C boundary are pointers to CfObject viewed
// through the opaque CF types (CFStringRef, ...); CfCast turns them back, checking the type, so
// that a wrong or foreign pointer yields null instead of being misread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "devicefw/device_framework_abi.h"

namespace devicefw::cf {

// Type numbers of the objects that the host's table does not name.
inline constexpr CFTypeID kCFTypeIDURL = 29;
inline constexpr CFTypeID kCFTypeIDWriteStream = 38;

class CfObject {
 public:
  enum class Lifetime { kCounted, kImmortal };

  explicit CfObject(CFTypeID type, Lifetime lifetime = Lifetime::kCounted) : type_(type), lifetime_(lifetime) {}
  virtual ~CfObject() = default;
  CfObject(const CfObject&) = delete;
  CfObject& operator=(const CfObject&) = delete;

  CFTypeID type_id() const { return type_; }
  bool IsValid() const { return magic_ == kMagic; }
  void Retain() const;
  // Frees the object when the last reference goes; immortal objects ignore both.
  void Release() const;
  CFIndex RetainCount() const;

  // CFEqual semantics; the default is identity.
  virtual bool Equals(const CfObject& other) const { return this == &other; }

 private:
  static constexpr uint32_t kMagic = 0x4B6F7243;  // tells our objects from stray pointers
  uint32_t magic_ = kMagic;
  const CFTypeID type_;
  const Lifetime lifetime_;
  mutable std::atomic<long> references_{1};
};

// The object behind a CF reference, or null when the reference is null or not one of ours.
const CfObject* ObjectFromRef(CFTypeRef ref);

// The object of type T behind a reference, or null when it is null or of another type.
template <typename T>
const T* CfCast(CFTypeRef ref) {
  const CfObject* object = ObjectFromRef(ref);
  return object != nullptr && object->type_id() == T::kTypeId ? static_cast<const T*>(object) : nullptr;
}

template <typename T>
T* CfCastMutable(const void* ref) {
  return const_cast<T*>(CfCast<T>(ref));
}

template <typename Ref>
Ref ToRef(const CfObject* object) {
  return reinterpret_cast<Ref>(const_cast<CfObject*>(object));
}

// Owns one reference to a CF object (the library's internal RAII handle).
template <typename T = CfObject>
class CfOwned {
 public:
  CfOwned() = default;
  explicit CfOwned(const T* adopted) : object_(adopted) {}
  ~CfOwned() { reset(); }
  CfOwned(CfOwned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  CfOwned& operator=(CfOwned&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  CfOwned(const CfOwned&) = delete;
  CfOwned& operator=(const CfOwned&) = delete;

  const T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  const T* release() { return std::exchange(object_, nullptr); }
  void reset() {
    if (object_ != nullptr) std::exchange(object_, nullptr)->Release();
  }

 private:
  const T* object_ = nullptr;
};

}  // namespace devicefw::cf
