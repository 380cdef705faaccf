// Received property lists turned into the value tree straight from the framework's CF objects,
// without writing them out as XML text and parsing that again (the listing of thousands of
// records spends most of its time there otherwise). The reading is the XML route's: what that
// route would read differently is refused, and the caller takes the XML route for that message.
#pragma once

#include "iOSAPI/kor_cf.h"
#include "iOSAPI/kor_value.h"

// Converts a parsed property list whose root is an array or a dictionary; false (and `out`
// untouched) when it holds a value whose XML reading this conversion does not reproduce (dates,
// data, reals, texts with carriage returns or other control characters, unknown types).
bool KorMessageTreeFromCF(CFTypeRef root, KorValue* out);
