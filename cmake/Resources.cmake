# Resources are compiled with MinGW's windres for the Windows target being
# built, and with the 32-bit one for the simulator, so that the bytes it reads
# are the bytes the 32-bit program finds on Windows. Objects linked into an
# image and a resource-only DLL must match the image's machine: the loader
# maps a DLL of another machine as data at best.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(MODEM_PE_TRIPLET x86_64-w64-mingw32)
else()
    set(MODEM_PE_TRIPLET i686-w64-mingw32)
endif()
find_program(MODEM_WINDRES NAMES ${MODEM_PE_TRIPLET}-windres REQUIRED)
find_program(MODEM_PE_LD NAMES ${MODEM_PE_TRIPLET}-ld REQUIRED)

file(GLOB MODEM_RC_DEPENDS CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/res/*.rc ${CMAKE_SOURCE_DIR}/res/*.h ${CMAKE_SOURCE_DIR}/res/*.bmp
    ${CMAKE_SOURCE_DIR}/res/*.ico ${CMAKE_SOURCE_DIR}/res/lang/*.rc)

# A resource-only PE DLL (no code, entry point 0) for the target's machine.
function(modem_resource_dll target rc output)
    set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}.o)
    add_custom_command(OUTPUT ${output}
        COMMAND ${MODEM_WINDRES} -I${CMAKE_SOURCE_DIR}/res -O coff -i ${rc} -o ${obj}
        COMMAND ${MODEM_PE_LD} --dll -e 0 --subsystem windows -s -o ${output} ${obj}
        DEPENDS ${rc} ${MODEM_RC_DEPENDS}
        COMMENT "Linking resource library ${output}")
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# A COFF object for linking into a Windows executable.
function(modem_resource_object name rc)
    set(obj ${CMAKE_CURRENT_BINARY_DIR}/${name}.o)
    add_custom_command(OUTPUT ${obj}
        COMMAND ${MODEM_WINDRES} -I${CMAKE_SOURCE_DIR}/res -O coff -i ${rc} -o ${obj}
        DEPENDS ${rc} ${MODEM_RC_DEPENDS})
    set(${name}_OBJECT ${obj} PARENT_SCOPE)
endfunction()

# A .res file turned into a C++ source that hands it to ntsim's loader as
# the image's own resources.
function(modem_resource_embedded name rc)
    set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
    set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
    add_custom_command(OUTPUT ${cpp}
        COMMAND ${MODEM_WINDRES} -I${CMAKE_SOURCE_DIR}/res -O res -i ${rc} -o ${res}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${res} -DOUTPUT=${cpp} -DSYMBOL=${name}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
        DEPENDS ${rc} ${MODEM_RC_DEPENDS} ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake)
    set(${name}_SOURCE ${cpp} PARENT_SCOPE)
endfunction()

# Any file as a byte array with a name (the default machine's hives).
function(modem_embed_file input output symbol)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol} -DPLAIN=1
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
        DEPENDS ${input} ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake)
endfunction()

# A .res file turned into a C++ source whose exported array a loaded
# module's resources come from (ntsim_module_resources and its _size).
function(modem_resource_module name rc)
    set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
    set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
    add_custom_command(OUTPUT ${cpp}
        COMMAND ${MODEM_WINDRES} -I${CMAKE_SOURCE_DIR}/res -O res -i ${rc} -o ${res}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${res} -DOUTPUT=${cpp} -DSYMBOL=ntsim_module_resources -DPLAIN=1
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
        DEPENDS ${rc} ${MODEM_RC_DEPENDS} ${ARGN} ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake)
    set(${name}_SOURCE ${cpp} PARENT_SCOPE)
endfunction()
