# The notification suite starts its own dbus-daemon with a fake notification service on it; with
# the GTK window built it also starts Xvfb, to see the toolkit window come first.
target_link_libraries(notification_tests PRIVATE brenvo_glib PkgConfig::GLIB)
if(TARGET brenvo_gtk3)
    target_link_libraries(notification_tests PRIVATE brenvo_gtk3 PkgConfig::GTK3)
    target_compile_definitions(notification_tests PRIVATE BRENVO_TEST_WITH_GTK)
endif()
