# Brenvo::qt6 (optional, BRENVO_WITH_QT=AUTO|ON|OFF): the Qt 6 Widgets release window, the Qt
# event-loop source and the one call for Qt hosts. Hosts get Brenvo::glib with it when that is
# built, for the desktop notification.
set(BRENVO_WITH_QT "AUTO" CACHE STRING "Build the Qt 6 release window: ON, OFF or AUTO")
set(Qt6Widgets_FOUND FALSE)
if(NOT BRENVO_WITH_QT STREQUAL "OFF")
    find_package(Qt6 QUIET COMPONENTS Widgets)
    if(BRENVO_WITH_QT STREQUAL "ON" AND NOT Qt6Widgets_FOUND)
        message(FATAL_ERROR "BRENVO_WITH_QT=ON but Qt 6 Widgets was not found")
    endif()
endif()
if(Qt6Widgets_FOUND)
    brenvo_add_library(brenvo_qt6 qt6 ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
    target_link_libraries(brenvo_qt6 PUBLIC brenvo_core Qt6::Widgets)
    # Its headers name Qt's types: hosts find and link Qt Widgets with it.
    set_target_properties(brenvo_qt6 PROPERTIES
        BRENVO_FIND_DEPENDENCIES "Qt6 COMPONENTS Widgets"
        BRENVO_PKGCONFIG_REQUIRES "Qt6Widgets")
    if(TARGET brenvo_glib)
        target_link_libraries(brenvo_qt6 PUBLIC brenvo_glib)
        target_compile_definitions(brenvo_qt6 PRIVATE BRENVO_QT_WITH_GLIB)
    endif()
    brenvo_add_headers(brenvo_qt6 platform/qt/QtHost.h platform/qt/QtReleaseWindow.h
        platform/qt/QtRunLoop.h)
    list(APPEND brenvo_installed_targets brenvo_qt6)
    set(BRENVO_HAVE_QT6 ON)
endif()
