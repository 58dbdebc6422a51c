# The suite runs the tools as separate programs.
foreach(tool brenvo xkjson)
    if(TARGET ${tool})
        add_dependencies(tool_tests ${tool})
    endif()
endforeach()
target_compile_definitions(tool_tests PRIVATE BRENVO_EXPECTED_VERSION="${PROJECT_VERSION}")
