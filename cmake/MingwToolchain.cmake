# What both cross toolchains share: mingw-w64's posix-threads compilers for
# TIRN_MINGW_TRIPLET (the win32 variant lacks std::mutex, which GoogleTest
# needs), searching only that target's root for libraries and headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TIRN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIRN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TIRN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TIRN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
