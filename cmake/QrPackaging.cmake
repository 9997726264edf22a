# Packages of the install components: a tarball laid out like a plain install, and a Debian
# package and an RPM package (cpack -G RPM) for each shipped component, in the packages' own
# layouts (QrInstallLayouts.cmake). The stand-in store is never packaged: the platform ships the
# real libQrLib.so.
set(QR_PACKAGE_MAINTAINER "QrScsiTimeouts maintainers <qrscsitimeouts@maintainers.invalid>"
    CACHE STRING "Maintainer of the packages (Debian's Maintainer, RPM's Packager and Vendor): \"Name <mail>\"")

set(CPACK_PACKAGE_NAME qrscsitimeouts)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${QR_PACKAGE_MAINTAINER}")
set(CPACK_GENERATOR TGZ DEB)
set(qr_components runtime development)
if(QR_BUILD_TOOL)
    list(APPEND qr_components tool)
endif()
set(CPACK_COMPONENTS_ALL ${qr_components})  # the tarball's; the packages' are set per generator
# Shipped binaries are stripped; the build-id still names the build, and a rebuild of the same
# commit gives back the debug information (the builds are reproducible).
set(CPACK_STRIP_FILES ON)

# Debian's names for the target's architecture: dpkg's own answer is the build machine's.
set(qr_deb_arch_x86_64 amd64)
set(qr_deb_arch_aarch64 arm64)
set(qr_deb_arch_ppc64le ppc64el)
set(qr_deb_arch_ppc64 ppc64)
if(DEFINED qr_deb_arch_${CMAKE_SYSTEM_PROCESSOR})
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${qr_deb_arch_${CMAKE_SYSTEM_PROCESSOR}})
endif()
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR}")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps gives libc6 and libstdc++6 with the versions the binaries need. libQrLib.so is
# the platform's: the stand-in lets dpkg-shlibdeps read it, and as no package owns it, no
# dependency comes of it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${QR_BUILD_BASE64DIR}")
# What QrCPackProject.cmake needs when cpack runs: the packages' prefix and the library.
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/QrCPackProject.cmake")
set(CPACK_QR_PACKAGE_PREFIX "${QR_PACKAGE_PREFIX}")
set(CPACK_QR_COMPONENTS ${qr_components})
set(CPACK_QR_LIBRARY "${QR_BUILD_LIBDIR}/libQrScsiTimeouts.so")

# Descriptions: the first line is the summary; lintian counts the leading space of each line of
# the rest, so they stay within 79 characters.
set(qr_platform_note
    "It needs the platform library libQrLib.so, which the platform itself ships:\nbeside the library or in the Base64 directory beside the library's directory.\nNo package provides it, so none is depended on for it.")
set(qr_package_runtime libqrscsitimeouts1)
set(qr_section_runtime libs)
set(qr_description_runtime
    "SCSI command timeouts from the platform registry\ngetScsiTimeout() gives the timeout of a SCSI command, in seconds, from a\ntable loaded once per process from the platform registry key ScsiTimeouts.\n${qr_platform_note}")
set(qr_package_development libqrscsitimeouts-dev)
set(qr_section_development libdevel)
set(qr_description_development
    "SCSI command timeouts from the platform registry: development files\nThe header QrScsiTimeouts.h, the CMake package QrScsiTimeouts and the\npkg-config file for building programs against libqrscsitimeouts1.")
set(qr_package_tool scsi-timeouts)
set(qr_section_tool admin)
set(qr_description_tool
    "show, check and change the SCSI timeouts kept in the platform registry\nscsi-timeouts shows which timeout each SCSI command gets and checks the\nstored values; set and reset write one value and read it back as the library\nwill. It carries the library's own code, so it depends on the library package\nof exactly its own version, and describes that library.\n${qr_platform_note}")

# The Debian-only files of each package, under /usr/share whatever the prefix: copyright,
# changelog.gz, lintian overrides (the library's for its SONAME where ldconfig looks, and under
# /opt each package's for /opt). The changelog is dated by SOURCE_DATE_EPOCH, else by the last
# commit, so that two builds of one commit give the same bytes.
set(qr_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(qr_epoch STREQUAL "")
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE qr_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT qr_epoch MATCHES "^[0-9]+$")
    message(WARNING "Neither SOURCE_DATE_EPOCH nor a git history: the packages' changelog is "
                    "dated 1970-01-01. Set SOURCE_DATE_EPOCH for a release.")
    set(qr_epoch 0)
endif()
set(QR_CHANGELOG_EPOCH "${qr_epoch}" CACHE INTERNAL "The packages' changelog date (release.reproducible)")
set(CPACK_QR_CHANGELOG_EPOCH "${qr_epoch}")
set(qr_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} "${qr_epoch}")  # string(TIMESTAMP) reads it
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${qr_saved_epoch}")

set(qr_packaging "${PROJECT_SOURCE_DIR}/packaging")
set(qr_in_opt OFF)
if(QR_PACKAGE_PREFIX MATCHES "^/opt(/|$)")
    set(qr_in_opt ON)
endif()
set(qr_changelogs "")
foreach(component IN LISTS qr_components)
    string(TOUPPER "deb_${component}" upper)
    set(package ${qr_package_${component}})
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${qr_section_${component}})
    set(CPACK_COMPONENT_${upper}_DESCRIPTION "${qr_description_${component}}")

    set(generated "${PROJECT_BINARY_DIR}/packaging/${package}")
    configure_file("${qr_packaging}/changelog.in" "${generated}/changelog" @ONLY)
    add_custom_command(OUTPUT "${generated}/changelog.gz"
        COMMAND "${CMAKE_COMMAND}" -DIN=${generated}/changelog -DOUT=${generated}/changelog.gz
                -P "${CMAKE_CURRENT_LIST_DIR}/QrGzip.cmake"
        DEPENDS "${generated}/changelog" "${CMAKE_CURRENT_LIST_DIR}/QrGzip.cmake"
        VERBATIM)
    list(APPEND qr_changelogs "${generated}/changelog.gz")
    install(FILES "${qr_packaging}/copyright" "${generated}/changelog.gz"
            DESTINATION /usr/share/doc/${package} COMPONENT deb_${component} EXCLUDE_FROM_ALL)

    set(overrides "")
    if(EXISTS "${qr_packaging}/${package}.lintian-overrides" AND QR_PACKAGE_PREFIX MATCHES "^/usr/?$")
        file(READ "${qr_packaging}/${package}.lintian-overrides" overrides)
    endif()
    if(qr_in_opt)
        file(READ "${qr_packaging}/opt.lintian-overrides" opt)
        string(CONFIGURE "${opt}" opt @ONLY)
        string(APPEND overrides "${opt}")
    endif()
    if(overrides)
        file(CONFIGURE OUTPUT "${generated}/lintian-overrides" CONTENT "${overrides}" @ONLY)
        install(FILES "${generated}/lintian-overrides" DESTINATION /usr/share/lintian/overrides
                RENAME ${package} COMPONENT deb_${component} EXCLUDE_FROM_ALL)
    endif()
endforeach()
include(QrRpmPackages)
add_custom_target(QrScsiTimeouts_Changelogs ALL DEPENDS ${qr_changelogs})

set(CPACK_COMPONENT_DEB_DEVELOPMENT_DEPENDS deb_runtime)
set(CPACK_COMPONENT_DEB_TOOL_DEPENDS deb_runtime)  # the exact version: the same module's code
# ldconfig runs as a trigger, for a library in one of its directories; the maintainer scripts
# CPack would write for that are left out (QrCPackProject.cmake).
if(QR_PACKAGE_LIBDIR MATCHES "^lib(/|$)" AND QR_PACKAGE_PREFIX MATCHES "^/usr/?$")
    set(CPACK_DEBIAN_DEB_RUNTIME_PACKAGE_CONTROL_EXTRA "${qr_packaging}/triggers")
endif()

include(CPack)
