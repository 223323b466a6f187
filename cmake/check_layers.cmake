# Fails when a file includes a header of a folder its layer may not use.
#
#   cmake -DLAYER=<name> -DALLOWED=<folder,folder,...> -DFOLDERS=<every folder>
#         -DFILES=<file|file|...> -DSTAMP=<file> -P check_layers.cmake
#
# Every header is included as "folder/file.h" from the repository root, so
# include directories alone can't keep a layer from reaching above itself;
# this check runs as part of each library's build and stops it instead.
cmake_minimum_required(VERSION 3.21)
string(REPLACE "," ";" allowed "${ALLOWED}")
string(REPLACE "," ";" folders "${FOLDERS}")
string(REPLACE "|" ";" files "${FILES}")
set(errors "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/.*$" "\\1" folder "${line}")
    if(folder IN_LIST folders AND NOT folder IN_LIST allowed)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*(\"[^\"]*\").*$" "\\1" header "${line}")
      string(APPEND errors "${file}: error: the include of ${header} goes against the layers\n")
    endif()
  endforeach()
endforeach()
if(errors)
  string(REPLACE ";" ", " allowed_words "${allowed}")
  message(FATAL_ERROR "${errors}${LAYER} may include only from: ${allowed_words}")
endif()
file(WRITE "${STAMP}" "")
