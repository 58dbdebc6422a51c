# Helpers shared by the suites: temporary folders, real defaults files, a loopback server.
file(GLOB support_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)

# The loopback server needs libstdc++ (cmake/BrenvoPortability.cmake).
if(NOT BRENVO_HAVE_LIBSTDCXX)
    list(FILTER support_sources EXCLUDE REGEX "/LoopbackServer\\.cpp$")
endif()

# Removes from the list `sources_var` the tests that need the loopback server, where it is left
# out.
function(brenvo_tests_without_loopback sources_var)
    if(BRENVO_HAVE_LIBSTDCXX)
        return()
    endif()
    set(kept "")
    foreach(source ${${sources_var}})
        file(STRINGS ${source} needs REGEX "#include \"(support/LoopbackServer|(agent/)?AgentHarness)\\.h\"")
        if(NOT needs)
            list(APPEND kept ${source})
        endif()
    endforeach()
    set(${sources_var} ${kept} PARENT_SCOPE)
endfunction()

add_library(brenvo_test_support STATIC ${support_sources})
target_include_directories(brenvo_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(brenvo_test_support PUBLIC brenvo_core GTest::gtest GTest::gmock Threads::Threads)
target_compile_definitions(brenvo_test_support PUBLIC
    BRENVO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    BRENVO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
# The loopback server is cpp-httplib's; its HTTPS mode and the run-time certificates use OpenSSL.
find_package(OpenSSL 3 REQUIRED)
target_link_libraries(brenvo_test_support PRIVATE OpenSSL::SSL OpenSSL::Crypto)
if(BRENVO_HAVE_LIBSTDCXX)
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    target_link_libraries(brenvo_test_support PRIVATE PkgConfig::HTTPLIB)
endif()

# The release window of `brenvo demo` with `toolkit`'s window in desktop sessions of its own
# (tests/window/desktop_session.py): read through the accessibility bus, and shown under a
# headless Wayland compositor. They skip, saying why, where a program they need is missing.
# Debian's Python carries the GObject bindings, which a Python of one's own may lack.
find_program(BRENVO_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(BRENVO_SYSTEM_PYTHON python3)
function(brenvo_add_desktop_session_tests toolkit)
    if(NOT TARGET brenvo OR NOT BRENVO_SYSTEM_PYTHON)
        return()
    endif()
    foreach(mode accessibility wayland)
        add_test(NAME ${toolkit}.DesktopSession.${mode}
            COMMAND ${BRENVO_SYSTEM_PYTHON} ${PROJECT_SOURCE_DIR}/tests/window/desktop_session.py
                    $<TARGET_FILE:brenvo> ${mode} ${toolkit})
        set_tests_properties(${toolkit}.DesktopSession.${mode} PROPERTIES
            LABELS ${toolkit} SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)
    endforeach()
endfunction()
