# Assembles the release package varnolet-<VERSION>-win32.zip in OUT. It holds one folder of the
# same name: the module and the host simulator (bin/), the SDK (include/, and cmake/ with the kiv
# CMake package and the toolchain file), the guides (docs/, tools/kivhost/README.md), the sample
# plugins with their data (examples/) and SHA256SUMS, the checksum of every other file.
# Variables: SOURCE (the source tree), VERSION, DLL (varnolet.dll), KIVHOST (kivhost.exe), OUT;
# STRIP, when given, removes the debug information from the packaged binaries (symbols stay).
# Run with cmake -P; prints the archive's path.
foreach(var SOURCE VERSION DLL KIVHOST OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package.cmake needs ${var}")
  endif()
endforeach()
set(name varnolet-${VERSION}-win32)
set(root ${OUT}/${name})
file(REMOVE_RECURSE ${root} ${OUT}/${name}.zip)

file(COPY ${DLL} ${KIVHOST} DESTINATION ${root}/bin)
if(STRIP)
  foreach(binary ${DLL} ${KIVHOST})
    get_filename_component(binary ${binary} NAME)
    execute_process(COMMAND ${STRIP} --strip-debug ${root}/bin/${binary} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "stripping ${binary} failed")
    endif()
  endforeach()
endif()
file(COPY ${SOURCE}/include/kiv ${SOURCE}/include/pascal DESTINATION ${root}/include)
file(COPY ${SOURCE}/cmake/kivConfig.cmake ${SOURCE}/cmake/mingw-i686.cmake DESTINATION ${root}/cmake)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${root}/cmake/kivConfigVersion.cmake VERSION ${VERSION}
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
# The guides with the examples they quote; the examples' CMakeLists.txt builds only in the tree.
file(COPY ${SOURCE}/docs DESTINATION ${root} PATTERN CMakeLists.txt EXCLUDE)
file(COPY ${SOURCE}/tools/kivhost/README.md DESTINATION ${root}/tools/kivhost)
# The samples, without build folders left in them.
foreach(example line_parser frame_parser pascal_frame_parser)
  file(COPY ${SOURCE}/examples/${example} DESTINATION ${root}/examples PATTERN build EXCLUDE)
endforeach()
configure_file(${SOURCE}/cmake/package_readme.md.in ${root}/README.md @ONLY)

file(GLOB_RECURSE files RELATIVE ${root} ${root}/*)
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 ${root}/${f} hash)
  string(APPEND sums "${hash}  ${f}\n")
endforeach()
file(WRITE ${root}/SHA256SUMS "${sums}")

execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip ${name}
                WORKING_DIRECTORY ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zipping ${root} failed")
endif()
file(REMOVE_RECURSE ${root})
message(STATUS "${OUT}/${name}.zip")
