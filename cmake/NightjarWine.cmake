# Running the cross-built programs under Wine, in a prefix of this build's own.
#
# NJ_WINEPREFIX is created by the `wineprefix` target (wineboot, then the
# settings the tests rely on). Every Wine test and every build step that runs
# a Windows program depends on it.

set(NJ_NATIVE_DIR "" CACHE PATH "Native build of this tree (virtual cable library and daemon)")

# The Wine environment is scripts/lib/wine.env, shared with ./run, the
# benchmarks and the test harness.
set(NJ_WINE_ENV_FILE ${CMAKE_SOURCE_DIR}/scripts/lib/wine.env)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${NJ_WINE_ENV_FILE})
file(STRINGS ${NJ_WINE_ENV_FILE} nj_wine_lines REGEX "^[A-Z_][A-Z0-9_]*=")
set(NJ_WINE_ENV "")
foreach(line IN LISTS nj_wine_lines)
    string(REPLACE "{win}" "${CMAKE_BINARY_DIR}" line "${line}")
    string(REPLACE "{native}" "${NJ_NATIVE_DIR}" line "${line}")
    if(line MATCHES "^WINEPREFIX=(.*)$")
        set(NJ_WINEPREFIX "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^NJ_CABLE_LIB=(.*)$")
        set(NJ_CABLE_LIB "${CMAKE_MATCH_1}")
    endif()
    list(APPEND NJ_WINE_ENV "${line}")
endforeach()

add_custom_command(
    OUTPUT ${NJ_WINEPREFIX}/.nightjar-ready
    COMMAND ${CMAKE_COMMAND} -E env ${NJ_WINE_ENV}
            ${CMAKE_SOURCE_DIR}/tools/init-prefix.sh ${NJ_WINEPREFIX}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/init-prefix.sh ${NJ_WINE_ENV_FILE}
            ${CMAKE_SOURCE_DIR}/scripts/lib/wine-env.sh ${CMAKE_SOURCE_DIR}/scripts/lib/window-mode.sh
    COMMENT "Preparing the Wine prefix"
    VERBATIM)
add_custom_target(wineprefix ALL DEPENDS ${NJ_WINEPREFIX}/.nightjar-ready)

# nj_add_wine_test(NAME name COMMAND target-or-program args... [LABELS ...] [TIMEOUT s])
# A test that runs under Wine in this build's prefix, one at a time.
# Every Wine test runs with the cable's preload library, which also refuses
# the machine's real serial devices: no test can reach one, cable or not.
if(NJ_NATIVE_DIR)
    set(NJ_WINE_TEST_PRELOAD "LD_PRELOAD=${NJ_CABLE_LIB}")
endif()

# Whatever ./run on a desktop left behind, the tests get the windows they are
# written for: unmanaged, as on a display without a window manager.
add_test(NAME wine.window-mode COMMAND ${CMAKE_SOURCE_DIR}/scripts/lib/window-mode.sh unmanaged)
# With the preload library like every Wine test: the wineserver it starts may
# serve the next one.
set_tests_properties(wine.window-mode PROPERTIES
    ENVIRONMENT "${NJ_WINE_ENV};${NJ_WINE_TEST_PRELOAD}"
    FIXTURES_SETUP nj_wine_windows
    RUN_SERIAL TRUE
    LABELS wine)

function(nj_add_wine_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "${NJ_WINE_ENV};${NJ_WINE_TEST_PRELOAD};NJ_BUILD_DIR=${CMAKE_BINARY_DIR};${T_ENVIRONMENT}"
        RUN_SERIAL TRUE
        FIXTURES_REQUIRED nj_wine_windows
        TIMEOUT ${T_TIMEOUT}
        LABELS "wine;${T_LABELS}")
endfunction()
