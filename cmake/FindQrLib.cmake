# Finds the platform library libQrLib.so and its header QrPlatformInfo.h in a platform SDK.
#   cmake -DQrLib_ROOT=DIR   header in DIR/include, library in DIR/Base64 (the product's layout)
#                            or DIR/lib
# Gives the imported target QrLib::QrLib, and QrLib_INCLUDE_DIR, QrLib_LIBRARY.

# Only QrLib_ROOT is searched (inside a cross toolchain's root, then as given), never the system
# or CMAKE_PREFIX_PATH: a header from one place and a library from another would disagree on the
# size of the object the library keeps on its stack.
set(qrlib_roots ${QrLib_ROOT} $ENV{QrLib_ROOT})
find_path(QrLib_INCLUDE_DIR QrPlatformInfo.h PATHS ${qrlib_roots} PATH_SUFFIXES include
          NO_DEFAULT_PATH CMAKE_FIND_ROOT_PATH_BOTH
          DOC "Directory of the platform SDK's QrPlatformInfo.h")
find_library(QrLib_LIBRARY NAMES QrLib PATHS ${qrlib_roots} PATH_SUFFIXES Base64 lib
             NO_DEFAULT_PATH CMAKE_FIND_ROOT_PATH_BOTH DOC "The platform SDK's libQrLib.so")

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
