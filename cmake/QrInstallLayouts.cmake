# Where the installed files go. There are two layouts of the same files:
#   plain  cmake --install and the tarball: <prefix>/lib beside <prefix>/Base64, as the product
#          has it (components runtime, development, tool);
#   deb    the Debian packages, under QR_PACKAGE_PREFIX; under /usr the library and its .pc file
#          go to the multiarch directory /usr/lib/<triplet>, as Debian's own libraries do
#          (components deb_runtime, deb_development, deb_tool, which only cpack installs);
#   rpm    the RPM packages, under the same QR_PACKAGE_PREFIX, with the library and its .pc file
#          in lib64 as RHEL and SLES have them on 64-bit machines, and the library executable
#          (0755) as they want it, where CMake gives Debian's 0644 (components rpm_runtime,
#          rpm_development, rpm_tool, which only cpack installs).
# qr_install_layout(LAYOUT) sets, for the install() calls of one layout: qr_libdir, qr_component
# (the prefix of its component names), qr_exclude (EXCLUDE_FROM_ALL for the packages' own) and
# qr_library_permissions (the PERMISSIONS of the shared library, or nothing: CMake's default).
include(GNUInstallDirs)

set(QR_PACKAGE_PREFIX /usr CACHE PATH
    "Install prefix of the Debian packages: /usr, or the product tree (e.g. /opt/qr)")
if(QR_PACKAGE_PREFIX MATCHES "^/usr/?$" AND CMAKE_LIBRARY_ARCHITECTURE)
    set(QR_PACKAGE_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
else()
    set(QR_PACKAGE_LIBDIR lib)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QR_RPM_LIBDIR lib64)
else()
    set(QR_RPM_LIBDIR lib)
endif()

# Packages only for a build of this project itself, never for a parent's.
set(QR_INSTALL_LAYOUTS plain)
if(PROJECT_IS_TOP_LEVEL AND QR_INSTALL)
    list(APPEND QR_INSTALL_LAYOUTS deb rpm)
endif()

macro(qr_install_layout layout)
    set(qr_library_permissions "")
    if("${layout}" STREQUAL "deb")
        set(qr_libdir "${QR_PACKAGE_LIBDIR}")
        set(qr_component deb_)
        set(qr_exclude EXCLUDE_FROM_ALL)
    elseif("${layout}" STREQUAL "rpm")
        set(qr_libdir "${QR_RPM_LIBDIR}")
        set(qr_component rpm_)
        set(qr_exclude EXCLUDE_FROM_ALL)
        set(qr_library_permissions PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                   GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    else()
        set(qr_libdir "${CMAKE_INSTALL_LIBDIR}")
        set(qr_component "")
        set(qr_exclude "")
    endif()
endmacro()
