# Linux on another machine (CMAKE_SYSTEM_PROCESSOR, set by the file that includes this one) with
# Debian's cross compiler for it; its programs, the tests among them, run here under qemu-user
# with the libraries Debian installs for that machine.
set(CMAKE_SYSTEM_NAME Linux)
set(brenvo_triple ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
set(CMAKE_C_COMPILER ${brenvo_triple}-gcc)
set(CMAKE_CXX_COMPILER ${brenvo_triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${brenvo_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${brenvo_triple})
