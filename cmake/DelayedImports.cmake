# System libraries other than kernel32 and the C run-time library are bound on
# first call instead of at process start. The program's entry point restricts
# the library search to the system directory before anything else runs, so a
# DLL of a system name left beside the program (a downloads folder) is never
# loaded by its name, nor as a dependency of one.
#
# Import libraries of the delayed kind are made here, once per configuration,
# from the toolchain's own import libraries. GNU ld drops the lazy-binding
# thunk of a function that is reached only through its __imp_ pointer, so the
# headers must not declare system functions dllimport: calls then go through
# the thunk, which is kept.
add_compile_definitions(DECLSPEC_IMPORT=)

set(TIRN_DELAYED_SYSTEM_LIBRARIES user32 gdi32 advapi32 shell32 shlwapi)
set(delayed_dir ${CMAKE_BINARY_DIR}/delayed-imports)
file(MAKE_DIRECTORY ${delayed_dir})
add_library(tirn_system_libraries INTERFACE)
foreach(name IN LISTS TIRN_DELAYED_SYSTEM_LIBRARIES)
    execute_process(
        COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${name}.a
        OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(delayed ${delayed_dir}/lib${name}_delayed.a)
    execute_process(
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/make-delayed-import-library
                ${CMAKE_NM} ${CMAKE_DLLTOOL} ${import_library} ${name}.dll ${delayed}
                "${TIRN_C_SYMBOL_PREFIX}"
        RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not make the delayed import library of ${name}.dll")
    endif()
    target_link_libraries(tirn_system_libraries INTERFACE ${delayed})
endforeach()
# __delayLoadHelper2, which binds a delayed import on first call.
target_link_libraries(tirn_system_libraries INTERFACE delayimp)
