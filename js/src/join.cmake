# Joins the search-page modules into search.js:
#   cmake -DOUTPUT=FILE -P join.cmake MODULE...
# The modules are taken in the order given; the file is replaced only once complete.
# Lines that hold only a comment are left out: they are more than a quarter of the
# modules' bytes, which the page reads before its first results. The comments at the
# ends of lines and the /* */ blocks (the generator line first) stay.
set(text "")
set(modules OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(modules)
    file(READ "${CMAKE_ARGV${i}}" part)
    string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" part "\n${part}")
    string(SUBSTRING "${part}" 1 -1 part)
    string(APPEND text "${part}")
  elseif(CMAKE_ARGV${i} MATCHES "join\\.cmake$")
    set(modules ON)
  endif()
endforeach()
# Below the generator line, the hint that the page calls most of the file's functions
# before its first results: the browser then compiles them all while it reads the file,
# off the page's thread, where it would compile each on its first call, on that thread,
# in the middle of the first search.
string(FIND "${text}" "\n" first_end)
math(EXPR rest_at "${first_end} + 1")
string(SUBSTRING "${text}" 0 ${rest_at} first_line)
string(SUBSTRING "${text}" ${rest_at} -1 rest)
set(text "${first_line}//# allFunctionsCalledOnLoad\n${rest}")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${OUTPUT}.part" "${text}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
