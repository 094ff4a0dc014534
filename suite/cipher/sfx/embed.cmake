# Writes a C++ source holding a file's bytes:
#   cmake -DINPUT=FILE -DOUTPUT=SOURCE -DNAME=IDENTIFIER -P embed.cmake
# The bytes become string literals of "\xNN" escapes, 64 bytes a line, which
# the compiler reads far faster than a list of numbers.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
string(REGEX REPLACE "((\\\\x..){64})" "\\1\"\n\"" escaped "${escaped}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT} by embed.cmake; do not edit.\n#include <cstddef>\n\n"
     "namespace halvex::cipher::stubs {\n"
     "extern const unsigned char ${NAME}[];\nextern const std::size_t ${NAME}Size;\n"
     "alignas(16) const unsigned char ${NAME}[${size} + 1] =\n\"${escaped}\";\n"
     "const std::size_t ${NAME}Size = ${size};\n}\n")
