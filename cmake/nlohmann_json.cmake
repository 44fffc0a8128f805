# nlohmann/json (header only): the package's CMake config on a native build; a cross build takes the
# host's header alone, since the package's target would put all of the host's headers on the path.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 QUIET)
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
  find_path(NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp
            HINTS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT NLOHMANN_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install the package nlohmann-json3-dev")
  endif()
  # Only the nlohmann folder is put on the include path, through a link in the build tree: the whole of
  # the host's /usr/include would hide the cross compiler's own headers.
  set(TRIMORA_JSON_INCLUDE ${CMAKE_BINARY_DIR}/nlohmann-json-include)
  file(MAKE_DIRECTORY ${TRIMORA_JSON_INCLUDE})
  if(NOT EXISTS ${TRIMORA_JSON_INCLUDE}/nlohmann)
    file(CREATE_LINK ${NLOHMANN_JSON_INCLUDE_DIR}/nlohmann ${TRIMORA_JSON_INCLUDE}/nlohmann SYMBOLIC COPY_ON_ERROR)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${TRIMORA_JSON_INCLUDE})
endif()
