# Settings of the cross trees: static, self-contained 32-bit or 64-bit
# executables that import system DLLs only.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX
                        WIN32_LEAN_AND_MEAN)
# Reproducible: no link time in the PE header (it would make every build of
# one commit differ), and no build path in the code.
add_link_options(-static -static-libgcc -static-libstdc++
                 -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TIRN_X64 TRUE)
    # 64-bit images are large-address aware by nature; take the whole
    # address space for ASLR too.
    add_link_options(-Wl,--high-entropy-va)
    # C names carry no leading underscore on x86_64.
    set(TIRN_C_SYMBOL_PREFIX "")
    set(TIRN_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine64-run)
    set(TIRN_WINE_ARCH win64)
    # The launcher of the other width, built by the i686 tree.
    set(TIRN_OTHER_LAUNCHER ${TIRN_TOOLS_DIR}/TirnHomeISSetup.exe)
else()
    set(TIRN_X64 FALSE)
    # The mapping of a large own file needs the room above 2 GiB.
    add_link_options(-Wl,--large-address-aware)
    set(TIRN_C_SYMBOL_PREFIX "_")
    set(TIRN_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)
    set(TIRN_WINE_ARCH win32)
    set(TIRN_OTHER_LAUNCHER ${TIRN_BIN_DIR}/x64/TirnHomeISSetup.exe)
endif()
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
# GCC 12 reports a false -Wrestrict inside std::string at -O3 (GCC bug
# 105329), in mingw's build of the library.
add_compile_options(-Wno-restrict)
include(${CMAKE_CURRENT_LIST_DIR}/DelayedImports.cmake)
