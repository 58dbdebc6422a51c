# Brenvo as its users get it: installed into a prefix (hosts through find_package and
# pkg-config, the installed tools), built as static libraries, and as a Debian package. The
# static build and the package are checked in builds without sanitizers only.
set(brenvo_consumer ${CMAKE_CURRENT_SOURCE_DIR}/consumer)
add_test(NAME install.consumer
    COMMAND ${brenvo_consumer}/run.sh shared ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
            ${CMAKE_CXX_COMPILER} "${CMAKE_CXX_FLAGS}")
set_tests_properties(install.consumer PROPERTIES
    LABELS "install;slow" TIMEOUT 900 RESOURCE_LOCK brenvo_install_manifest)
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    add_test(NAME install.static
        COMMAND ${brenvo_consumer}/run.sh static ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
                ${CMAKE_CXX_COMPILER})
    set_tests_properties(install.static PROPERTIES LABELS "install;slow" TIMEOUT 900)
    # From a build that is not optimised, the test first builds the package's own tree.
    add_test(NAME install.package
        COMMAND ${brenvo_consumer}/package.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(install.package PROPERTIES
        LABELS "install;slow" TIMEOUT 1800 RESOURCE_LOCK brenvo_install_manifest)
endif()
