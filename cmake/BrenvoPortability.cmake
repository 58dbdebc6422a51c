# Builds for other systems, machines and standard libraries: which layers a system has, the
# portable forms of the SIMD kernels, and GoogleTest for a cross build. Included once
# Brenvo::utf, which every library links, is defined.
#
#   BRENVO_WITH_PLATFORM     the platform services, the agent, the tools that use them and the
#                            windows; for the systems that have a folder of implementations.
#                            Without them a build has the UTF and JSON layers, xkjson and their
#                            tests, which build for any system.
#   BRENVO_EVENT_LOOP        the run loop's wait: linux (timerfd, eventfd; the default on Linux)
#                            or posix (poll, a self-pipe, CLOCK_MONOTONIC; any POSIX system)
#   BRENVO_SCALAR            compiles the portable form of every SIMD kernel (BRENVO_NO_SIMD,
#                            see brenvo/utf/Simd.h), as machines without SSE2 do
#   BRENVO_GTEST_SOURCE_DIR  GoogleTest's sources, built with this build's compiler instead of
#                            the installed GoogleTest (which a cross build cannot link)

# Each system's implementations of the platform services live in one folder,
# brenvo/platform/<folder>/, whose <folder>.cmake builds them (docs/porting.md).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(BRENVO_SYSTEM_FOLDER linux)
    set(brenvo_event_loop_default linux)
else()
    set(BRENVO_SYSTEM_FOLDER "")
    set(brenvo_event_loop_default posix)
endif()

if(BRENVO_SYSTEM_FOLDER)
    set(brenvo_platform_default ON)
else()
    set(brenvo_platform_default OFF)
endif()
option(BRENVO_WITH_PLATFORM
    "Build the platform services, the agent and the windows (Linux only)" ${brenvo_platform_default})
if(BRENVO_WITH_PLATFORM AND NOT BRENVO_SYSTEM_FOLDER)
    message(FATAL_ERROR "Brenvo's platform services, agent and windows are implemented for Linux "
        "only, not for ${CMAKE_SYSTEM_NAME}: configure with -DBRENVO_WITH_PLATFORM=OFF to build "
        "the UTF and JSON layers and xkjson, or see docs/porting.md for what a port adds.")
endif()
if(NOT BRENVO_WITH_PLATFORM AND BRENVO_SYSTEM_FOLDER)
    message(STATUS "BRENVO_WITH_PLATFORM is OFF: building the UTF and JSON layers, xkjson and "
        "their tests only")
elseif(NOT BRENVO_WITH_PLATFORM)
    message(STATUS "Building for ${CMAKE_SYSTEM_NAME}: the UTF and JSON layers and xkjson only; "
        "the platform services, the agent and the windows are Linux-only (docs/porting.md)")
endif()

# The wait is brenvo/platform/<BRENVO_EVENT_LOOP>/EventWait.cpp.
set(BRENVO_EVENT_LOOP ${brenvo_event_loop_default} CACHE STRING
    "The run loop's wait: linux (timerfd, eventfd) or posix (poll, a self-pipe)")
set_property(CACHE BRENVO_EVENT_LOOP PROPERTY STRINGS linux posix)
if(NOT BRENVO_EVENT_LOOP MATCHES "^(linux|posix)$")
    message(FATAL_ERROR "BRENVO_EVENT_LOOP is \"${BRENVO_EVENT_LOOP}\": it is linux or posix")
elseif(BRENVO_WITH_PLATFORM AND BRENVO_EVENT_LOOP STREQUAL "linux"
       AND NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    message(FATAL_ERROR "BRENVO_EVENT_LOOP=linux needs Linux (timerfd, eventfd): use posix")
endif()

option(BRENVO_SCALAR "Compile the portable form of every SIMD kernel" OFF)
if(BRENVO_SCALAR)
    target_compile_definitions(brenvo_utf INTERFACE BRENVO_NO_SIMD)
endif()

# Windows: the public symbols are exported from the DLLs and imported by their users
# (brenvo/Export.h); a static library's users must say so.
if(WIN32 AND NOT BUILD_SHARED_LIBS)
    target_compile_definitions(brenvo_utf INTERFACE BRENVO_STATIC)
endif()

# cpp-httplib, on which the brenvo tool's store server and the tests' loopback server are built,
# is a compiled library on Debian, built with libstdc++: with another standard library (libc++)
# the brenvo tool and the tests that need the loopback server are left out.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("#include <version>
#if !defined(__GLIBCXX__)
#error not libstdc++
#endif
int main() {}" BRENVO_HAVE_LIBSTDCXX)
if(BRENVO_WITH_PLATFORM AND NOT BRENVO_HAVE_LIBSTDCXX)
    message(STATUS "Not libstdc++, which Debian's cpp-httplib is built with: the brenvo tool and "
        "the tests that need the loopback server are left out")
endif()

set(BRENVO_GTEST_SOURCE_DIR "" CACHE PATH
    "GoogleTest's sources, to build it with this build's compiler (cross builds)")
if(BRENVO_BUILD_TESTS AND BRENVO_GTEST_SOURCE_DIR)
    # Static, not installed, and not built unless a test needs it; GTest::gtest and friends
    # then name these targets.
    function(brenvo_add_googletest)
        set(BUILD_SHARED_LIBS OFF)
        set(INSTALL_GTEST OFF)
        set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
        add_subdirectory(${BRENVO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
            EXCLUDE_FROM_ALL SYSTEM)
    endfunction()
    brenvo_add_googletest()
endif()
