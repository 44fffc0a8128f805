# The layers' include rule. Every folder's headers are included as "folder/name.h", but the project
# root is on no target's include path. Instead each folder library gets a tree of its own in the build
# folder, layers/<folder>/<folder>/, holding one forwarding header per header in its source list, and
# exposes that tree PUBLIC: a file sees the headers of its own folder and of the libraries it links
# (directly or through them), and no others. An include against the layer order is a missing file.
function(trimora_expose_headers target folder)
  set(tree ${CMAKE_BINARY_DIR}/layers/${folder})
  get_target_property(sources ${target} SOURCES)
  set(exposed "")
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.h$")
      get_filename_component(name ${source} NAME)
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
      # Written only when its text changes, so a new configure does not rebuild everything.
      file(CONFIGURE OUTPUT ${tree}/${folder}/${name} CONTENT "#include \"${path}\"\n" @ONLY)
      list(APPEND exposed ${tree}/${folder}/${name})
    endif()
  endforeach()
  # A header taken off the list is no longer includable either.
  file(GLOB present ${tree}/${folder}/*.h)
  foreach(stale IN LISTS present)
    if(NOT stale IN_LIST exposed)
      file(REMOVE ${stale})
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${tree})
endfunction()
