# Cross toolchain: 64-bit Windows programs built with mingw-w64, from the same
# sources as the 32-bit ones.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TIRN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)

# Everything Windows-side runs under Wine's 64-bit loader, in a 64-bit prefix
# of its own: it runs where the host refuses 32-bit programs.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64-run)
