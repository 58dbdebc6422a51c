# The GTK window suite runs against its own Xvfb server (started by the test on a free display)
# and drives it with xdotool. Screenshots land in <build>/artifacts/, outside the source tree.
target_link_libraries(gtk_tests PRIVATE brenvo_gtk3 brenvo_glib PkgConfig::GTK3)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/artifacts)
target_compile_definitions(gtk_tests PRIVATE
    BRENVO_ARTIFACT_DIR="${CMAKE_BINARY_DIR}/artifacts")
brenvo_add_desktop_session_tests(gtk)
