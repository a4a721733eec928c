# Shared part of the MinGW-w64 toolchain files: Debian's cross compilers with
# POSIX threads for the triple that the including file sets.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TTU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TTU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TTU_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TTU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
