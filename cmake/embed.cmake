# Turns a file into a C++ source defining `extern const char NAME[]` (the
# file's bytes, NUL-terminated) and `extern const unsigned long NAME_size`.
# Run as: cmake -DIN=file -DOUT=file.cpp -DNAME=symbol -P embed.cmake
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp"
  "// Made at build time from ${IN}: do not edit.\n"
  "extern const char ${NAME}[];\nextern const unsigned long ${NAME}_size;\n"
  "const char ${NAME}[] = {\n${bytes}0x00};\n"
  "const unsigned long ${NAME}_size = ${size};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
