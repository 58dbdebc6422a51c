# The framework's translations of the release window's texts, one "<lang>.lproj/Brenvo.strings"
# table per language. They install under <datadir>/brenvo/Resources and are copied to
# <build>/share/brenvo/Resources, so the platform library finds them from its own file in the
# installed tree (wherever its prefix moves) and in the build tree alike.
file(GLOB brenvo_translations CONFIGURE_DEPENDS
    RELATIVE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/*.lproj/Brenvo.strings)
foreach(table ${brenvo_translations})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/${table}
        ${CMAKE_BINARY_DIR}/share/brenvo/Resources/${table} COPYONLY)
endforeach()
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/brenvo/Resources
    FILES_MATCHING PATTERN "*.strings")
file(RELATIVE_PATH brenvo_resources_from_libdir
    "${CMAKE_INSTALL_FULL_LIBDIR}" "${CMAKE_INSTALL_FULL_DATADIR}/brenvo/Resources")
target_compile_definitions(brenvo_system PRIVATE
    BRENVO_RESOURCES_FROM_LIBDIR="${brenvo_resources_from_libdir}")
target_link_libraries(brenvo_system PRIVATE ${CMAKE_DL_LIBS})
