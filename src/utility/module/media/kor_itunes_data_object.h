// The "mhod" data objects of a music-database record: their classes and bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "utility/module/media/kor_itunes_chunk.h"
#include "utility/module/media/kor_itunes_db.h"

// Reads up to `count` data objects from `offset` of `record` (bounded by the record's size),
// keeping the string bodies in `strings`. Stops at the first object that is not a valid "mhod" and
// answers the offset after the last object read.
size_t KorReadDataObjects(const KorItunesChunk& record, size_t offset, uint32_t count, KorItunesStrings* strings);

// Reads one data object at the start of `available` bytes; false when it is not a valid "mhod".
bool KorReadDataObject(const uint8_t* data, size_t available, KorItunesDataObject* object, size_t* total_length);
