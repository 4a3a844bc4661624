# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread
# model, so std::thread and std::mutex work) and libz-mingw-w64-dev's zlib.
# Programs are linked statically: nothing to ship but system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_skiv_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_skiv_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_skiv_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_skiv_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_skiv_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static zlib, never the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${_skiv_triple}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${_skiv_triple}/include CACHE PATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
