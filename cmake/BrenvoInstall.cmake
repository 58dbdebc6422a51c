# Installation: the libraries, their headers, a CMake package and one pkg-config file per public
# part, so that a host finds Brenvo with find_package(Brenvo) or pkg-config, shared or static,
# from any prefix.
#
# The core (Brenvo::brenvo with Brenvo::json, Brenvo::system, Brenvo::platform and Brenvo::utf,
# pkg-config module "brenvo") is always installed. Every further library in `brenvo_installed_targets` is an
# optional component named by its EXPORT_NAME: find_package(Brenvo COMPONENTS gtk3), its own
# export file BrenvoComponent-<name>.cmake, its own brenvo-<name>.pc and its own headers.
# Every library installs the headers it lists with brenvo_add_headers() (CMakeLists.txt), and no
# others.
# A library says what it takes from the system with these target properties (all optional):
#
#   BRENVO_FIND_DEPENDENCIES          what every host needs (a public header includes it)
#   BRENVO_FIND_DEPENDENCIES_PRIVATE  what the hosts of a static build need besides
#       Each item is "<Package> [find_package arguments]" ("Qt6 COMPONENTS Widgets") or
#       "pkg-config <PREFIX> <module>..." for the target PkgConfig::<PREFIX> that
#       pkg_check_modules(<PREFIX> IMPORTED_TARGET <module>...) makes.
#   BRENVO_PKGCONFIG_REQUIRES         pkg-config modules of the public headers
#   BRENVO_PKGCONFIG_REQUIRES_PRIVATE pkg-config modules it links
#   BRENVO_PKGCONFIG_LIBS_PRIVATE     further flags for static linking ("-pthread")
#
# The components Brenvo knows, whether built here or not: name and what it is.
set(brenvo_known_components
    "glib|the GLib main-loop adapter and GIO URL opener (needs GLib's development files)"
    "gtk3|the GTK 3 release window (needs GTK 3's development files)"
    "qt6|the Qt 6 release window (needs Qt 6's development files)")

set(brenvo_core_targets brenvo_utf brenvo_json brenvo_platform brenvo_system brenvo_core)
set(brenvo_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Brenvo)
set(brenvo_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake code for the package config file that looks for the dependency `item` (see above) and
# appends what it cannot find to the list _Brenvo_missing. The core's dependencies are required
# (find_dependency); a component's are looked for quietly, so that a missing one makes that
# component, not the whole package, unavailable.
function(brenvo_dependency_code item required out)
    separate_arguments(words UNIX_COMMAND "${item}")
    list(POP_FRONT words first)
    if(required)
        set(find "find_dependency")
    else()
        set(find "find_package")
        set(quiet " QUIET")
    endif()
    if(first STREQUAL "pkg-config")
        list(POP_FRONT words prefix)
        string(JOIN " " modules ${words})
        set(code "if(NOT TARGET PkgConfig::${prefix})
    ${find}(PkgConfig${quiet})
    if(PKG_CONFIG_FOUND)
        pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${modules})
    endif()
endif()
if(NOT TARGET PkgConfig::${prefix})
    list(APPEND _Brenvo_missing \"${modules} (pkg-config)\")
endif()
")
    else()
        list(JOIN words " " arguments)
        set(code "${find}(${first} ${arguments}${quiet})
if(NOT ${first}_FOUND)
    list(APPEND _Brenvo_missing \"${first}\")
endif()
")
    endif()
    set(${out} "${code}" PARENT_SCOPE)
endfunction()

# The find code for everything `targets` need: public dependencies always, private ones when
# the target is a static library.
function(brenvo_dependencies_code out required)
    set(code "")
    foreach(target ${ARGN})
        get_target_property(type ${target} TYPE)
        get_target_property(items ${target} BRENVO_FIND_DEPENDENCIES)
        get_target_property(private_items ${target} BRENVO_FIND_DEPENDENCIES_PRIVATE)
        if(NOT items)
            set(items "")
        endif()
        if(type STREQUAL "STATIC_LIBRARY" AND private_items)
            list(APPEND items ${private_items})
        endif()
        foreach(item ${items})
            brenvo_dependency_code("${item}" ${required} item_code)
            string(APPEND code "${item_code}")
        endforeach()
    endforeach()
    set(${out} "${code}" PARENT_SCOPE)
endfunction()

# The pkg-config module of one of our targets.
function(brenvo_pkgconfig_module target out)
    if(target IN_LIST brenvo_core_targets)
        set(${out} brenvo PARENT_SCOPE)
    else()
        get_target_property(name ${target} EXPORT_NAME)
        set(${out} brenvo-${name} PARENT_SCOPE)
    endif()
endfunction()

# Writes <module>.pc for `targets` (installed libraries that hosts link together, in link
# order) and installs it. A library's own links to other Brenvo modules become Requires.
function(brenvo_install_pkgconfig module description)
    set(libs "")
    set(requires "")
    set(requires_private "")
    set(libs_private "")
    foreach(target ${ARGN})
        get_target_property(type ${target} TYPE)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(output ${target} OUTPUT_NAME)
            if(NOT output)
                set(output ${target})
            endif()
            string(APPEND libs " -l${output}")
        endif()
        get_target_property(links ${target} LINK_LIBRARIES)
        foreach(link ${links})
            if(link IN_LIST brenvo_installed_targets AND NOT link IN_LIST ARGN)
                brenvo_pkgconfig_module(${link} linked)
                list(APPEND requires ${linked})
            endif()
        endforeach()
        foreach(property REQUIRES REQUIRES_PRIVATE LIBS_PRIVATE)
            get_target_property(value ${target} BRENVO_PKGCONFIG_${property})
            if(value)
                string(TOLOWER ${property} variable)
                list(APPEND ${variable} ${value})
            endif()
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES requires)
    set(pc_links "Libs: -L\${libdir}${libs}\n")
    foreach(field Requires Requires.private Libs.private)
        string(TOLOWER ${field} variable)
        string(REPLACE "." "_" variable ${variable})
        list(JOIN ${variable} " " value)
        if(value)
            string(APPEND pc_links "${field}: ${value}\n")
        endif()
    endforeach()
    set(pc_module ${module})
    set(pc_description ${description})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/brenvo.pc.in ${CMAKE_BINARY_DIR}/${module}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/${module}.pc DESTINATION ${brenvo_pkgconfig_dir}
        COMPONENT Development)
endfunction()

# The pkg-config files find their prefix from their own place, so an installed tree can move;
# under /usr, the system's own prefix, they name it as distributions do.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(brenvo_pc_prefix "/usr")
else()
    file(RELATIVE_PATH brenvo_pc_prefix_from_pcdir
        "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
    string(REGEX REPLACE "/$" "" brenvo_pc_prefix_from_pcdir "${brenvo_pc_prefix_from_pcdir}")
    set(brenvo_pc_prefix "\${pcfiledir}/${brenvo_pc_prefix_from_pcdir}")
endif()

# The core.
install(TARGETS ${brenvo_core_targets} EXPORT BrenvoTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
install(EXPORT BrenvoTargets NAMESPACE Brenvo:: FILE BrenvoTargets.cmake
    DESTINATION ${brenvo_cmake_dir} COMPONENT Development)
brenvo_dependencies_code(BRENVO_CORE_DEPENDENCIES TRUE ${brenvo_core_targets})
brenvo_install_pkgconfig(brenvo "${PROJECT_DESCRIPTION}" brenvo_core brenvo_system brenvo_platform
    brenvo_json brenvo_utf)

# The components' names and descriptions, for the package configuration file.
set(BRENVO_KNOWN_COMPONENTS "")
foreach(entry ${brenvo_known_components})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 description)
    set(brenvo_component_known_${name} TRUE)
    string(REGEX REPLACE " \\(.*\\)$" "" brenvo_component_summary_${name} "${description}")
    list(APPEND BRENVO_KNOWN_COMPONENTS ${name})
    string(APPEND BRENVO_COMPONENT_DESCRIPTIONS "set(_Brenvo_${name}_description \"${description}\")\n")
endforeach()

# An installed header that includes one of Brenvo's headers that is not installed would break
# every host that includes it: list the missing one with brenvo_add_headers().
set(brenvo_installed_headers "")
foreach(target ${brenvo_installed_targets})
    get_target_property(headers ${target} HEADER_SET)
    list(APPEND brenvo_installed_headers ${headers})
endforeach()
foreach(header ${brenvo_installed_headers})
    file(STRINGS ${header} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]brenvo/")
    foreach(line ${includes})
        string(REGEX REPLACE ".*[\"<](brenvo/[^\">]*)[\">].*" "${PROJECT_SOURCE_DIR}/\\1" included
            "${line}")
        if(NOT included IN_LIST brenvo_installed_headers)
            file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${header})
            file(RELATIVE_PATH missing ${PROJECT_SOURCE_DIR} ${included})
            message(FATAL_ERROR "${name} is installed but includes ${missing}, which is not")
        endif()
    endforeach()
endforeach()

# The optional components, in build order (a component's own links come before it).
set(brenvo_built_components "")
set(BRENVO_COMPONENTS_CODE "")
foreach(target ${brenvo_installed_targets})
    if(target IN_LIST brenvo_core_targets)
        continue()
    endif()
    get_target_property(name ${target} EXPORT_NAME)
    if(NOT brenvo_component_known_${name})
        message(FATAL_ERROR "${target}: add its component \"${name}\" to brenvo_known_components")
    endif()
    list(APPEND brenvo_built_components ${name})
    install(TARGETS ${target} EXPORT BrenvoTargets-${name}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
            NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
    install(EXPORT BrenvoTargets-${name} NAMESPACE Brenvo:: FILE BrenvoComponent-${name}.cmake
        DESTINATION ${brenvo_cmake_dir} COMPONENT Development)
    brenvo_install_pkgconfig(brenvo-${name}
        "${PROJECT_NAME}: ${brenvo_component_summary_${name}}" ${target})

    # The other components it links are loaded with it.
    set(needs "")
    get_target_property(links ${target} LINK_LIBRARIES)
    foreach(link ${links})
        if(link IN_LIST brenvo_installed_targets AND NOT link IN_LIST brenvo_core_targets)
            get_target_property(linked ${link} EXPORT_NAME)
            list(APPEND needs ${linked})
        endif()
    endforeach()
    brenvo_dependencies_code(dependencies FALSE ${target})
    string(APPEND BRENVO_COMPONENTS_CODE "
# ${name}
set(_Brenvo_${name}_needs \"${needs}\")
macro(_brenvo_load_${name})
    set(_Brenvo_missing \"\")
${dependencies}    if(_Brenvo_missing)
        list(JOIN _Brenvo_missing \", \" _Brenvo_missing)
        set(_Brenvo_${name}_problem \"its dependencies were not found: \${_Brenvo_missing}\")
    else()
        include(\"\${CMAKE_CURRENT_LIST_DIR}/BrenvoComponent-${name}.cmake\")
    endif()
endmacro()
")
endforeach()

list(JOIN BRENVO_KNOWN_COMPONENTS ", " BRENVO_KNOWN_COMPONENTS_TEXT)
list(JOIN brenvo_built_components ", " BRENVO_BUILT_COMPONENTS_TEXT)
set(BRENVO_BUILT_COMPONENTS "${brenvo_built_components}")
configure_package_config_file(cmake/BrenvoConfig.cmake.in
    ${CMAKE_BINARY_DIR}/BrenvoConfig.cmake
    INSTALL_DESTINATION ${brenvo_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/BrenvoConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/BrenvoConfig.cmake ${CMAKE_BINARY_DIR}/BrenvoConfigVersion.cmake
    DESTINATION ${brenvo_cmake_dir} COMPONENT Development)

# `cmake --build <dir> --target uninstall` removes what the last install put in place (when
# Brenvo is the top-level project: a host that builds it inside its own keeps its own targets).
if(PROJECT_IS_TOP_LEVEL)
    add_custom_target(uninstall
        COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
                -P ${PROJECT_SOURCE_DIR}/cmake/BrenvoUninstall.cmake
        COMMENT "Removing the files listed in install_manifest.txt"
        VERBATIM)
endif()
