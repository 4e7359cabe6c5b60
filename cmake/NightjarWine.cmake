# Running the cross-built programs under Wine, in a prefix of this build's own.
#
# NJ_WINEPREFIX is created by the `wineprefix` target (wineboot, then the
# settings the tests rely on). Every Wine test and every build step that runs
# a Windows program depends on it.

set(NJ_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(NJ_NATIVE_DIR "" CACHE PATH "Native build of this tree (virtual cable library and daemon)")

set(NJ_WINE_ENV
    WINEPREFIX=${NJ_WINEPREFIX}
    WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml="
    WINEARCH=win32)

add_custom_command(
    OUTPUT ${NJ_WINEPREFIX}/.nightjar-ready
    COMMAND ${CMAKE_COMMAND} -E env ${NJ_WINE_ENV}
            ${CMAKE_SOURCE_DIR}/tests/wine/init-prefix.sh ${NJ_WINEPREFIX}
    DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/init-prefix.sh
    COMMENT "Preparing the Wine prefix"
    VERBATIM)
add_custom_target(wineprefix ALL DEPENDS ${NJ_WINEPREFIX}/.nightjar-ready)

# nj_add_wine_test(NAME name COMMAND target-or-program args... [LABELS ...] [TIMEOUT s])
# A test that runs under Wine in this build's prefix, one at a time.
# Every Wine test runs with the cable's preload library, which also refuses
# the machine's real serial devices: no test can reach one, cable or not.
if(NJ_NATIVE_DIR)
    set(NJ_WINE_TEST_PRELOAD "LD_PRELOAD=${NJ_NATIVE_DIR}/sim/vcable/$LIB/libnjcable.so")
endif()

function(nj_add_wine_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "${NJ_WINE_ENV};${NJ_WINE_TEST_PRELOAD};NJ_NATIVE_DIR=${NJ_NATIVE_DIR};NJ_BUILD_DIR=${CMAKE_BINARY_DIR};${T_ENVIRONMENT}"
        RUN_SERIAL TRUE
        TIMEOUT ${T_TIMEOUT}
        LABELS "wine;${T_LABELS}")
endfunction()
