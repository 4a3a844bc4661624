# Header-only libraries of the build machine for the Windows build. Their
# Debian packages put the headers in /usr/include, which the cross compiler
# must not search (glibc's headers live there too), so each library's own
# folder is linked into a folder of the build and found from there.
set(_skiv_host ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_skiv_host}/include ${_skiv_host}/cmake)

# CLI11 (libcli11-dev): the command line of skivaddon-cli.
if(EXISTS /usr/include/CLI/CLI.hpp)
  file(CREATE_LINK /usr/include/CLI ${_skiv_host}/include/CLI SYMBOLIC)
  file(WRITE ${_skiv_host}/cmake/CLI11Config.cmake
    "if(NOT TARGET CLI11::CLI11)\n"
    "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
    "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_skiv_host}/include)\n"
    "endif()\n")
  set(CLI11_DIR ${_skiv_host}/cmake CACHE PATH "" FORCE)
endif()
