// Conversion between libplist nodes and CF objects, in both directions. Containers deeper than
// kMaxPlistNesting, dictionary keys that are not strings and CF types that property lists cannot
// hold make the whole conversion fail (null), as CoreFoundation refuses such property lists.
#pragma once

#include <plist/plist.h>

#include "common/plist_handle.h"
#include "corefoundation/cf_object.h"

namespace devicefw::cf {

enum class Mutability { kImmutable, kMutableContainers };

// A new CF object (one reference for the caller), or null.
const CfObject* CfFromPlist(plist_t node, Mutability mutability = Mutability::kImmutable);
// A new plist node, or empty.
PlistHandle PlistFromCf(const CfObject* object);

}  // namespace devicefw::cf
