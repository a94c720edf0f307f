// Hashes and signatures of export reports: SHA-256 of bytes and of files,
// and the Ed25519 key pair of a profile that signs the reports made with it.
// All through OpenSSL, so that one well-kept library does both. Failures
// come back as text to the caller; nothing here prints.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmor {

using Sha256Digest = std::array<uint8_t, 32>;
using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Signature = std::array<uint8_t, 64>;

// Lowercase hex of `n` bytes, and back (nothing when `hex` is not exactly
// 2 * N hex digits, either case).
std::string HexOf(const uint8_t* bytes, size_t n);
template <size_t N>
std::string HexOf(const std::array<uint8_t, N>& bytes)
{
    return HexOf(bytes.data(), N);
}
bool ParseHex(std::string_view hex, uint8_t* out, size_t n);

Sha256Digest Sha256Of(std::string_view bytes);

// SHA-256 of a regular file's bytes, read through a read-only descriptor
// (recorder media included). Nothing, with `error` set, when the file cannot
// be read whole or is no regular file (a device or a pipe would never end).
// `stop` is asked between blocks; a stop gives nothing with an empty error.
std::optional<Sha256Digest> FileSha256Digest(const std::filesystem::path& file, std::string* error = nullptr,
                                             const std::function<bool()>& stop = {});

// A small regular file's whole text, read only (no pipe or device, which
// might never end); refused with `tooLarge` as the error past `limit` bytes.
bool ReadBoundedFile(const std::filesystem::path& file, size_t limit, std::string& out, std::string* error,
                     const char* tooLarge);

// The fingerprint a report names its key by: hex SHA-256 of the 32 raw bytes.
std::string KeyFingerprint(const Ed25519PublicKey& key);

// Whether `signature` is the Ed25519 signature of `message` by `key`.
bool VerifyEd25519(const Ed25519PublicKey& key, std::string_view message, const Ed25519Signature& signature);

// The public key as a PEM "PUBLIC KEY" block (SubjectPublicKeyInfo), the
// form other tools read; and back (nothing when the text holds no Ed25519
// public key).
std::string PublicKeyPem(const Ed25519PublicKey& key);
std::optional<Ed25519PublicKey> ParsePublicKeyPem(std::string_view pem);

// A profile's signing key. The private key is kept as a PEM "PRIVATE KEY"
// block (PKCS #8) in a file of mode 0600 inside a folder of mode 0700.
class CSigningKey {
public:
    CSigningKey();
    ~CSigningKey();
    CSigningKey(CSigningKey&&) noexcept;
    CSigningKey& operator=(CSigningKey&&) noexcept;
    CSigningKey(const CSigningKey&) = delete;
    CSigningKey& operator=(const CSigningKey&) = delete;

    // Reads the key at `file`, or makes a new pair there when no file is
    // there. Two processes making the first key at once end with the same
    // key: the file appears whole or not at all, and the loser reads the
    // winner's. False, with `error` (the reason; the caller knows the path),
    // when the file holds no Ed25519 private key or cannot be read or made;
    // the file is then left as it was.
    bool LoadOrCreate(const std::filesystem::path& file, std::string* error);
    bool Loaded() const { return m_key != nullptr; }

    const Ed25519PublicKey& PublicKey() const { return m_public; }
    std::string Fingerprint() const { return KeyFingerprint(m_public); }
    // Nothing when no key is loaded or the signing fails.
    std::optional<Ed25519Signature> Sign(std::string_view message, std::string* error = nullptr) const;

private:
    struct Key;
    std::unique_ptr<Key> m_key;
    Ed25519PublicKey m_public{};
};

}  // namespace velmor
