# Builds for the reliability checks: everything under AddressSanitizer and
# UndefinedBehaviorSanitizer, or the libFuzzer targets of fuzz/ (clang only).
option(DOLVIN_SANITIZE "Build everything with ASan and UBSan" OFF)
option(DOLVIN_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

set(DOLVIN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
# The checking builds keep their assertions.
if(DOLVIN_SANITIZE OR DOLVIN_FUZZ)
    add_compile_options(-UNDEBUG)
endif()
if(DOLVIN_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "DOLVIN_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++-14")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link ${DOLVIN_SANITIZERS})
    add_link_options(${DOLVIN_SANITIZERS})
elseif(DOLVIN_SANITIZE)
    add_compile_options(${DOLVIN_SANITIZERS})
    add_link_options(${DOLVIN_SANITIZERS})
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # Under the sanitizers gcc 12 warns falsely in <regex> and <functional>.
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
endif()
