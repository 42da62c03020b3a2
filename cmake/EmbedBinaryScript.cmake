# Run with -DINPUT= -DOUTPUT= -DFUNCTION= ; writes a C++ file holding INPUT's bytes.
file(READ "${INPUT}" _hex HEX)
string(LENGTH "${_hex}" _len)
math(EXPR _size "${_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" _bytes "${_bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n#include <span>\n\n"
"namespace {\nalignas(16) const unsigned char kBytes[${_size} + 1] = {\n${_bytes}0};\n}\n\n"
"namespace zeza {\nstd::span<const unsigned char> ${FUNCTION}() { return {kBytes, ${_size}}; }\n}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
