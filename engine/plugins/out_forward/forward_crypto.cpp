#include "engine/plugins/out_forward/forward_crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace fwd {

std::string hex(const uint8_t *data, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    return out;
}

std::string sha512_hex(std::initializer_list<std::string_view> parts) {
    uint8_t digest[SHA512_DIGEST_LENGTH];
    unsigned int len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha512(), nullptr) == 1;
    for (std::string_view p : parts)
        ok = ok && EVP_DigestUpdate(ctx, p.data(), p.size()) == 1;
    ok = ok && EVP_DigestFinal_ex(ctx, digest, &len) == 1;
    EVP_MD_CTX_free(ctx);
    // A digest that could not be computed matches nothing the receiver sends.
    return ok ? hex(digest, len) : std::string();
}

bool random_bytes(uint8_t *out, size_t n) { return RAND_bytes(out, static_cast<int>(n)) == 1; }

std::string base64(const uint8_t *data, size_t n) {
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    int len = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), data, static_cast<int>(n));
    out.resize(len > 0 ? static_cast<size_t>(len) : 0);
    return out;
}

}  // namespace fwd
