# Flags of every target of ours. Floating-point contraction is off and fast maths never on: stored
# files and the conformance vectors depend on the exact doubles, on every machine.
add_library(velmar_flags INTERFACE)
target_compile_features(velmar_flags INTERFACE cxx_std_20)
target_compile_options(velmar_flags INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -ffp-contract=off)
# Errors only where we choose them (CI and the developers' scripts): a new compiler's new warning must
# never break a user's or a distribution's build.
if(VELMAR_WERROR)
    target_compile_options(velmar_flags INTERFACE -Werror)
endif()

if(VELMAR_SANITIZE STREQUAL "address")
    set(velmar_sanitize_flags -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
        -fno-omit-frame-pointer)
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
elseif(VELMAR_SANITIZE STREQUAL "thread")
    set(velmar_sanitize_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT VELMAR_SANITIZE STREQUAL "")
    message(FATAL_ERROR "VELMAR_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(velmar_sanitize_flags)
    # Everything we build, tests and tools included, shares one runtime.
    add_compile_options(${velmar_sanitize_flags})
    add_link_options(${velmar_sanitize_flags})
endif()
