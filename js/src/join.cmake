# Joins the search-page modules into search.js:
#   cmake -DOUTPUT=FILE -P join.cmake MODULE...
# The modules are taken in the order given; the file is replaced only once complete.
set(text "")
set(modules OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(modules)
    file(READ "${CMAKE_ARGV${i}}" part)
    string(APPEND text "${part}")
  elseif(CMAKE_ARGV${i} MATCHES "join\\.cmake$")
    set(modules ON)
  endif()
endforeach()
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${OUTPUT}.part" "${text}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
