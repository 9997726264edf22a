# Per-target settings shared by everything this project builds (no global flags).
set(QR_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address,undefined or thread")

function(qr_target_defaults target)
    target_compile_features(${target} PRIVATE cxx_std_17)
    set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(QR_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=${QR_SANITIZE} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=${QR_SANITIZE})
    endif()
endfunction()
