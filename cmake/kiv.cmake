# Build conventions shared by every folder.
#
# kiv_library(<folder> [DEPS ...]): one static library kiv_<folder> from src/<folder>/*.cpp.
#   Files ending _win32.cpp build only for Windows, files ending _posix.cpp only elsewhere.
# kiv_tests(<folder> [LIBS ...]): one test executable kiv_<folder>_tests from tests/<folder>/*_test.cpp
#   (same suffix rule), registered as one CTest test; on Windows it runs under the emulator (Wine).

if(WIN32)
  add_compile_options(-msse2 -mfpmath=sse)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # Static runtime: the products need only system DLLs.
  set(KIV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
  add_link_options(${KIV_STATIC_RUNTIME})
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-Wthread-safety)
endif()

if(KIV_SANITIZE AND NOT WIN32)
  list(JOIN KIV_SANITIZE "," _kiv_san)
  add_compile_options(-fsanitize=${_kiv_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${_kiv_san})
endif()

function(_kiv_filter_platform out_var)
  set(result)
  foreach(f IN LISTS ARGN)
    if(f MATCHES "_win32(_test)?\\.(cpp|c)$" AND NOT WIN32)
      continue()
    endif()
    if(f MATCHES "_posix(_test)?\\.(cpp|c)$" AND WIN32)
      continue()
    endif()
    list(APPEND result ${f})
  endforeach()
  set(${out_var} ${result} PARENT_SCOPE)
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
  else()
    add_library(kiv_${folder} INTERFACE)
    target_link_libraries(kiv_${folder} INTERFACE ${ARG_DEPS})
  endif()
  target_include_directories(kiv_${folder} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
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
