// The digests for the Windows build: a CryptoAPI hash object of the
// algorithm on the provider acquired at platform start, fed part by part.
// Every call is checked: a failure answers false, never a stale buffer.
#include <windows.h>
#include <wincrypt.h>

#include "runtime/platform/crypto.hpp"
#include "runtime/platform/win32/shared.hpp"

namespace kel {
namespace win32 {
namespace {
HCRYPTPROV provider = 0;
}  // namespace

HCRYPTPROV crypto_provider() {
    if (!provider)
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    return provider;
}
}  // namespace win32

namespace crypto {

bool digest(Algorithm a, std::initializer_list<Bytes> parts, uint8_t* out) {
    static constexpr ALG_ID ids[] = {CALG_MD5, CALG_SHA1, CALG_SHA_256, CALG_SHA_384, CALG_SHA_512};
    HCRYPTPROV provider = win32::crypto_provider();
    if (!provider) return false;
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, ids[size_t(a)], 0, 0, &hash)) return false;
    bool ok = true;
    for (const Bytes& part : parts) {
        const BYTE* p = part.data;
        size_t n = part.size;
        while (ok && n) {
            DWORD chunk = n > 0x40000000 ? 0x40000000 : DWORD(n);
            ok = CryptHashData(hash, p, chunk, 0);
            p += chunk;
            n -= chunk;
        }
    }
    DWORD size = DWORD(digest_size(a));
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == digest_size(a);
    CryptDestroyHash(hash);
    return ok;
}

}  // namespace crypto
}  // namespace kel

namespace kel::os {

bool secure_random(void* buffer, size_t n) {
    HCRYPTPROV provider = win32::crypto_provider();
    if (!provider) return false;
    auto* p = static_cast<BYTE*>(buffer);
    while (n) {
        DWORD chunk = n > 0x10000000 ? 0x10000000 : DWORD(n);
        if (!CryptGenRandom(provider, chunk, p)) return false;
        p += chunk;
        n -= chunk;
    }
    return true;
}

}  // namespace kel::os
