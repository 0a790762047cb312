# The test executable is a host: it exports the host's services. Beside it, a small plugin module
# that calls them back, notifies the host window and faults on request.
if(WIN32)
  kiv_host_executable(kiv_host_tests)
  kiv_test_dll(kiv_host_module_dll kiv_host_module FOR kiv_host_tests LIBS kiv_interfaces
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host/host_test_module.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/host/host_test_module.def)
endif()

# A module and the library it imports from, both in a folder of their own (not beside the test
# executable), so that loading the module needs its folder searched for dependencies.
if(WIN32)
  kiv_test_dll(kiv_host_dep_dll kiv_host_dep FOR kiv_host_tests
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host/dep_library.cpp)
  kiv_test_dll(kiv_host_depmodule_dll kiv_host_depmodule FOR kiv_host_tests LIBS kiv_host_dep_dll
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host/dep_module.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/host/dep_module.def)
  set_target_properties(kiv_host_dep_dll kiv_host_depmodule_dll PROPERTIES
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/host_dep)
endif()
