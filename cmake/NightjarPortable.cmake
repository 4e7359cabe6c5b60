# Platform-free code: a library and its gtest, built in both builds. Native
# builds compile them with the sanitizers; the test runs natively, and under
# Wine too unless NATIVE_ONLY.

# nj_add_portable_library(name sources...)
function(nj_add_portable_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${NJ_WARNINGS} ${NJ_SANITIZERS})
    target_link_options(${name} INTERFACE ${NJ_SANITIZERS})
endfunction()

# nj_add_portable_test(NAME test-name TARGET exe SOURCES ... LINK ... [NATIVE_ONLY])
function(nj_add_portable_test)
    cmake_parse_arguments(T "NATIVE_ONLY" "NAME;TARGET" "SOURCES;LINK" ${ARGN})
    add_executable(${T_TARGET} ${T_SOURCES})
    target_link_libraries(${T_TARGET} PRIVATE ${T_LINK})
    target_compile_options(${T_TARGET} PRIVATE ${NJ_WARNINGS} ${NJ_SANITIZERS})
    if(NOT WIN32)
        add_test(NAME ${T_NAME} COMMAND ${T_TARGET})
    elseif(NOT T_NATIVE_ONLY)
        nj_add_wine_test(NAME ${T_NAME} COMMAND ${T_TARGET})
    endif()
endfunction()
