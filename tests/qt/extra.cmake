# The Qt window suite runs against its own Xvfb server and drives it with xdotool; screenshots
# land in <build>/artifacts/. The loop tests run a second time on Qt's own event dispatcher.
target_link_libraries(qt_tests PRIVATE brenvo_qt6)
target_compile_definitions(qt_tests PRIVATE QT_NO_KEYWORDS
    BRENVO_ARTIFACT_DIR="${CMAKE_BINARY_DIR}/artifacts")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/artifacts)
gtest_discover_tests(qt_tests
    TEST_PREFIX "qt.noglib."
    TEST_FILTER "QtRunLoop.*"
    PROPERTIES LABELS qt ENVIRONMENT QT_NO_GLIB=1
    DISCOVERY_TIMEOUT 120)
brenvo_add_desktop_session_tests(qt)
