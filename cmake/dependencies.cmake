# Third-party libraries, all from Debian packages (scripts/install_deps.sh).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
# The notes plug-in decodes note documents with the lite runtime; protoc generates their classes.
find_package(Protobuf REQUIRED)

pkg_check_modules(GLOG REQUIRED IMPORTED_TARGET libglog)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(IMOBILEDEVICE REQUIRED IMPORTED_TARGET libimobiledevice-1.0)
pkg_check_modules(USBMUXD REQUIRED IMPORTED_TARGET libusbmuxd-2.0)
pkg_check_modules(TINYXML2 REQUIRED IMPORTED_TARGET tinyxml2)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(UNWIND REQUIRED IMPORTED_TARGET libunwind)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET re2)

# Tandrel's own allocator. Listings build and free hundreds of thousands of small records on
# several threads; glibc's allocator spent about a third of a contact listing's processor time
# in its own bookkeeping. The sanitizer builds keep the allocator their runtime replaces malloc
# with.
set(TANDREL_TCMALLOC "")
if(NOT TANDREL_SANITIZE AND NOT TANDREL_TSAN AND NOT TANDREL_FUZZ)
  find_library(TANDREL_TCMALLOC_LIBRARY NAMES tcmalloc_minimal libtcmalloc_minimal.so.4)
  if(TANDREL_TCMALLOC_LIBRARY)
    set(TANDREL_TCMALLOC ${TANDREL_TCMALLOC_LIBRARY})
  else()
    message(WARNING "libtcmalloc_minimal not found: Tandrel runs on the system allocator")
  endif()
endif()

find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)
add_library(rapidjson INTERFACE)
target_include_directories(rapidjson SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIR})
target_compile_definitions(rapidjson INTERFACE RAPIDJSON_HAS_STDSTRING=1)

if(TANDREL_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TANDREL_BENCH)
  find_package(benchmark REQUIRED)
endif()
