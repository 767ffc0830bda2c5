# Writes OUT, a C++ file holding the KELBIN boot image IMAGE as a byte array.
# Run by the build (cmake -P) whenever the image changes.
file(READ "${IMAGE}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
set(text "// Made by cmake/embed_boot.cmake from the boot image.\n#include <cstddef>\n\nnamespace kel::environment {\n\n")
string(APPEND text "extern const unsigned char boot_image[] = {\n${bytes}\n};\nextern const size_t boot_image_size = ${size};\n\n}  // namespace kel::environment\n")
file(WRITE "${OUT}.new" "${text}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
