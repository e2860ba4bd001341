# Build settings and helpers shared by every folder.

set(ZR_WARNINGS -Wall -Wextra -Werror)
# GCC 12 at -O3 (CMake's default Release level) reports false -Wrestrict and
# -Wstringop-overflow findings inside the standard library's inlined string and vector code;
# the warnings stay, they just do not fail the build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    list(APPEND ZR_WARNINGS -Wno-error=restrict -Wno-error=stringop-overflow)
endif()
set(ZR_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
if(ZR_SANITIZE)
    # GCC's flow analysis reports false "maybe uninitialized" warnings inside the standard
    # library once the sanitizers instrument it; the normal build keeps the warning.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        list(APPEND ZR_WARNINGS -Wno-maybe-uninitialized)
    endif()
    add_compile_options(${ZR_SANITIZER_FLAGS})
    add_link_options(${ZR_SANITIZER_FLAGS})
endif()

# What every test process (and the programs it starts) runs with in a sanitizer build. Leak
# checking stays on; intercept_tls_get_addr=0 keeps LeakSanitizer's thread scan from crashing
# on the dynamic TLS of libraries loaded with dlopen (GCC 12's runtime with this glibc).
set(ZR_TEST_ENVIRONMENT)
if(ZR_SANITIZE)
    list(APPEND ZR_TEST_ENVIRONMENT
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
if(ZR_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "ZR_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Everything is instrumented for coverage; only the fuzz targets link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# Our own code: warnings as errors, hidden symbols (a shared object exports only what it marks).
function(zr_target_defaults target)
    target_compile_options(${target} PRIVATE ${ZR_WARNINGS})
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    target_include_directories(${target} PUBLIC
        ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
endfunction()

# A static library that joins the plug-in library libzrencoders.so: the plug-in links every
# such library whole.
function(zr_add_plugin_library target)
    add_library(${target} STATIC ${ARGN})
    zr_target_defaults(${target})
    target_link_libraries(${target} PUBLIC zr_core)
    set_property(GLOBAL APPEND PROPERTY ZR_PLUGIN_LIBRARIES ${target})
endfunction()

# An encoder folder's library. Its encoders' Options slots reach their windows through the
# window table of the options library (ZrShowOptionsWindow), so every encoder library links
# zr_options, and zr_options links no encoder: it knows only their settings declarations.
function(zr_add_encoder_library target)
    zr_add_plugin_library(${target} ${ARGN})
    target_link_libraries(${target} PUBLIC zr_options)
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt, so that a new
# encoder or test folder needs no edit anywhere else.
function(zr_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
        ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child IN LISTS children)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# Test programs compile at -O1: twice as fast to build as -O2, and what they time is the code
# under test.
set(ZR_TEST_OPTIMIZE -O1)

# A GoogleTest program registered with CTest. Tests see the build's bin/ and lib/ folders and
# the source tree through environment variables.
#   zr_add_gtest(NAME name SOURCES a.cpp ... LIBRARIES lib ... [LABELS l ...] [TIMEOUT s])
function(zr_add_gtest)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    if(ZR_FUZZ)
        return()
    endif()
    find_package(GTest REQUIRED)
    add_executable(${T_NAME} ${T_SOURCES})
    zr_target_defaults(${T_NAME})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    # A program whose libraries add compile definitions cannot use the shared header: it then
    # parses the headers itself (a warning, not a failure).
    target_compile_options(${T_NAME} PRIVATE ${ZR_TEST_OPTIMIZE} -Wno-error=invalid-pch)
    target_precompile_headers(${T_NAME} REUSE_FROM zr_test_pch)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES} zr_testsupport GTest::gtest
        GTest::gmock GTest::gtest_main Threads::Threads)
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
        ENVIRONMENT "ZR_BUILD_DIR=${PROJECT_BINARY_DIR};ZR_SOURCE_DIR=${PROJECT_SOURCE_DIR};${ZR_TEST_ENVIRONMENT}")
endfunction()

# A libFuzzer target, built only with ZR_FUZZ. test.sh runs each for its given seconds.
#   zr_add_fuzzer(NAME name SOURCES a.cpp ... LIBRARIES lib ... SECONDS n)
function(zr_add_fuzzer)
    cmake_parse_arguments(F "" "NAME;SECONDS" "SOURCES;LIBRARIES" ${ARGN})
    if(NOT ZR_FUZZ)
        return()
    endif()
    add_executable(${F_NAME} ${F_SOURCES})
    zr_target_defaults(${F_NAME})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBRARIES})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
    if(NOT F_SECONDS)
        set(F_SECONDS 30)
    endif()
    file(APPEND ${PROJECT_BINARY_DIR}/fuzz-targets.txt "${F_NAME} ${F_SECONDS}\n")
endfunction()
