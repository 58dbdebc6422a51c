# Brenvo::gtk3 (optional, BRENVO_WITH_GTK=AUTO|ON|OFF): the GTK 3 release window and the one call
# for GTK hosts. Needs Brenvo::glib.
set(BRENVO_WITH_GTK "AUTO" CACHE STRING "Build the GTK 3 release window: ON, OFF or AUTO")
set(GTK3_FOUND FALSE)
if(NOT BRENVO_WITH_GTK STREQUAL "OFF")
    pkg_check_modules(GTK3 IMPORTED_TARGET gtk+-3.0)
    if(BRENVO_WITH_GTK STREQUAL "ON" AND NOT (GTK3_FOUND AND TARGET brenvo_glib))
        message(FATAL_ERROR "BRENVO_WITH_GTK=ON but GTK 3 or GLib was not found")
    endif()
endif()
if(GTK3_FOUND AND TARGET brenvo_glib)
    brenvo_add_library(brenvo_gtk3 gtk3 ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
    target_link_libraries(brenvo_gtk3 PUBLIC brenvo_core brenvo_glib PRIVATE PkgConfig::GTK3)
    set_target_properties(brenvo_gtk3 PROPERTIES
        BRENVO_FIND_DEPENDENCIES_PRIVATE "pkg-config GTK3 gtk+-3.0"
        BRENVO_PKGCONFIG_REQUIRES_PRIVATE "gtk+-3.0")
    brenvo_add_headers(brenvo_gtk3 platform/gtk/GtkHost.h platform/gtk/GtkReleaseWindow.h)
    list(APPEND brenvo_installed_targets brenvo_gtk3)
    set(BRENVO_HAVE_GTK3 ON)
endif()
