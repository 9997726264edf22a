# Per-target settings shared by everything this project builds (no global flags).
set(QR_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address,undefined or thread")
option(QR_COVERAGE "Instrument every target for gcov (a Debug build for the coverage report)" OFF)

# glibc's checked calls need the optimiser (and warn without it). Sanitized builds go without: the
# sanitizers check those accesses themselves, and the _chk wrappers would hide calls from their
# interceptors. A _FORTIFY_SOURCE that is already defined is kept: one a distribution passes in
# its flags, or one the compiler defines itself when optimising (Ubuntu's GCC does), which only
# the compiler's own definitions show (-dM -E); a second definition would warn "redefined".
# QR_FORTIFY is a generator expression, 1 where the targets define it themselves; QR_FORTIFIED, 1
# where the build is fortified either way (what install.hardening checks).
string(TOUPPER "${CMAKE_BUILD_TYPE}" qr_build_type)
set(qr_fortify_defined OFF)
if(NOT QR_SANITIZE)
    set(qr_probe_flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${qr_build_type}}")
    if(NOT CMAKE_BUILD_TYPE)
        string(APPEND qr_probe_flags " -O2")  # multi-config: as the optimised configurations
    endif()
    separate_arguments(qr_probe_flags UNIX_COMMAND "${qr_probe_flags}")
    set(qr_probe "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/qr_fortify_probe.cpp")
    file(WRITE "${qr_probe}" "")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${qr_probe_flags} -dM -E "${qr_probe}"
                    OUTPUT_VARIABLE qr_predefined ERROR_QUIET RESULT_VARIABLE qr_probe_rc)
    if(NOT qr_probe_rc EQUAL 0)
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} -dM -E failed (${qr_probe_rc}): cannot tell "
                            "whether it defines _FORTIFY_SOURCE itself")
    endif()
    if(qr_predefined MATCHES "#define _FORTIFY_SOURCE ")
        set(qr_fortify_defined ON)
    endif()
endif()
if(QR_SANITIZE OR qr_fortify_defined)
    set(QR_FORTIFY 0)
    set(QR_FORTIFIED 0)
    if(qr_predefined MATCHES "#define _FORTIFY_SOURCE [1-9]")
        set(QR_FORTIFIED 1)
    endif()
else()
    set(QR_FORTIFY "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    set(QR_FORTIFIED "${QR_FORTIFY}")
endif()

# qr_target_defaults(target [SANITIZE list]): SANITIZE gives the target sanitizers of its own, on
# top of QR_SANITIZE (the fuzzer).
function(qr_target_defaults target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SANITIZE")
    target_compile_features(${target} PRIVATE cxx_std_17)
    set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(QR_COVERAGE)
        # gcov finds the sources and its data by the real paths, so they stay in.
        target_compile_options(${target} PRIVATE --coverage)
        target_link_options(${target} PRIVATE --coverage)
    else()
        # The same commit gives the same bytes wherever it is built: no source or build directory
        # in the debug information, __FILE__ or the build-id computed over them. The build
        # directory comes last, so that it wins where it lies inside the source tree.
        target_compile_options(${target} PRIVATE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
                                                 "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
    endif()

    # Hardening: the library is loaded into other programs' processes.
    target_compile_options(${target} PRIVATE -fstack-protector-strong -Wformat
                                             -Werror=format-security)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        target_compile_options(${target} PRIVATE -fcf-protection)
    endif()
    target_link_options(${target} PRIVATE "LINKER:-z,relro" "LINKER:-z,now" "LINKER:-z,noexecstack")

    set(sanitize ${QR_SANITIZE})
    if(arg_SANITIZE)
        list(APPEND sanitize ${arg_SANITIZE})
    endif()
    list(JOIN sanitize "," sanitize)
    if(sanitize)
        target_compile_options(${target} PRIVATE -fsanitize=${sanitize} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=${sanitize})
    elseif(QR_FORTIFY)
        target_compile_definitions(${target} PRIVATE "$<${QR_FORTIFY}:_FORTIFY_SOURCE=2>")
    endif()
endfunction()
