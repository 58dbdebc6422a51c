# The suite runs the tool as a separate program.
if(TARGET brenvo)
    add_dependencies(tool_tests brenvo)
endif()
