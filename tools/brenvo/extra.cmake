# The loopback store is cpp-httplib's (a compiled library on Debian), which needs threads.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(${tool} PRIVATE PkgConfig::HTTPLIB Threads::Threads)
# The GTK release window, when it is built: the tool then drives its run loop from GLib.
if(TARGET brenvo_gtk3)
    target_link_libraries(${tool} PRIVATE brenvo_gtk3 brenvo_glib PkgConfig::GTK3)
    target_compile_definitions(${tool} PRIVATE BRENVO_TOOL_WITH_GTK)
endif()
# The desktop notification and the Qt window, when they are built (--window notification|qt).
if(TARGET brenvo_glib)
    target_link_libraries(${tool} PRIVATE brenvo_glib)
    target_compile_definitions(${tool} PRIVATE BRENVO_TOOL_WITH_GLIB)
endif()
if(TARGET brenvo_qt6)
    target_link_libraries(${tool} PRIVATE brenvo_qt6)
    target_compile_definitions(${tool} PRIVATE BRENVO_TOOL_WITH_QT QT_NO_KEYWORDS)
endif()
