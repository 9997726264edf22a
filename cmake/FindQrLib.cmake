# Finds the platform library libQrLib.so and its header QrPlatformInfo.h in a platform SDK.
#   cmake -DQrLib_ROOT=DIR   header in DIR/include, library in DIR/Base64 (the product's layout)
#                            or DIR/lib
# Gives the imported target QrLib::QrLib, and QrLib_INCLUDE_DIR, QrLib_LIBRARY.

# QrLib_ROOT is also searched inside a cross toolchain's root, then as given.
find_path(QrLib_INCLUDE_DIR QrPlatformInfo.h PATH_SUFFIXES include CMAKE_FIND_ROOT_PATH_BOTH
          DOC "Directory of the platform SDK's QrPlatformInfo.h")
find_library(QrLib_LIBRARY NAMES QrLib PATH_SUFFIXES Base64 lib CMAKE_FIND_ROOT_PATH_BOTH
             DOC "The platform SDK's libQrLib.so")

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(QrLib
    REQUIRED_VARS QrLib_LIBRARY QrLib_INCLUDE_DIR
    REASON_FAILURE_MESSAGE
        "QrLib_ROOT=${QrLib_ROOT} needs include/QrPlatformInfo.h and Base64/libQrLib.so or lib/libQrLib.so")
mark_as_advanced(QrLib_INCLUDE_DIR QrLib_LIBRARY)

if(QrLib_FOUND AND NOT TARGET QrLib::QrLib)
    add_library(QrLib::QrLib SHARED IMPORTED)
    # Linked by name (-L dir -lQrLib), never by path: NEEDED is then libQrLib.so, or the
    # library's SONAME, also for an SDK library built without a SONAME.
    set_target_properties(QrLib::QrLib PROPERTIES
        IMPORTED_LOCATION "${QrLib_LIBRARY}"
        IMPORTED_NO_SONAME ON
        INTERFACE_INCLUDE_DIRECTORIES "${QrLib_INCLUDE_DIR}")
endif()
