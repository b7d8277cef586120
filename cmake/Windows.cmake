# Settings of the cross tree: static, self-contained 32-bit executables that
# import system DLLs only.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX
                        WIN32_LEAN_AND_MEAN)
# Reproducible: no link time in the PE header (it would make every build of
# one commit differ), and no build path in the code.
add_link_options(-static -static-libgcc -static-libstdc++
                 -Wl,--large-address-aware -Wl,--dynamicbase -Wl,--nxcompat
                 -Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
include(${CMAKE_CURRENT_LIST_DIR}/DelayedImports.cmake)
