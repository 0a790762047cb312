# The Varnolet SDK as a CMake package: find_package(kiv) gives the interface target kiv::sdk (the
# SDK headers, include/kiv/*.h; on Windows also oleaut32, for the BSTR and variant functions the
# plugins call), kiv_PASCAL_DIR (the folder of the Pascal unit kiv.pas) and kiv_TOOLCHAIN_FILE
# (the mingw-w64 i686 toolchain file). The same file serves the release package and the source
# tree: both keep it in cmake/ beside include/.
get_filename_component(_kiv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT TARGET kiv::sdk)
  add_library(kiv::sdk INTERFACE IMPORTED)
  set_target_properties(kiv::sdk PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_kiv_root}/include")
  if(WIN32)
    set_target_properties(kiv::sdk PROPERTIES INTERFACE_LINK_LIBRARIES oleaut32)
  endif()
endif()
set(kiv_INCLUDE_DIR "${_kiv_root}/include")
set(kiv_PASCAL_DIR "${_kiv_root}/include/pascal")
set(kiv_TOOLCHAIN_FILE "${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake")
unset(_kiv_root)
