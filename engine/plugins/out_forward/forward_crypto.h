// The little cryptography the protocol needs, from OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwd {

// Lower-case hexadecimal SHA-512 of the concatenated parts.
std::string sha512_hex(std::initializer_list<std::string_view> parts);

// `n` bytes from the cryptographic generator. False when it has no entropy.
bool random_bytes(uint8_t *out, size_t n);

// Standard base64 with padding.
std::string base64(const uint8_t *data, size_t n);

// Lower-case hexadecimal of the bytes.
std::string hex(const uint8_t *data, size_t n);

}  // namespace fwd
