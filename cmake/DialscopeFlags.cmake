# One interface target carries the language level, the include root, warnings
# and sanitizer flags; every target of the project links it. CMAKE_CXX_FLAGS is
# never edited. Headers are included by their path from the source root
# ("link/CommPort.h"), so an include shows which folder and layer it reaches.

set(DIALSCOPE_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address;undefined")
option(DIALSCOPE_WERROR "Treat warnings as errors" OFF)

add_library(dialscope_build_flags INTERFACE)
target_compile_features(dialscope_build_flags INTERFACE cxx_std_20)
target_include_directories(dialscope_build_flags INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(dialscope_build_flags INTERFACE
  -Wall -Wextra -Wshadow -Wpedantic
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast>
  $<$<BOOL:${DIALSCOPE_WERROR}>:-Werror>)
target_compile_definitions(dialscope_build_flags INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_DISABLE_DEPRECATED_UP_TO=0x060000)

if(DIALSCOPE_SANITIZE)
  list(JOIN DIALSCOPE_SANITIZE "," _dialscope_san)
  target_compile_options(dialscope_build_flags INTERFACE
    -fsanitize=${_dialscope_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(dialscope_build_flags INTERFACE -fsanitize=${_dialscope_san})
endif()

# With the fuzz targets on, every target carries libFuzzer's coverage and
# comparison instrumentation, so the fuzzers are steered by the parsers and the
# connection they drive, not only by their own harness file. Only the fuzz
# targets link libFuzzer itself (-fsanitize=fuzzer, tests/CMakeLists.txt); the
# other programs get the instrumentation's no-op hooks from the sanitizer
# runtime.
option(DIALSCOPE_FUZZ "Build libFuzzer targets (needs clang)" OFF)
if(DIALSCOPE_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(dialscope_build_flags INTERFACE -fsanitize=fuzzer-no-link)
  target_link_options(dialscope_build_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()
