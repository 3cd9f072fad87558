# Resources are compiled with the 32-bit MinGW windres on both platforms, so
# that the bytes the simulator reads are the bytes Windows would read.
find_program(MODEM_WINDRES NAMES i686-w64-mingw32-windres REQUIRED)
find_program(MODEM_PE_LD NAMES i686-w64-mingw32-ld REQUIRED)

file(GLOB MODEM_RC_DEPENDS CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/res/*.rc ${CMAKE_SOURCE_DIR}/res/*.h ${CMAKE_SOURCE_DIR}/res/*.bmp
    ${CMAKE_SOURCE_DIR}/res/*.ico ${CMAKE_SOURCE_DIR}/res/lang/*.rc)

# A resource-only 32-bit PE DLL (no code, entry point 0).
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
