# Builds the release package with PACKAGE_SCRIPT, unpacks it into an empty folder and checks it
# as a plugin author would use it: the checksums hold, each C/C++ sample configures and builds
# from the package alone (its kiv CMake package and toolchain file), the Pascal sample builds
# with its build.sh against the package's unit, and each sample DLL passes `kivhost check` on its
# sample data under the package's kivhost.exe and varnolet.dll.
# Variables: the package script's (SOURCE, VERSION, DLL, KIVHOST, STRIP, OUT), PACKAGE_SCRIPT, WINE,
# GENERATOR; PPC and PASCAL_RTL (the Free Pascal cross compiler and its win32 units) when present.
function(run what)
  cmake_parse_arguments(A "" "DIR" "COMMAND" ${ARGN})
  execute_process(COMMAND ${A_COMMAND} WORKING_DIRECTORY ${A_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${OUT})
set(zip ${OUT}/varnolet-${VERSION}-win32.zip)
run("packaging" DIR ${SOURCE} COMMAND ${CMAKE_COMMAND} -DSOURCE=${SOURCE} -DVERSION=${VERSION} -DDLL=${DLL}
                                      -DKIVHOST=${KIVHOST} -DSTRIP=${STRIP} -DOUT=${OUT}
                                      -P ${PACKAGE_SCRIPT})
if(NOT EXISTS ${zip})
  message(FATAL_ERROR "${zip} was not written")
endif()
set(unpacked ${OUT}/unpacked)
file(MAKE_DIRECTORY ${unpacked})
run("unpacking" DIR ${unpacked} COMMAND ${CMAKE_COMMAND} -E tar xf ${zip})
set(pkg ${unpacked}/varnolet-${VERSION}-win32)
run("sha256sum -c" DIR ${pkg} COMMAND sha256sum --check --strict --quiet SHA256SUMS)

# Sample, language, DLL built, data file in the package.
set(samples "line_parser|cmake|line_parser.dll|examples/line_parser/sample.txt"
            "frame_parser|cmake|frame_parser.dll|examples/frame_parser/sample.bin"
            "pascal_frame_parser|pascal|pascal_frame_parser.dll|examples/frame_parser/sample.bin")
foreach(sample IN LISTS samples)
  string(REPLACE "|" ";" fields ${sample})
  list(GET fields 0 name)
  list(GET fields 1 kind)
  list(GET fields 2 dll)
  list(GET fields 3 data)
  set(build ${OUT}/build/${name})
  file(MAKE_DIRECTORY ${build})
  if(kind STREQUAL "cmake")
    run("configuring ${name}" DIR ${build}
        COMMAND ${CMAKE_COMMAND} -S ${pkg}/examples/${name} -B ${build} -G ${GENERATOR}
                -DCMAKE_TOOLCHAIN_FILE=${pkg}/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release)
    # The SDK must be the package's, found through its CMake package.
    file(STRINGS ${build}/CMakeCache.txt kiv_dir REGEX "^kiv_DIR:")
    if(NOT kiv_dir STREQUAL "kiv_DIR:PATH=${pkg}/cmake")
      message(FATAL_ERROR "${name} took the SDK from elsewhere: ${kiv_dir}")
    endif()
    run("building ${name}" DIR ${build} COMMAND ${CMAKE_COMMAND} --build ${build} --parallel 2)
  elseif(PPC)
    run("building ${name}" DIR ${build}
        COMMAND ${CMAKE_COMMAND} -E env FPC=${PPC} "FPCFLAGS=-n -Fu${PASCAL_RTL}" OUTDIR=${build}
                sh ${pkg}/examples/${name}/build.sh)
  else()
    message(STATUS "${name} left out: no Free Pascal cross compiler")
    continue()
  endif()
  if(NOT EXISTS ${build}/${dll})
    message(FATAL_ERROR "${name} built no ${dll}")
  endif()
  file(COPY ${pkg}/${data} DESTINATION ${build})
  get_filename_component(data_name ${data} NAME)
  run("kivhost check ${dll}" DIR ${build} COMMAND ${WINE} ${pkg}/bin/kivhost.exe check ${dll} data=${data_name})
endforeach()
file(REMOVE_RECURSE ${OUT})
