# Nightjar reaches the player control only through its published interface
# (the plavox_interface target, headers under playerctl/include/). Two checks
# keep it that way:
#  - at configure time, no controller target may link a library of playerctl/
#    other than plavox_interface, nor put playerctl/ on its include path;
#  - at build time, no controller source may include a header of playerctl/
#    outside include/, however the path is spelled.

set(NJ_PLAVOX_INCLUDE_CHECK ${CMAKE_CURRENT_LIST_DIR}/check_plavox_includes.cmake)

function(nj_targets_below dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
        nj_targets_below(${subdir} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(nj_is_private_plavox_path path out)
    set(NJ_PLAVOX_DIR ${CMAKE_SOURCE_DIR}/playerctl)
    set(NJ_PLAVOX_PUBLIC_DIR ${CMAKE_SOURCE_DIR}/playerctl/include)
    cmake_path(IS_PREFIX NJ_PLAVOX_DIR "${path}" NORMALIZE below_control)
    cmake_path(IS_PREFIX NJ_PLAVOX_PUBLIC_DIR "${path}" NORMALIZE below_public)
    if(below_control AND NOT below_public)
        set(${out} TRUE PARENT_SCOPE)
    else()
        set(${out} FALSE PARENT_SCOPE)
    endif()
endfunction()

# Every target that target links, directly or through other targets.
function(nj_linked_targets target out)
    set(seen "")
    set(pending ${target})
    while(pending)
        list(POP_FRONT pending current)
        get_target_property(type ${current} TYPE)
        set(links "")
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(direct ${current} LINK_LIBRARIES)
            if(direct)
                list(APPEND links ${direct})
            endif()
        endif()
        get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
        if(interface)
            list(APPEND links ${interface})
        endif()
        foreach(link IN LISTS links)
            if(link MATCHES "^\\$<LINK_ONLY:(.+)>$")
                set(link ${CMAKE_MATCH_1})
            endif()
            if(TARGET "${link}" AND NOT link IN_LIST seen)
                list(APPEND seen ${link})
                list(APPEND pending ${link})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(nj_fail_on_private_plavox_includes target includes)
    foreach(include IN LISTS includes)
        nj_is_private_plavox_path("${include}" private)
        if(private)
            message(FATAL_ERROR "${target} has ${include} on its include path; link plavox_interface instead")
        endif()
    endforeach()
endfunction()

# Runs once every directory is configured, when all targets exist.
function(nj_check_controller_links)
    nj_targets_below(${CMAKE_SOURCE_DIR}/controller targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "UTILITY")
            continue()
        endif()
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(includes ${target} INCLUDE_DIRECTORIES)
            nj_fail_on_private_plavox_includes(${target} "${includes}")
        endif()
        nj_linked_targets(${target} linked)
        foreach(dependency IN LISTS linked)
            if(dependency STREQUAL "plavox_interface")
                continue()
            endif()
            get_target_property(source_dir ${dependency} SOURCE_DIR)
            nj_is_private_plavox_path("${source_dir}" private)
            if(private)
                message(FATAL_ERROR "${target} links ${dependency} of playerctl/; only plavox_interface is for hosts")
            endif()
            get_target_property(includes ${dependency} INTERFACE_INCLUDE_DIRECTORIES)
            if(includes)
                nj_fail_on_private_plavox_includes("${target} (through ${dependency})" "${includes}")
            endif()
        endforeach()
    endforeach()
endfunction()

# Scans the sources of the controller at build time; the target named
# plavox_include_check fails the build on a private include.
function(nj_add_controller_include_check controller_dir)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
        ${controller_dir}/*.cpp ${controller_dir}/*.h ${controller_dir}/*.c ${controller_dir}/*.rc)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/plavox_include_check.stamp)
    string(REPLACE ";" "|" source_list "${sources}")
    add_custom_command(
        OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DSOURCES=${source_list} -DPLAVOX_DIR=${CMAKE_SOURCE_DIR}/playerctl
                -DPUBLIC_DIR=${CMAKE_SOURCE_DIR}/playerctl/include -DSTAMP=${stamp} -P ${NJ_PLAVOX_INCLUDE_CHECK}
        DEPENDS ${sources} ${NJ_PLAVOX_INCLUDE_CHECK}
        COMMENT "Checking that the controller includes only Plavox's published headers"
        VERBATIM)
    add_custom_target(plavox_include_check ALL DEPENDS ${stamp})
endfunction()
