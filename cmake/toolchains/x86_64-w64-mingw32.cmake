# Windows on x86-64 with Debian's MinGW-w64 cross compiler, its POSIX-threads variant (whose
# standard library has std::thread and std::mutex). Its programs run here under wine64 through
# scripts/wine.sh: a private, quiet, headless prefix in the build folder, and the compiler's
# runtime DLLs (libstdc++, libgcc, winpthread) found where the compiler keeps them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(brenvo_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${brenvo_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${brenvo_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${brenvo_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${brenvo_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(brenvo_wine ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine.sh --prefix ${CMAKE_BINARY_DIR}/wine)
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE brenvo_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(brenvo_dll_dir ${brenvo_dll} DIRECTORY)
    get_filename_component(brenvo_dll_dir ${brenvo_dll_dir} REALPATH)
    list(APPEND brenvo_wine --dll-dir ${brenvo_dll_dir})
endforeach()
set(CMAKE_CROSSCOMPILING_EMULATOR ${brenvo_wine})
