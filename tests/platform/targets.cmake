# A DLL with a version resource and the platform library inside: the version-resource tests read
# it, and the module-folder tests load a copy of it from another folder.
if(WIN32)
  kiv_test_dll(kiv_versioned_dll kiv_versioned FOR kiv_platform_tests LIBS kiv_platform
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/platform/versioned_dll.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/platform/versioned_dll.def)
  kiv_version_resource(kiv_versioned_dll DESCRIPTION "Version \"resource\" test library"
                       PRODUCT "Varnolet Test" VERSION 4.3.2.1)
endif()

# Foreign code for the structured-exception guard tests: faults and raises inside a DLL.
if(WIN32)
  kiv_test_dll(kiv_foreign_dll kiv_foreign FOR kiv_platform_tests
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/platform/foreign_dll.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/platform/foreign_dll.def)
endif()
