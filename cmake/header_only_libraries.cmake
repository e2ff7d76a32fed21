# The header-only libraries (nlohmann/json, CLI11) for the Windows cross build. Debian
# installs them for the build machine only; their headers are plain C++ and serve the
# cross compiler too. They are staged in a folder of their own so that the cross
# compiler never sees the build machine's other system headers.
set(VELMORA_STAGED_HEADERS "${CMAKE_BINARY_DIR}/staged-headers")
foreach(library nlohmann CLI)
  if(NOT EXISTS "/usr/include/${library}")
    message(FATAL_ERROR "/usr/include/${library} is missing: install nlohmann-json3-dev and libcli11-dev")
  endif()
  file(MAKE_DIRECTORY "${VELMORA_STAGED_HEADERS}")
  if(NOT EXISTS "${VELMORA_STAGED_HEADERS}/${library}")
    file(CREATE_LINK "/usr/include/${library}" "${VELMORA_STAGED_HEADERS}/${library}" SYMBOLIC)
  endif()
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE "${VELMORA_STAGED_HEADERS}")
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 INTERFACE "${VELMORA_STAGED_HEADERS}")
