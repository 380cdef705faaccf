// Edits of a book list ("Books.plist", "Purchases.plist") in its property-list XML form: an entry
// appended to the "Books" array, or the entries of given paths removed. Everything else in the
// list (other members, other entries, value types the program does not read) stays as it was.
#pragma once

#include <cstdint>
#include <set>
#include <string>

struct KorNewBookEntry {
  std::string name;           // the book's title
  std::string path;           // relative to the list's folder, as the upload named the file
  uint64_t persistent_id = 0; // printed as 16 upper-case hexadecimal digits
  bool has_artwork = false;
};

// An empty book list: a dictionary whose "Books" member is an empty array.
std::string KorEmptyBookListXml();
// Appends `entry` to the "Books" array (created when missing). False when `list_xml` is not a
// property list whose top value is a dictionary, or its "Books" member is not an array.
bool KorBookListAdd(const std::string& list_xml, const KorNewBookEntry& entry, std::string* out);
// Removes the entries whose "Path" is one of `paths`; the number removed (their paths added to
// *found), or -1 when the list is not a property list whose top value is a dictionary.
int KorBookListRemove(const std::string& list_xml, const std::set<std::string>& paths, std::string* out,
                      std::set<std::string>* found);
