# The project's version as the version blocks of Nightjar.exe and Plavox.ocx
# spell it: nj_version.h, found by every resource script of the build.
#
# The text form has room for three numbers (major, two-digit minor, four-digit
# build), so the version's third number stays 0.
if(NOT PROJECT_VERSION_PATCH EQUAL 0)
    message(FATAL_ERROR "Version ${PROJECT_VERSION}: its third number must be 0")
endif()
set(NJ_VERSION_TWEAK ${PROJECT_VERSION_TWEAK})
if(NJ_VERSION_TWEAK STREQUAL "")
    set(NJ_VERSION_TWEAK 0)
endif()
set(NJ_VERSION_FIXED "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${NJ_VERSION_TWEAK}")
string(LENGTH "${PROJECT_VERSION_MINOR}" minor_digits)
string(LENGTH "${NJ_VERSION_TWEAK}" tweak_digits)
if(minor_digits GREATER 2 OR tweak_digits GREATER 4)
    message(FATAL_ERROR "Version ${PROJECT_VERSION} does not fit the text form M.mm.bbbb")
endif()
math(EXPR minor_pad_count "2 - ${minor_digits}")
math(EXPR tweak_pad_count "4 - ${tweak_digits}")
string(REPEAT "0" ${minor_pad_count} minor_pad)
string(REPEAT "0" ${tweak_pad_count} tweak_pad)
set(NJ_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${minor_pad}${PROJECT_VERSION_MINOR}.${tweak_pad}${NJ_VERSION_TWEAK}")

set(NJ_VERSION_DIR ${CMAKE_BINARY_DIR}/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/nj_version.h.in ${NJ_VERSION_DIR}/nj_version.h @ONLY)
include_directories(${NJ_VERSION_DIR})

# nj_version_resource(DIR FILE): FILE, a resource script of directory DIR,
# is compiled again when the version changes (windres leaves no dependency
# list of its own).
function(nj_version_resource dir file)
    set_property(SOURCE ${CMAKE_SOURCE_DIR}/${dir}/${file} DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}
                 APPEND PROPERTY OBJECT_DEPENDS ${NJ_VERSION_DIR}/nj_version.h)
endfunction()
