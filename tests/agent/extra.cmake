# Small host programs that the suite runs as separate processes.
add_executable(first_touch_host ${CMAKE_CURRENT_SOURCE_DIR}/agent/hosts/FirstTouchHost.cpp)
target_link_libraries(first_touch_host PRIVATE brenvo_core brenvo_warnings Threads::Threads)
add_dependencies(agent_tests first_touch_host)
add_executable(threaded_host ${CMAKE_CURRENT_SOURCE_DIR}/agent/hosts/ThreadedHost.cpp)
target_link_libraries(threaded_host PRIVATE brenvo_core brenvo_warnings Threads::Threads)
add_dependencies(agent_tests threaded_host)
