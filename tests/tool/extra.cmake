# The suite runs the tools as separate programs.
foreach(tool brenvo xkjson)
    if(TARGET ${tool})
        add_dependencies(tool_tests ${tool})
    endif()
endforeach()
