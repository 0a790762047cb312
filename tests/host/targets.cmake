# The test executable is a host: it exports the host's services. Beside it, a small plugin module
# that calls them back, notifies the host window and faults on request.
if(WIN32)
  kiv_host_executable(kiv_host_tests)
  kiv_test_dll(kiv_host_module_dll kiv_host_module FOR kiv_host_tests LIBS kiv_interfaces
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host/host_test_module.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/host/host_test_module.def)
endif()
