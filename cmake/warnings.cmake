# Common compile flags for every target of the project.
add_compile_options(-Wall -Wextra)
if(TANDREL_WERROR)
  add_compile_options(-Werror)
endif()
if(TANDREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # gcc's flow analysis under the sanitizers reports std::function members inside <regex> as
  # maybe-uninitialized; the warning is noise there and would stop a warnings-as-errors build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  # clang reports RapidJSON's null-stack arithmetic (a sum compared, never used); keeping that one
  # check recoverable lets fuzz/ubsan.supp name it, while halt_on_error still stops on any other.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_compile_options(-fsanitize-recover=pointer-overflow)
  endif()
endif()
if(TANDREL_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(TANDREL_FUZZ)
  # Instrument everything for coverage; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
