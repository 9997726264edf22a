# Read by cpack for each generator. The tarball is the plain install; the Debian and the RPM
# packages install their own components (deb_*, rpm_*) under CPACK_QR_PACKAGE_PREFIX, with their
# documents under /usr/share whatever that prefix is, hence the DESTDIR install.
if(NOT CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
    return()
endif()
string(TOLOWER "${CPACK_GENERATOR}" family)
set(CPACK_COMPONENTS_ALL "")
foreach(component IN LISTS CPACK_QR_COMPONENTS)
    list(APPEND CPACK_COMPONENTS_ALL ${family}_${component})
endforeach()
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX "${CPACK_QR_PACKAGE_PREFIX}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CPACK_QR_PACKAGE_PREFIX}")
if(CPACK_GENERATOR STREQUAL "RPM")
    # rpmbuild dates the package and clamps its file times with SOURCE_DATE_EPOCH; without one,
    # the changelog's date, so that a package is never dated by the moment it was made.
    if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
        set(ENV{SOURCE_DATE_EPOCH} "${CPACK_QR_CHANGELOG_EPOCH}")
    endif()
    set(CPACK_PACKAGE_RELOCATABLE OFF)  # one prefix, chosen when configuring
    # rpmbuild's post-install steps, replaced: the binaries are shipped as CPack stripped them
    # (with the target's strip), the man page as gzip -9n made it, and the library's mode as
    # installed, where those steps would strip again with the build machine's tools and take the
    # library's execute bit away. Instead every file gets the time SOURCE_DATE_EPOCH: clamping
    # alone keeps the time of a file older than it, such as a source file.
    string(APPEND CPACK_RPM_SPEC_MORE_DEFINE "
%define __os_install_post find %{buildroot} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +")
    # ldconfig after installing and removing the library, in a directory ldconfig reads.
    if(CPACK_QR_PACKAGE_PREFIX MATCHES "^/usr/?$")
        string(APPEND CPACK_RPM_SPEC_MORE_DEFINE "
%if \"%{name}\" == \"${CPACK_RPM_RPM_RUNTIME_PACKAGE_NAME}\"
%post -p /sbin/ldconfig
%postun -p /sbin/ldconfig
%endif")
    endif()
    return()
endif()

# CPack gives a package with a shared library in /usr/lib maintainer scripts that call ldconfig,
# and finds that library only when it runs dpkg-shlibdeps itself. The library's package has the
# ldconfig trigger instead, so its dependencies come from dpkg-shlibdeps run here, as CPack
# would run it (it wants a debian/control in its working directory).
set(work "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps")  # cpack's own scratch folder
file(MAKE_DIRECTORY "${work}/debian")
file(WRITE "${work}/debian/control" "")
execute_process(
    COMMAND dpkg-shlibdeps --ignore-missing-info -O -l${CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS}
            "${CPACK_QR_LIBRARY}"
    WORKING_DIRECTORY "${work}"
    OUTPUT_VARIABLE depends ERROR_VARIABLE errors RESULT_VARIABLE rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT depends MATCHES "^shlibs:Depends=(.+)$")
    message(FATAL_ERROR "dpkg-shlibdeps ${CPACK_QR_LIBRARY}: ${rc} ${errors}")
endif()
set(CPACK_DEBIAN_DEB_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEB_RUNTIME_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
