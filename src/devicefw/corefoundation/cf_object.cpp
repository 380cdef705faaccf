#include "corefoundation/cf_object.h"

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {

void CfObject::Retain() const {
  if (lifetime_ == Lifetime::kImmortal) return;
  references_.fetch_add(1, std::memory_order_relaxed);
}

void CfObject::Release() const {
  if (lifetime_ == Lifetime::kImmortal) return;
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

CFIndex CfObject::RetainCount() const {
  // Immortal objects report a huge count, as CoreFoundation does for its constants.
  if (lifetime_ == Lifetime::kImmortal) return static_cast<CFIndex>(0x7fffffffffffffff);
  return references_.load(std::memory_order_relaxed);
}

const CfObject* ObjectFromRef(CFTypeRef ref) {
  const auto* object = static_cast<const CfObject*>(ref);
  return object != nullptr && object->IsValid() ? object : nullptr;
}

}  // namespace devicefw::cf

using devicefw::cf::ObjectFromRef;

extern "C" {

void CFRelease(CFTypeRef ref) {
  if (const auto* object = ObjectFromRef(ref)) object->Release();
}

CFTypeRef CFRetain(CFTypeRef ref) {
  const auto* object = ObjectFromRef(ref);
  if (object == nullptr) return nullptr;
  object->Retain();
  return ref;
}

CFIndex CFGetRetainCount(CFTypeRef ref) {
  const auto* object = ObjectFromRef(ref);
  return object == nullptr ? 0 : object->RetainCount();
}

CFTypeID CFGetTypeID(CFTypeRef ref) {
  const auto* object = ObjectFromRef(ref);
  return object == nullptr ? 0 : object->type_id();
}

Boolean CFEqual(CFTypeRef left, CFTypeRef right) {
  const auto* a = ObjectFromRef(left);
  const auto* b = ObjectFromRef(right);
  if (a == nullptr || b == nullptr) return a == b && a != nullptr;
  return devicefw::GuardedCall(Boolean{0}, [&] { return Boolean{a->Equals(*b)}; });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFRelease), CFReleaseFn>);
static_assert(std::is_same_v<decltype(&CFRetain), CFRetainFn>);
static_assert(std::is_same_v<decltype(&CFGetRetainCount), CFGetRetainCountFn>);
static_assert(std::is_same_v<decltype(&CFGetTypeID), CFGetTypeIDFn>);
static_assert(std::is_same_v<decltype(&CFEqual), CFEqualFn>);
