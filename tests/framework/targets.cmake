# The call-record tests build their records and lists with the host library.
target_link_libraries(kiv_framework_tests PRIVATE kiv_host)
if(WIN32)
  # The test executable publishes a host allocator, as a host does, for the adoption tests: its
  # exports come from a .def file, which CMake passes to the linker only for libraries.
  set(_exports ${CMAKE_CURRENT_SOURCE_DIR}/framework/host_allocator_exports.def)
  target_sources(kiv_framework_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/framework/host_allocator_exports_win32.cpp)
  target_link_options(kiv_framework_tests PRIVATE ${_exports})
  set_property(TARGET kiv_framework_tests APPEND PROPERTY LINK_DEPENDS ${_exports})
  # It also exports the host's functions, under undecorated names.
  target_link_options(kiv_framework_tests PRIVATE -Wl,--kill-at)
endif()
if(WIN32)
  # Raw-data resources for the dialog description, read through the real resource functions.
  target_sources(kiv_framework_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/framework/options_dialog_resources.rc)
endif()
# The list settings tests store through the settings test helpers (temporary folder, test key).
target_sources(kiv_framework_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/settings/registry_key_helper.cpp)
