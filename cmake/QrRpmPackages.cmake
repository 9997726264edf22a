# The RPM packages of the shipped components (cpack -G RPM), named and laid out as RHEL and SLES
# have theirs: lib64, the library executable, ldconfig run by the library's package under /usr.
# Included by QrPackaging.cmake, which gives the components, their descriptions, the changelog's
# date (qr_epoch) and the Debian-only files' sources; QrCPackProject.cmake installs the rpm_*
# components under QR_PACKAGE_PREFIX when cpack runs.
set(qr_rpm_package_runtime qrscsitimeouts)
set(qr_rpm_group_runtime "System Environment/Libraries")
set(qr_rpm_package_development qrscsitimeouts-devel)
set(qr_rpm_group_development "Development/Libraries")
set(qr_rpm_package_tool scsi-timeouts)
set(qr_rpm_group_tool "Applications/System")
set(qr_rpm_release 1)

# rpmbuild's default is the build machine's architecture; these are RPM's names for the target's.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|aarch64|ppc64le|ppc64)$")
    set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE ${qr_rpm_release})
# No licence is granted (packaging/copyright): RPM distributions say so with "Proprietary".
set(CPACK_RPM_PACKAGE_LICENSE Proprietary)
string(REGEX REPLACE " *<.*$" "" CPACK_RPM_PACKAGE_VENDOR "${QR_PACKAGE_MAINTAINER}")
# The folders other packages own (filesystem, man, bash-completion, cmake, pkgconfig) stay theirs,
# and so does the product tree itself (/opt/qr, which holds the platform's Base64/).
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /opt /usr/share/man /usr/share/man/man1
    /usr/share/bash-completion /usr/share/bash-completion/completions
    /usr/${QR_RPM_LIBDIR}/cmake /usr/${QR_RPM_LIBDIR}/pkgconfig)
if(QR_PACKAGE_PREFIX MATCHES "^/opt/.")
    string(REGEX REPLACE "/$" "" prefix "${QR_PACKAGE_PREFIX}")
    list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION "${prefix}")
endif()

# The changelog entry, dated as the Debian packages' changelog.
set(qr_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} "${qr_epoch}")
string(TIMESTAMP qr_rpm_date "%a %b %d %Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${qr_saved_epoch}")
set(CPACK_RPM_CHANGELOG_FILE "${PROJECT_BINARY_DIR}/packaging/rpm-changelog")
file(CONFIGURE OUTPUT "${CPACK_RPM_CHANGELOG_FILE}" CONTENT
     "* ${qr_rpm_date} ${QR_PACKAGE_MAINTAINER} - ${PROJECT_VERSION}-${qr_rpm_release}\n- Release ${PROJECT_VERSION} of QrScsiTimeouts.\n")

# rpmbuild's header lines for every package. The same bytes from the same commit: the build time
# and the file times from SOURCE_DATE_EPOCH (QrCPackProject.cmake sets every file's time to it,
# as the .deb has them), a fixed build host, no /usr/lib/.build-id links. libQrLib.so is the
# platform's, and no RPM provides it: the automatic requirements leave it out, and keep
# everything else.
set(CPACK_RPM_SPEC_MORE_DEFINE "Packager: ${QR_PACKAGE_MAINTAINER}
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _build_id_links none
%global __requires_exclude ^libQrLib[.]so")  # no quote: CPackConfig.cmake keeps none
set(CPACK_RPM_RPM_DEVELOPMENT_PACKAGE_REQUIRES
    "${qr_rpm_package_runtime} = ${PROJECT_VERSION}-${qr_rpm_release}")
set(CPACK_RPM_RPM_TOOL_PACKAGE_REQUIRES  # the exact version: the same module's code
    "${qr_rpm_package_runtime} = ${PROJECT_VERSION}-${qr_rpm_release}")
foreach(component IN LISTS qr_components)
    string(TOUPPER "rpm_${component}" upper)
    set(package ${qr_rpm_package_${component}})
    set(CPACK_RPM_${upper}_PACKAGE_NAME ${package})
    set(CPACK_RPM_${upper}_PACKAGE_GROUP "${qr_rpm_group_${component}}")
    # The Debian description, with the RPM name; its first line, capitalised, is the summary.
    string(REPLACE "${qr_package_runtime}" "${qr_rpm_package_runtime}" description
                   "${qr_description_${component}}")
    string(FIND "${description}" "\n" eol)
    string(SUBSTRING "${description}" 0 ${eol} summary)
    math(EXPR eol "${eol} + 1")
    string(SUBSTRING "${description}" ${eol} -1 description)
    string(SUBSTRING "${summary}" 0 1 first)
    string(TOUPPER "${first}" first)
    string(SUBSTRING "${summary}" 1 -1 summary)
    set(CPACK_RPM_${upper}_PACKAGE_SUMMARY "${first}${summary}")
    set(CPACK_RPM_${upper}_PACKAGE_DESCRIPTION "${description}")

    # The same copyright and changelog as the Debian package's, under the RPM name.
    set(generated "${PROJECT_BINARY_DIR}/packaging/rpm/${package}")
    configure_file("${qr_packaging}/changelog.in" "${generated}/changelog" @ONLY)
    add_custom_command(OUTPUT "${generated}/changelog.gz"
        COMMAND "${CMAKE_COMMAND}" -DIN=${generated}/changelog -DOUT=${generated}/changelog.gz
                -P "${CMAKE_CURRENT_LIST_DIR}/QrGzip.cmake"
        DEPENDS "${generated}/changelog" "${CMAKE_CURRENT_LIST_DIR}/QrGzip.cmake"
        VERBATIM)
    list(APPEND qr_changelogs "${generated}/changelog.gz")
    install(FILES "${qr_packaging}/copyright" "${generated}/changelog.gz"
            DESTINATION /usr/share/doc/${package} COMPONENT rpm_${component} EXCLUDE_FROM_ALL)
endforeach()

# rpmlint's filters for these packages, each with its reason (packaging/*.rpmlintrc): the ones
# for every prefix, then under /usr those for the man page and the program rpmlint looks at there,
# and in /opt those for /opt. rpmlint -r <build>/packaging/qrscsitimeouts.rpmlintrc fails on a
# filter that matches nothing.
set(qr_rpmlintrc_parts "${qr_packaging}/qrscsitimeouts.rpmlintrc")
if(QR_PACKAGE_PREFIX MATCHES "^/usr/?$")
    list(APPEND qr_rpmlintrc_parts "${qr_packaging}/usr.rpmlintrc")
elseif(qr_in_opt)
    list(APPEND qr_rpmlintrc_parts "${qr_packaging}/opt.rpmlintrc")
endif()
set(qr_rpmlintrc "")
foreach(part IN LISTS qr_rpmlintrc_parts)
    file(READ "${part}" text)
    string(APPEND qr_rpmlintrc "${text}")
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${qr_rpmlintrc_parts})
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/packaging/qrscsitimeouts.rpmlintrc"
     CONTENT "${qr_rpmlintrc}" @ONLY)
