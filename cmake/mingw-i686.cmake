# Cross toolchain: 32-bit Windows programs built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TIRN_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)

# Everything Windows-side runs under Wine through the project's runner, in a
# 32-bit prefix of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
