# A minimal DLL that proves the export plumbing: stdcall names undecorated through a .def file.
if(WIN32)
  add_library(kiv_smoke_dll SHARED ${CMAKE_CURRENT_SOURCE_DIR}/module/smoke_dll.cpp
                                   ${CMAKE_CURRENT_SOURCE_DIR}/module/smoke_dll.def)
  set_target_properties(kiv_smoke_dll PROPERTIES PREFIX "" OUTPUT_NAME kiv_smoke
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(kiv_module_tests kiv_smoke_dll)
endif()
