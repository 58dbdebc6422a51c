# The parser when memory runs out: a program of its own, since it replaces operator new. Not on
# Windows, where the JSON library is a DLL: a replacement in the program never reaches the DLL's
# allocations.
if(WIN32)
    return()
endif()
add_executable(json_memory_tests ${CMAKE_CURRENT_SOURCE_DIR}/JSON/memory/ParserMemoryTests.cpp)
target_link_libraries(json_memory_tests PRIVATE brenvo_json brenvo_warnings GTest::gtest_main)
gtest_discover_tests(json_memory_tests
    TEST_PREFIX "json."
    PROPERTIES LABELS json
    DISCOVERY_TIMEOUT 120)
