// The title an EPUB book gives itself: its "META-INF/container.xml" names the package document,
// whose metadata holds the title ("dc:title"). A book added to the device is listed under it.
#pragma once

#include <string>

// The largest container or package document that is read.
constexpr size_t kKorMaxEpubDocument = 1u << 20;
// Longer titles are cut at this many bytes (on a character boundary).
constexpr size_t kKorMaxEpubTitle = 512;

// The book's title; empty when the file is not a ZIP archive or its documents do not name one.
std::string KorEpubTitle(const std::string& path);
// The "full-path" of the container document's first "rootfile"; empty when there is none or it
// would leave the archive's root (absolute, "..").
std::string KorEpubRootfilePath(const std::string& container_xml);
// The first title element of the package document's metadata, whitespace trimmed and cut to
// kKorMaxEpubTitle bytes; empty when there is none.
std::string KorEpubPackageTitle(const std::string& package_xml);
