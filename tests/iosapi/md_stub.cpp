// Every MobileDevice entry point as a do-nothing export; a compile definition can rename one
// away to make a framework that lacks it.
#include "iOSAPI/mobile_export_slots.h"

#define KOR_STUB_MD(field) \
  extern "C" __attribute__((visibility("default"))) int field() { return 0; }
#define KOR_STUB_CF(field)
#define KOR_STUB(slot, field, symbol, lib, type) KOR_STUB_##lib(field)

KOR_MOBILE_EXPORT_SLOTS(KOR_STUB)
