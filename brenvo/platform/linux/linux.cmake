# Linux: the log's origin and destinations for the platform library, and the system library
# (files, libplist, libcurl, the terminal, URL opening, the default services). A port to another
# system has a folder of its own beside this one, with its own <folder>.cmake that does the same.

target_sources(brenvo_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LogOutput.cpp)

# 7.87 is the first that can leave a resolver thread stuck in a name lookup behind
# (CURLOPT_QUICK_EXIT) instead of waiting for it on the host's loop.
find_package(CURL 7.87 REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)

# Everything else here; the run loop's wait (EventWait.cpp) goes to the platform library when
# BRENVO_EVENT_LOOP is linux.
file(GLOB brenvo_linux_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
list(FILTER brenvo_linux_sources EXCLUDE REGEX "/(EventWait|LogOutput)\\.cpp$")
brenvo_add_library(brenvo_system system ${brenvo_linux_sources})
target_link_libraries(brenvo_system PUBLIC brenvo_platform
    PRIVATE CURL::libcurl PkgConfig::PLIST Threads::Threads)
target_compile_definitions(brenvo_system PRIVATE
    BRENVO_VERSION_STRING="${PROJECT_VERSION}"
    BRENVO_BUILD_VERSION_STRING="${PROJECT_VERSION_MAJOR}${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")
# What hosts of a static build must link besides (cmake/BrenvoInstall.cmake reads these).
set_target_properties(brenvo_system PROPERTIES
    BRENVO_FIND_DEPENDENCIES_PRIVATE "CURL;pkg-config PLIST libplist-2.0;Threads"
    BRENVO_PKGCONFIG_REQUIRES_PRIVATE "libcurl libplist-2.0"
    BRENVO_PKGCONFIG_LIBS_PRIVATE "-pthread")
# What hosts construct or call themselves: services read from a place of their choosing, the
# terminal window.
brenvo_add_headers(brenvo_system platform/linux/FileOps.h platform/linux/InfoPlistBundle.h
    platform/linux/PlistUserDefaults.h platform/linux/TerminalWindow.h)
