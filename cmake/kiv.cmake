# Build conventions shared by every folder.
#
# kiv_library(<folder> [DEPS ...]): one static library kiv_<folder> from src/<folder>/*.cpp.
#   Files ending _win32.cpp build only for Windows, files ending _posix.cpp only elsewhere.
#   Its include path is its own layer folder (see kiv_layer_include) plus those of DEPS.
# kiv_layer_include(<target> <folder> [PUBLIC|INTERFACE]): gives a target the include folder of
#   src/<folder> alone, so that "<folder>/x.h" resolves and no other src/ folder does.
# kiv_tests(<folder> [LIBS ...]): one test executable kiv_<folder>_tests from tests/<folder>/*_test.cpp
#   (same suffix rule), registered as one CTest test; on Windows it runs under the emulator (Wine).
# kiv_version_resource(<target> DESCRIPTION <text> [PRODUCT <text>] [VERSION a.b.c.d]):
#   gives a Windows target a VERSIONINFO resource (windres) from cmake/version.rc.in.

if(WIN32)
  enable_language(RC)
  # Frame pointers keep the EBP chain intact, so that crash reports can walk the call stack.
  add_compile_options(-msse2 -mfpmath=sse -fno-omit-frame-pointer)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # Static runtime: the products need only system DLLs.
  set(KIV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
  add_link_options(${KIV_STATIC_RUNTIME})
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()
# Clang checks the lock annotations (platform/thread_annotations.h); a violation fails the build.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-Wthread-safety -Werror=thread-safety)
endif()

# Builds other than the Windows product (tests, sanitizers, fuzzing, benchmarks) abort on a lock
# release without a matching take, so that tests catch unbalanced locking.
if(NOT WIN32)
  add_compile_definitions(KIV_CHECKED_LOCKS)
endif()

if(KIV_SANITIZE AND NOT WIN32)
  list(JOIN KIV_SANITIZE "," _kiv_san)
  add_compile_options(-fsanitize=${_kiv_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${_kiv_san})
endif()

# libFuzzer needs coverage from the code under test, not only from the harness: with KIV_FUZZ every
# target (each library included) gets the fuzzer's instrumentation; fuzz/ links its targets with
# -fsanitize=fuzzer, which adds the driver.
if(KIV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KIV_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(_kiv_filter_platform out_var)
  set(result)
  foreach(f IN LISTS ARGN)
    if(f MATCHES "_win32(_test|_bench)?\\.(cpp|c)$" AND NOT WIN32)
      continue()
    endif()
    if(f MATCHES "_posix(_test|_bench)?\\.(cpp|c)$" AND WIN32)
      continue()
    endif()
    list(APPEND result ${f})
  endforeach()
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# Sources include each other as "<folder>/x.h" from src/. Rather than src/ itself, each library's
# include path holds a folder of the build tree with one symbolic link, <folder> -> src/<folder>:
# a library then sees its own headers and, through their usage requirements, those of the
# libraries it links, and an include of a folder it does not depend on fails to compile.
function(kiv_layer_include target folder)
  set(_scope PUBLIC)
  if(ARGC GREATER 2)
    set(_scope ${ARGV2})
  endif()
  set(_dir ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${_dir})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${_dir}/${folder} SYMBOLIC)
  target_include_directories(${target} ${_scope} ${_dir})
endfunction()

function(kiv_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS;SYSLIBS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  _kiv_filter_platform(_srcs ${_srcs})
  if(_srcs)
    add_library(kiv_${folder} STATIC ${_srcs})
    target_link_libraries(kiv_${folder} PUBLIC ${ARG_DEPS})
    if(WIN32 AND ARG_SYSLIBS)
      target_link_libraries(kiv_${folder} PUBLIC ${ARG_SYSLIBS})
    endif()
    kiv_layer_include(kiv_${folder} ${folder} PUBLIC)
  else()
    add_library(kiv_${folder} INTERFACE)
    target_link_libraries(kiv_${folder} INTERFACE ${ARG_DEPS})
    kiv_layer_include(kiv_${folder} ${folder} INTERFACE)
  endif()
endfunction()

function(kiv_tests folder)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*_test.cpp
                                    ${PROJECT_SOURCE_DIR}/tests/${folder}/*_test.c)
  _kiv_filter_platform(_srcs ${_srcs})
  if(NOT _srcs)
    return()
  endif()
  file(GLOB _helpers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*_helper.cpp)
  _kiv_filter_platform(_helpers ${_helpers})
  set(target kiv_${folder}_tests)
  add_executable(${target} ${_srcs} ${_helpers})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  # Each executable writes its case counts for the summary line of scripts/test.
  set_property(TEST ${target} APPEND PROPERTY ENVIRONMENT
    "GTEST_OUTPUT=xml:${target}.xml")
  set(KIV_LAST_TEST_TARGET ${target} PARENT_SCOPE)
endfunction()

function(kiv_version_resource target)
  cmake_parse_arguments(ARG "" "DESCRIPTION;PRODUCT;VERSION" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(NOT ARG_PRODUCT)
    set(ARG_PRODUCT "Varnolet")
  endif()
  if(NOT ARG_VERSION)
    set(ARG_VERSION ${PROJECT_VERSION})
  endif()
  # Four numbers, missing ones 0: the fixed file version is major.minor.release.build.
  string(REPLACE "." ";" _parts "${ARG_VERSION}")
  list(LENGTH _parts _n)
  while(_n LESS 4)
    list(APPEND _parts 0)
    math(EXPR _n "${_n} + 1")
  endwhile()
  list(SUBLIST _parts 0 4 _parts)
  list(JOIN _parts "," KIV_VER_COMMA)
  list(JOIN _parts "." KIV_VER_DOTTED)
  # Resource strings double their quotes.
  string(REPLACE "\"" "\"\"" KIV_VER_DESCRIPTION "${ARG_DESCRIPTION}")
  string(REPLACE "\"" "\"\"" KIV_VER_PRODUCT "${ARG_PRODUCT}")
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    set(KIV_VER_FILETYPE "VFT_APP")
    set(KIV_VER_SUFFIX ${CMAKE_EXECUTABLE_SUFFIX})
  else()
    set(KIV_VER_FILETYPE "VFT_DLL")
    set(KIV_VER_SUFFIX ${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  get_target_property(_name ${target} OUTPUT_NAME)
  if(NOT _name)
    set(_name ${target})
  endif()
  set(KIV_VER_NAME ${_name})
  set(_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()

# kiv_test_dll(<target> <output-name> FOR <test-target> SOURCES ... [LIBS ...]): a Windows test DLL
# (exports from a .def among SOURCES) written beside the test executables, built before <test-target>.
# It sees the SDK headers, and the headers of src/ only through LIBS.
function(kiv_test_dll target output)
  cmake_parse_arguments(ARG "" "FOR" "SOURCES;LIBS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE kiv_sdk ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output}
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(${ARG_FOR} ${target})
endfunction()
