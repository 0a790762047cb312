# Checks that every include in src/ points down the libraries' order: a file of src/<folder> may
# include headers of its own folder and of folders listed before it, never of one after it, and
# never leave src/ through "..". Every folder of src/ must be a listed library.
# The build's include paths already reject a source that includes a library it does not link;
# this also covers headers that no source of their own library includes.
#
# Variables: ROOT, the source tree; LAYERS, the folders of src/, lowest first, comma-separated.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" layers "${LAYERS}")
if(NOT layers)
  message(FATAL_ERROR "LAYERS is empty")
endif()
set(problems "")
set(count 0)

file(GLOB folders LIST_DIRECTORIES true RELATIVE ${ROOT}/src ${ROOT}/src/*)
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY ${ROOT}/src/${folder} AND NOT folder IN_LIST layers)
    string(APPEND problems "src/${folder}: a folder outside the layer order\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${ROOT} ${ROOT}/src/*)
list(FILTER files INCLUDE REGEX "\\.(h|hpp|inc|c|cpp|cc|rc)$")
list(SORT files)
set(scanned 0)
foreach(file IN LISTS files)
  string(REGEX REPLACE "^src/([^/]+)/.*" "\\1" own "${file}")
  list(FIND layers "${own}" own_rank)
  file(READ ${ROOT}/${file} text)
  # One list element per line: characters that a CMake list treats specially go first.
  string(REPLACE "\\" "" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "(" text "${text}")
  string(REPLACE "]" ")" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(line_no 0)
  foreach(line IN LISTS lines)
    math(EXPR line_no "${line_no} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    set(path "${CMAKE_MATCH_1}")
    if(path MATCHES "(^|/)\\.\\.(/|$)")
      string(APPEND problems "${file}:${line_no}: includes \"${path}\", outside its folder\n")
      math(EXPR count "${count} + 1")
    elseif(path MATCHES "^([^/]+)/")
      list(FIND layers "${CMAKE_MATCH_1}" rank)
      if(own_rank GREATER_EQUAL 0 AND rank GREATER own_rank)
        string(APPEND problems
               "${file}:${line_no}: includes \"${path}\", from ${CMAKE_MATCH_1}, above ${own}\n")
        math(EXPR count "${count} + 1")
      endif()
    endif()
  endforeach()
  math(EXPR scanned "${scanned} + 1")
endforeach()

if(scanned EQUAL 0)
  message(FATAL_ERROR "no sources found in ${ROOT}/src")
endif()
if(count GREATER 0)
  # One unwrapped line per problem, so that editors can jump to file:line.
  message("${problems}")
  message(FATAL_ERROR "${count} breach(es) of the layer order ${LAYERS}")
endif()
message(STATUS "${scanned} files of src/ include only their own and lower layers")
