# The MPRIS bridge's line protocol and window-title composition under the
# fuzzer, included from the fuzz project. Their sources are compiled into
# each target so the fuzzer sees their coverage.
if(NOT DEFINED NJ_TOP)
    set(NJ_TOP ${CMAKE_CURRENT_LIST_DIR}/../..)
endif()

if(NOT COMMAND nj_add_fuzzer)
    function(nj_add_fuzzer name)
        set(flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1)
        add_executable(${name} ${ARGN})
        target_compile_options(${name} PRIVATE ${flags} -Wall -Wextra -Werror)
        target_link_options(${name} PRIVATE ${flags})
    endfunction()
endif()

set(nj_mpris_dir ${NJ_TOP}/adapters/mpris)

nj_add_fuzzer(protocol_fuzz ${CMAKE_CURRENT_LIST_DIR}/protocol_fuzz.cpp ${nj_mpris_dir}/line_protocol.cpp)
target_include_directories(protocol_fuzz PRIVATE ${nj_mpris_dir})

nj_add_fuzzer(compose_fuzz ${CMAKE_CURRENT_LIST_DIR}/compose_fuzz.cpp ${nj_mpris_dir}/title_compose.cpp
    ${NJ_TOP}/playerctl/title_parser.cpp)
target_include_directories(compose_fuzz PRIVATE ${nj_mpris_dir} ${NJ_TOP}/playerctl)
