# The Debian package: `cmake --build <dir> --target package` (or `make package` at the top) makes
# brenvo_<version>-<release>_<arch>.deb in the build folder, with the runtime dependencies that
# dpkg-shlibdeps finds and the library's shlibs and ldconfig trigger.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brenvo)
set(CPACK_PACKAGE_VENDOR "The Brenvo authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update check and release window for desktop applications")
set(CPACK_PACKAGE_DESCRIPTION
    "Brenvo is a C++20 library that a desktop application links to learn, once
per interval, whether its store offers a newer version, and to tell its user
so in a release-info window. It carries its own strict JSON parser and writer.
.
This package holds the shared libraries, their headers with a CMake package
and pkg-config files, and the tools brenvo (an application's update check at
work) and xkjson (checks and rewrites JSON with the strict parser).")
set(BRENVO_PACKAGE_MAINTAINER "Brenvo maintainers <maintainers@brenvo.invalid>"
    CACHE STRING "The Maintainer of the Debian package: a name and a mail address")
set(CPACK_PACKAGE_CONTACT "${BRENVO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Public shared libraries: the dynamic linker's cache is renewed when the package comes or goes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Everything in one package, with the Debian copyright and changelog, which a plain install
# leaves out.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Runtime Development Tools DebianDocumentation)

string(TIMESTAMP brenvo_package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(brenvo_debian_dir ${CMAKE_BINARY_DIR}/debian)
configure_file(cmake/debian/changelog.in ${brenvo_debian_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${brenvo_debian_dir}/changelog.Debian.gz
    COMMAND gzip -9nc ${brenvo_debian_dir}/changelog > ${brenvo_debian_dir}/changelog.Debian.gz
    DEPENDS ${brenvo_debian_dir}/changelog
    VERBATIM)
add_custom_target(brenvo_debian_changelog ALL DEPENDS ${brenvo_debian_dir}/changelog.Debian.gz)
install(FILES cmake/debian/copyright ${brenvo_debian_dir}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME}
    COMPONENT DebianDocumentation EXCLUDE_FROM_ALL)

include(CPack)
