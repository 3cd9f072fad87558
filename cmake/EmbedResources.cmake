# Writes INPUT as a byte array into OUTPUT. With PLAIN the array is only
# named SYMBOL; otherwise it is registered as the image's resources.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
if(PLAIN)
    file(WRITE ${OUTPUT} "// Generated from ${INPUT}.\n#include <cstddef>\nextern const unsigned char ${SYMBOL}[] = {\n${bytes}0x00 };\nextern const std::size_t ${SYMBOL}_size = ${size};\n")
else()
    file(WRITE ${OUTPUT} "// Generated from ${INPUT}.\n#include <cstddef>\nextern \"C\" void ntsim_set_image_resources(const unsigned char* data, std::size_t size);\nnamespace {\nconst unsigned char data[] = {\n${bytes}0x00 };\nstruct Registrar { Registrar() { ntsim_set_image_resources(data, ${size}); } } registrar;\n}\n")
endif()
