# Hardening of the optimised builds (Release, RelWithDebInfo, MinSizeRel: the release, package
# and install builds): the stack protector, fortified libc calls, stack clash and control-flow
# protection where the compiler and target offer them, full RELRO with immediate binding, and
# position-independent executables. Debug builds keep their flags (fortification needs
# optimisation), and builds with sanitizers skip fortification, whose checked libc calls the
# sanitizers replace. With BRENVO_DPKG_BUILDFLAGS (the Debian package's build) the flags that
# dpkg-buildflags gives come first, so DEB_BUILD_MAINT_OPTIONS and DEB_*FLAGS_* apply.
option(BRENVO_HARDENING "Harden the optimised builds" ON)
option(BRENVO_DPKG_BUILDFLAGS "Build with the flags of dpkg-buildflags" OFF)

if(BRENVO_DPKG_BUILDFLAGS)
    find_program(BRENVO_DPKG_BUILDFLAGS_PROGRAM dpkg-buildflags REQUIRED)
    foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
        # From the source folder, which the flags' file-prefix-map makes ".".
        execute_process(COMMAND ${BRENVO_DPKG_BUILDFLAGS_PROGRAM} --get ${kind}
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE brenvo_dpkg_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE
            COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    string(PREPEND CMAKE_C_FLAGS "${brenvo_dpkg_CPPFLAGS} ${brenvo_dpkg_CFLAGS} ")
    string(PREPEND CMAKE_CXX_FLAGS "${brenvo_dpkg_CPPFLAGS} ${brenvo_dpkg_CXXFLAGS} ")
    foreach(kind EXE SHARED MODULE)
        string(PREPEND CMAKE_${kind}_LINKER_FLAGS "${brenvo_dpkg_LDFLAGS} ")
    endforeach()
endif()

# With CMAKE_POSITION_INDEPENDENT_CODE, executables are linked as PIE once this has run.
include(CheckPIESupported)
check_pie_supported()

if(BRENVO_HARDENING)
    include(CheckCXXCompilerFlag)
    set(brenvo_hardening_flags -fstack-protector-strong)
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "BRENVO_HAVE${flag}" have)
        check_cxx_compiler_flag(${flag} ${have})
        if(${have})
            list(APPEND brenvo_hardening_flags ${flag})
        endif()
    endforeach()
    if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_C_FLAGS}" MATCHES "-fsanitize")
        # Undefined first: a compiler that defines a level of its own would see a redefinition.
        list(APPEND brenvo_hardening_flags -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
    endif()
    set(brenvo_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    foreach(flag ${brenvo_hardening_flags})
        add_compile_options("$<${brenvo_optimised}:${flag}>")
    endforeach()
    add_link_options("$<${brenvo_optimised}:LINKER:-z,relro>" "$<${brenvo_optimised}:LINKER:-z,now>")
endif()
