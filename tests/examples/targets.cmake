# The sample plugins' parsing cores, tested without a host.
target_link_libraries(kiv_examples_tests PRIVATE line_parser_core frame_parser_core)

# Each sample also builds as a project of its own against the SDK headers alone.
if(WIN32 AND CMAKE_TOOLCHAIN_FILE)
  foreach(example line_parser frame_parser)
    add_test(NAME examples_standalone_${example}
             COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/examples/${example}
                     -DBINARY=${CMAKE_CURRENT_BINARY_DIR}/standalone_${example} -DNAME=${example}
                     -DSDK=${PROJECT_SOURCE_DIR}/include
                     -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DGENERATOR=${CMAKE_GENERATOR}
                     -DOBJDUMP=${CMAKE_OBJDUMP}
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/examples/standalone_build.cmake)
  endforeach()
endif()

# The release package, unpacked into an empty folder: every sample builds from it alone (CMake and
# Free Pascal) and passes `kivhost check` under the kivhost.exe and varnolet.dll it ships.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(_ppc)
  if(KIV_PASCAL)
    set(_ppc -DPPC=${KIV_PPC386} -DPASCAL_RTL=${KIV_PASCAL_TOOLCHAIN}/rtl)
  endif()
  add_test(NAME examples_package
           COMMAND ${CMAKE_COMMAND} ${KIV_PACKAGE_ARGS} -DOUT=${CMAKE_CURRENT_BINARY_DIR}/package ${_ppc}
                   -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR} -DGENERATOR=${CMAKE_GENERATOR}
                   -DPACKAGE_SCRIPT=${PROJECT_SOURCE_DIR}/cmake/package.cmake
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/examples/package_test.cmake)
  set_tests_properties(examples_package PROPERTIES TIMEOUT 300)
endif()

# The sample DLLs, called directly by the tests with a stand-in for the module's side.
if(WIN32)
  target_link_libraries(kiv_examples_tests PRIVATE kiv_interfaces oleaut32)
  foreach(example line_parser frame_parser)
    add_dependencies(kiv_examples_tests ${example})
    add_custom_command(TARGET kiv_examples_tests POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${example}>
                               ${CMAKE_CURRENT_BINARY_DIR}/${example}.dll)
  endforeach()
endif()

# The samples behind the real module: the test executable is a host (it publishes its allocator)
# and finds varnolet.dll and the sample DLLs beside it.
if(WIN32)
  kiv_host_executable(kiv_examples_tests ALLOCATOR)
  target_compile_definitions(kiv_examples_tests PRIVATE KIV_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  add_dependencies(kiv_examples_tests varnolet)
  add_custom_command(TARGET kiv_examples_tests POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet>
                             ${CMAKE_CURRENT_BINARY_DIR}/varnolet.dll)
endif()

# The Pascal SDK unit's layout program, run by the test beside it.
if(KIV_PASCAL)
  kiv_pascal_target(kiv_pascal_layout ${CMAKE_CURRENT_SOURCE_DIR}/examples/pascal/kiv_layout.pas)
  add_dependencies(kiv_examples_tests kiv_pascal_layout)
  target_compile_definitions(kiv_examples_tests PRIVATE KIV_HAVE_PASCAL=1)
  add_custom_command(TARGET kiv_examples_tests POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_PROPERTY:kiv_pascal_layout,KIV_FILE>
                             ${CMAKE_CURRENT_BINARY_DIR}/kiv_layout.exe)
endif()

# The SDK headers under Visual Studio's ABI: clang in MSVC mode, as C and as C++.
if(NOT WIN32)
  find_program(KIV_CLANG NAMES clang clang-14)
  if(KIV_CLANG)
    add_test(NAME sdk_headers_msvc
             COMMAND ${CMAKE_COMMAND} -DCLANG=${KIV_CLANG} -DINCLUDE=${PROJECT_SOURCE_DIR}/include
                     -DCHECKS=${CMAKE_CURRENT_SOURCE_DIR}/examples/sdk_slots_check.c
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/sdk_headers_msvc
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/examples/sdk_headers_check.cmake)
  endif()
endif()
