#include "player/export/ReportSigning.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace velmor {
namespace {

// The first error OpenSSL queued for this thread, in words; the queue is
// emptied so that the next call starts clean.
std::string OpenSslError(const std::string& what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return what;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return what + ": " + text;
}

void SetError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// A key file is never encrypted; without this OpenSSL would ask for a
// pass phrase on the terminal.
int NoPassPhrase(char*, int, int, void*) { return -1; }

std::string BioText(BIO* bio)
{
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 && data ? std::string(data, size_t(n)) : std::string();
}

std::optional<Ed25519PublicKey> RawPublicKey(EVP_PKEY* key)
{
    if (!key || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) return std::nullopt;
    Ed25519PublicKey raw{};
    size_t n = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &n) != 1 || n != raw.size()) return std::nullopt;
    return raw;
}

PkeyPtr PkeyOfPublic(const Ed25519PublicKey& key)
{
    return PkeyPtr(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
}

// Opens a file for reading only; O_NONBLOCK keeps a pipe from holding the
// open up, and access times are left alone where the system lets us.
int OpenReadOnly(const std::filesystem::path& file)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd;
}

// A key file is a few hundred bytes; anything much larger is not one.
constexpr size_t kMaxKeyFileBytes = 64 * 1024;

bool ReadSmallFile(const std::filesystem::path& file, std::string& out, std::string* error)
{
    return ReadBoundedFile(file, kMaxKeyFileBytes, out, error, "not a key file");
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += size_t(w);
    }
    return true;
}

}  // namespace

std::string HexOf(const uint8_t* bytes, size_t n)
{
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    hex.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 15];
    }
    return hex;
}

bool ParseHex(std::string_view hex, uint8_t* out, size_t n)
{
    if (hex.size() != n * 2) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < n; ++i) {
        const int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

bool ReadBoundedFile(const std::filesystem::path& file, size_t limit, std::string& out, std::string* error,
                     const char* tooLarge)
{
    const int fd = OpenReadOnly(file);
    if (fd < 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetError(error, "not a regular file");
        return false;
    }
    bool ok = uint64_t(st.st_size) <= limit;
    out.clear();
    std::vector<char> buffer(64 * 1024);
    while (ok) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            SetError(error, std::strerror(e));
            return false;
        }
        if (n == 0) break;
        out.append(buffer.data(), size_t(n));
        ok = out.size() <= limit;  // the file grew while it was read
    }
    ::close(fd);
    if (!ok) SetError(error, tooLarge);
    return ok;
}

Sha256Digest Sha256Of(std::string_view bytes)
{
    Sha256Digest digest{};
    unsigned int n = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &n, EVP_sha256(), nullptr);
    return digest;
}

std::optional<Sha256Digest> FileSha256Digest(const std::filesystem::path& file, std::string* error,
                                             const std::function<bool()>& stop)
{
    const int fd = OpenReadOnly(file);
    if (fd < 0) {
        SetError(error, std::strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetError(error, "not a regular file");
        return std::nullopt;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
        ::close(fd);
        SetError(error, OpenSslError("SHA-256"));
        return std::nullopt;
    }
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        if (stop && stop()) {
            ::close(fd);
            SetError(error, "");
            return std::nullopt;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            SetError(error, std::strerror(e));
            return std::nullopt;
        }
        if (n == 0) break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), size_t(n));
    }
    ::close(fd);
    Sha256Digest digest{};
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &len) != 1 || len != digest.size()) {
        SetError(error, OpenSslError("SHA-256"));
        return std::nullopt;
    }
    return digest;
}

std::string KeyFingerprint(const Ed25519PublicKey& key)
{
    return HexOf(Sha256Of(std::string_view(reinterpret_cast<const char*>(key.data()), key.size())));
}

bool VerifyEd25519(const Ed25519PublicKey& key, std::string_view message, const Ed25519Signature& signature)
{
    PkeyPtr pkey = PkeyOfPublic(key);
    MdCtxPtr ctx(EVP_MD_CTX_new());
    bool ok = pkey && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
              EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                               reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
    ERR_clear_error();
    return ok;
}

std::string PublicKeyPem(const Ed25519PublicKey& key)
{
    PkeyPtr pkey = PkeyOfPublic(key);
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!pkey || !bio || PEM_write_bio_PUBKEY(bio.get(), pkey.get()) != 1) {
        ERR_clear_error();
        return {};
    }
    return BioText(bio.get());
}

std::optional<Ed25519PublicKey> ParsePublicKeyPem(std::string_view pem)
{
    if (pem.size() > kMaxKeyFileBytes) return std::nullopt;
    BioPtr bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    PkeyPtr pkey(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, NoPassPhrase, nullptr) : nullptr);
    ERR_clear_error();
    return RawPublicKey(pkey.get());
}

struct CSigningKey::Key {
    PkeyPtr pkey;
};

CSigningKey::CSigningKey() = default;
CSigningKey::~CSigningKey() = default;
CSigningKey::CSigningKey(CSigningKey&&) noexcept = default;
CSigningKey& CSigningKey::operator=(CSigningKey&&) noexcept = default;

bool CSigningKey::LoadOrCreate(const std::filesystem::path& file, std::string* error)
{
    m_key.reset();
    auto load = [&]() -> bool {
        std::string text;
        if (!ReadSmallFile(file, text, error)) return false;
        BioPtr bio(BIO_new_mem_buf(text.data(), int(text.size())));
        PkeyPtr pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassPhrase, nullptr) : nullptr);
        ERR_clear_error();
        const auto raw = RawPublicKey(pkey.get());
        if (!raw) {
            SetError(error, "holds no Ed25519 private key");
            return false;
        }
        m_key = std::make_unique<Key>();
        m_key->pkey = std::move(pkey);
        m_public = *raw;
        return true;
    };

    std::error_code ec;
    if (std::filesystem::symlink_status(file, ec).type() != std::filesystem::file_type::not_found) return load();

    // The folder holds nothing but keys: only its owner may look inside.
    const auto folder = file.parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        if (!std::filesystem::create_directories(folder, ec) && ec) {
            SetError(error, folder.string() + ": " + ec.message());
            return false;
        }
        ::chmod(folder.c_str(), 0700);
    }

    PkeyPtr pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!pkey || !bio ||
        PEM_write_bio_PrivateKey(bio.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        SetError(error, OpenSslError("a signing key cannot be made"));
        return false;
    }
    const std::string pem = BioText(bio.get());

    // Written whole under a name of its own, then linked to the key's name:
    // a reader never sees half a key, and a key already there is kept.
    std::string temp = file.string() + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    bool linked = false;
    if (fd >= 0) {
        bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, pem) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (ok && ::link(temp.c_str(), file.c_str()) == 0) linked = true;
        const int linkError = errno;
        ::unlink(temp.c_str());
        if (!ok) {
            SetError(error, "the key could not be written");
            return false;
        }
        if (!linked && linkError == EEXIST) return load();
        // File systems without links (a portable copy on a FAT stick) take
        // the key by an exclusive create instead.
        if (!linked && linkError != EPERM && linkError != ENOTSUP && linkError != EOPNOTSUPP) {
            SetError(error, std::strerror(linkError));
            return false;
        }
    }
    if (!linked) {
        fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) return load();
            SetError(error, std::strerror(errno));
            return false;
        }
        bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, pem) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (!ok) {
            ::unlink(file.c_str());
            SetError(error, "the key could not be written");
            return false;
        }
    }
    const auto raw = RawPublicKey(pkey.get());
    if (!raw) {
        SetError(error, OpenSslError("a signing key cannot be made"));
        return false;
    }
    m_key = std::make_unique<Key>();
    m_key->pkey = std::move(pkey);
    m_public = *raw;
    return true;
}

std::optional<Ed25519Signature> CSigningKey::Sign(std::string_view message, std::string* error) const
{
    if (!m_key) {
        SetError(error, "no signing key");
        return std::nullopt;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    Ed25519Signature signature{};
    size_t n = signature.size();
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key->pkey.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &n, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        n != signature.size()) {
        SetError(error, OpenSslError("the report cannot be signed"));
        return std::nullopt;
    }
    return signature;
}

}  // namespace velmor
