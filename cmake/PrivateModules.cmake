# Snipjar's private shared modules (src/platform/PrivateModule.h): the code that needs large
# libraries, loaded when it is first needed rather than linked at every start.
include(GNUInstallDirs)
# In the architecture's library folder (/usr/lib/<triplet>/snipjar), which the dynamic linker's
# cache never lists, so that the package needs no ldconfig call.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(SNIPJAR_MODULE_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/snipjar)
else()
    set(SNIPJAR_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/snipjar)
endif()

# snipjar_private_module(<module target> <file name> <loader target> <definition prefix>
#                        [FROM <installed folder of the loading program>])
# Names and installs the module, builds it with its loader, and gives the loader's sources where
# to look: <prefix>_FROM_PROGRAM (relative to the folder of the program that loads it once
# installed: the application binary's unless FROM says another), <prefix>_BUILD_FILE and
# <prefix>_INSTALLED_FILE. Tests that call the module's code directly link
# the module target.
function(snipjar_private_module module file_name loader prefix)
    cmake_parse_arguments(ARG "" "FROM" "" ${ARGN})
    if(NOT ARG_FROM)
        set(ARG_FROM ${CMAKE_INSTALL_FULL_LIBEXECDIR}/snipjar)
    endif()
    set_target_properties(${module} PROPERTIES OUTPUT_NAME ${file_name})
    install(TARGETS ${module} LIBRARY DESTINATION ${SNIPJAR_MODULE_DIR} COMPONENT snipjar)
    set(installed ${CMAKE_INSTALL_PREFIX}/${SNIPJAR_MODULE_DIR}/lib${file_name}.so)
    file(RELATIVE_PATH from_program ${ARG_FROM} ${installed})
    target_compile_definitions(${loader} PRIVATE ${prefix}_FROM_PROGRAM="${from_program}"
        ${prefix}_BUILD_FILE="$<TARGET_FILE:${module}>" ${prefix}_INSTALLED_FILE="${installed}")
    add_dependencies(${loader} ${module})
endfunction()
