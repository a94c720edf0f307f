#include "common/FileReader.h"
#include "common/ReadOnlyOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace velmor {

CFileReader::~CFileReader() { Close(); }

CFileReader::CFileReader(CFileReader&& other) noexcept { *this = std::move(other); }

CFileReader& CFileReader::operator=(CFileReader&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_pos = other.m_pos;
        m_buf = std::move(other.m_buf);
        m_bufOffset = other.m_bufOffset;
        m_bufLen = std::exchange(other.m_bufLen, 0);
    }
    return *this;
}

bool CFileReader::Open(const std::filesystem::path& path, int* error)
{
    Close();
    int fd = OpenReadOnly(path);
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) *error = EISDIR;
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_fd = fd;
    m_pos = 0;
    m_bufLen = 0;
    m_buf.resize(kBufferSize);
    return true;
}

void CFileReader::Close()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_bufLen = 0;
}

int64_t CFileReader::Size() const
{
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return -1;
    return st.st_size;
}

size_t CFileReader::ReadAt(uint64_t offset, void* dst, size_t n) const
{
    if (m_fd < 0) return 0;
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(dst);
    while (done < n) {
        ssize_t r = ::pread(m_fd, out + done, n - done, off_t(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += size_t(r);
    }
    return done;
}

size_t CFileReader::Read(void* dst, size_t n)
{
    if (m_fd < 0 || n == 0) return 0;
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    // Whatever of the request the buffer already holds.
    if (m_bufLen > 0 && m_pos >= m_bufOffset && m_pos < m_bufOffset + m_bufLen) {
        size_t at = size_t(m_pos - m_bufOffset);
        size_t take = std::min(n, m_bufLen - at);
        std::memcpy(out, m_buf.data() + at, take);
        done = take;
        m_pos += take;
    }
    if (done < n) done += FillAndCopy(out + done, n - done);
    return done;
}

size_t CFileReader::FillAndCopy(uint8_t* dst, size_t n)
{
    if (n >= kDirectRead) {
        size_t r = ReadAt(m_pos, dst, n);
        m_pos += r;
        return r;
    }
    m_bufOffset = m_pos;
    m_bufLen = ReadAt(m_pos, m_buf.data(), kBufferSize);
    size_t take = std::min(n, m_bufLen);
    std::memcpy(dst, m_buf.data(), take);
    m_pos += take;
    return take;
}

}  // namespace velmor
