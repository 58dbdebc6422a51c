# Brenvo::glib (optional, built when GLib and GIO are found): the GLib main-context adapters, GIO
# URL opening and the desktop notification over GDBus.
pkg_check_modules(GLIB IMPORTED_TARGET glib-2.0 gio-2.0)
if(GLIB_FOUND)
    brenvo_add_library(brenvo_glib glib ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
    target_link_libraries(brenvo_glib PUBLIC brenvo_system PRIVATE PkgConfig::GLIB)
    set_target_properties(brenvo_glib PROPERTIES
        BRENVO_FIND_DEPENDENCIES_PRIVATE "pkg-config GLIB glib-2.0 gio-2.0"
        BRENVO_PKGCONFIG_REQUIRES_PRIVATE "glib-2.0 gio-2.0")
    brenvo_add_headers(brenvo_glib platform/glib/GioNetworkMonitor.h platform/glib/GLibRunLoop.h
        platform/glib/NotificationWindow.h)
    list(APPEND brenvo_installed_targets brenvo_glib)
endif()
