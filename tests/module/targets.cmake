# A minimal DLL that proves the export plumbing: stdcall names undecorated through a .def file.
if(WIN32)
  kiv_test_dll(kiv_smoke_dll kiv_smoke FOR kiv_module_tests
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/module/smoke_dll.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/module/smoke_dll.def)
endif()
