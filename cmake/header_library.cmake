# Header-only libraries from the system's packages. A native build takes the package's own CMake config;
# a cross build takes the host's header folder alone, through a link in the build tree, since the whole of
# the host's /usr/include on the path would hide the cross compiler's own headers.
#   trimora_header_library(TARGET PACKAGE VERSION FOLDER HEADER DEBIAN_PACKAGE)
# VERSION may be empty ("") when any version will do.
function(trimora_header_library target package version folder header debian_package)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} ${version} QUIET)  # an empty version adds no argument
  endif()
  if(TARGET ${target})
    return()
  endif()
  find_path(${package}_HEADER_DIR ${folder}/${header} HINTS /usr/include /usr/local/include
            NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${package}_HEADER_DIR)
    message(FATAL_ERROR "${folder}/${header} not found: install the package ${debian_package}")
  endif()
  set(linked ${CMAKE_BINARY_DIR}/${package}-include)
  file(MAKE_DIRECTORY ${linked})
  if(NOT EXISTS ${linked}/${folder})
    file(CREATE_LINK ${${package}_HEADER_DIR}/${folder} ${linked}/${folder} SYMBOLIC COPY_ON_ERROR)
  endif()
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} SYSTEM INTERFACE ${linked})
endfunction()
