# A DLL with a version resource and the platform library inside: the version-resource tests read
# it, and the module-folder tests load a copy of it from another folder.
if(WIN32)
  add_library(kiv_versioned_dll SHARED ${CMAKE_CURRENT_SOURCE_DIR}/platform/versioned_dll.cpp
                                       ${CMAKE_CURRENT_SOURCE_DIR}/platform/versioned_dll.def)
  target_link_libraries(kiv_versioned_dll PRIVATE kiv_platform)
  set_target_properties(kiv_versioned_dll PROPERTIES PREFIX "" OUTPUT_NAME kiv_versioned
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  kiv_version_resource(kiv_versioned_dll DESCRIPTION "Version \"resource\" test library"
                       PRODUCT "Varnolet Test" VERSION 4.3.2.1)
  add_dependencies(kiv_platform_tests kiv_versioned_dll)
endif()
