# The product's layers: one library per folder, each with the folders it
# builds on, and a check that a folder's files include nothing else.

# Every folder whose headers are included as "folder/file.h".
set(TOVRIN_FOLDERS platform protocol image catalog link discovery session fleet record cli testkit
                   tools bench)

# The folders a folder's files may include from: itself and, transitively,
# the folders it was declared on.
function(tovrin_allowed_folders out)
  set(allowed)
  foreach(folder ${ARGN})
    get_property(below GLOBAL PROPERTY TOVRIN_ALLOWED_${folder})
    list(APPEND allowed ${folder} ${below})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set(${out} ${allowed} PARENT_SCOPE)
endfunction()

# Checks, as part of target's build, that files include headers only from
# the folders named in allowed; an include from any other folder fails it.
function(tovrin_check_includes target layer allowed)
  set(stamp ${CMAKE_BINARY_DIR}/layers/${target}.checked)
  list(JOIN allowed "," allowed_arg)
  list(JOIN TOVRIN_FOLDERS "," folders_arg)
  list(JOIN ARGN "|" files_arg)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DLAYER=${layer} -DALLOWED=${allowed_arg} -DFOLDERS=${folders_arg}
            -DFILES=${files_arg} -DSTAMP=${stamp} -P ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake
    DEPENDS ${ARGN} ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking the includes of ${target} against the layers"
    VERBATIM)
  target_sources(${target} PRIVATE ${stamp})
endfunction()

# tovrin_layer(<folder> [DEPENDS <folder>...]): the folder's library,
# tovrin_<folder>, from its sources (not its tests, fuzz targets or
# cli/main.cpp; of the platform backends only the one being built),
# linked to the libraries of the folders it builds on.
function(tovrin_layer folder)
  cmake_parse_arguments(arg "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$|/main\\.cpp$|_fuzz\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "_(posix|windows)\\.cpp$")
  file(GLOB backend CONFIGURE_DEPENDS ${folder}/*_${TOVRIN_PLATFORM}.cpp)
  list(FILTER backend EXCLUDE REGEX "_test\\.cpp$")
  file(GLOB headers CONFIGURE_DEPENDS ${folder}/*.h)
  tovrin_allowed_folders(allowed ${arg_DEPENDS})
  set_property(GLOBAL PROPERTY TOVRIN_ALLOWED_${folder} ${allowed})
  list(PREPEND allowed ${folder})

  add_library(tovrin_${folder} STATIC ${sources} ${backend})
  target_include_directories(tovrin_${folder} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(tovrin_${folder} PRIVATE ${TOVRIN_STRICT_WARNINGS})
  foreach(dep ${arg_DEPENDS})
    target_link_libraries(tovrin_${folder} PUBLIC tovrin_${dep})
  endforeach()
  tovrin_check_includes(tovrin_${folder} ${folder} "${allowed}" ${sources} ${backend} ${headers})
endfunction()
