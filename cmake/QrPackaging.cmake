# Packages of the install components: a tarball laid out like a plain install, and a Debian
# package for each shipped component. The stand-in store is never packaged: the platform ships
# the real libQrLib.so.
set(QR_PACKAGE_MAINTAINER "QrScsiTimeouts maintainers <qrscsitimeouts@localhost>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME qrscsitimeouts)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# The first line of each component's description is its Debian summary.
set(CPACK_PACKAGE_CONTACT "${QR_PACKAGE_MAINTAINER}")
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_COMPONENTS_ALL runtime development tool)
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
# dpkg-shlibdeps gives libc6 and libstdc++6 with the versions the binaries need. libQrLib.so is
# the platform's: the stand-in lets dpkg-shlibdeps read it, and as no package owns it, no
# dependency comes of it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${QR_BUILD_BASE64DIR}")

set(qr_platform_note
    "It needs the platform library libQrLib.so, which the platform itself ships, in the Base64 directory beside lib (or in lib); no package provides it, so none is depended on for it.")

set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "Library")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libqrscsitimeouts1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "SCSI command timeouts from the platform registry\ngetScsiTimeout() gives the timeout of a SCSI command, in seconds, from a table loaded once per process from the platform registry key ScsiTimeouts.\n${qr_platform_note}")

set(CPACK_COMPONENT_DEVELOPMENT_DISPLAY_NAME "Development files")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqrscsitimeouts-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "SCSI command timeouts from the platform registry: development files\nThe header QrScsiTimeouts.h, the CMake package QrScsiTimeouts and the pkg-config file for building programs against libqrscsitimeouts1.")

set(CPACK_COMPONENT_TOOL_DISPLAY_NAME "scsi-timeouts")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME scsi-timeouts)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "show and check the SCSI timeouts kept in the platform registry\nscsi-timeouts shows which timeout each SCSI command gets and checks the stored values, without changing them. It carries the library's own code, so it describes the library of the same version.\n${qr_platform_note}")

include(CPack)
