# Builds a small host project against the installed tree, with find_package and pkg-config.
add_test(NAME install.consumer
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
            ${CMAKE_CXX_COMPILER} "${CMAKE_CXX_FLAGS}")
set_tests_properties(install.consumer PROPERTIES LABELS install TIMEOUT 600)
