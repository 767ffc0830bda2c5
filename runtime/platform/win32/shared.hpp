// What the Windows twins share: UTF-8 text as the wide strings the
// system's W functions take, and the CryptoAPI provider.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "runtime/unicode.hpp"

namespace kel::win32 {

inline std::wstring wide(const std::string& utf8) {
    std::u16string w = unicode::utf8_to_utf16(utf8);
    return std::wstring(w.begin(), w.end());
}

// The provider the digests and secure random bytes use, acquired on first
// use (platform start asks for it early); 0 when it cannot be had.
HCRYPTPROV crypto_provider();

}  // namespace kel::win32
