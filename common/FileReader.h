// A read-only file with a read-ahead buffer. Recorder media are opened only
// through this class (or others like it that never ask for write access), so
// no source can be changed by accident.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace velmor {

class CFileReader {
public:
    CFileReader() = default;
    ~CFileReader();
    CFileReader(const CFileReader&) = delete;
    CFileReader& operator=(const CFileReader&) = delete;
    CFileReader(CFileReader&& other) noexcept;
    CFileReader& operator=(CFileReader&& other) noexcept;

    // Opens for reading only. On failure returns false and leaves errno's
    // value in *error when given.
    bool Open(const std::filesystem::path& path, int* error = nullptr);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Size of the file now, or -1.
    int64_t Size() const;

    // Moves the position; positions beyond the end are allowed (reads there
    // return 0 bytes), as with fseek.
    void Seek(uint64_t offset) { m_pos = offset; }
    uint64_t Tell() const { return m_pos; }

    // Reads up to n bytes at the position and advances by what was read.
    // Returns fewer than n only at the end of the file or on an error.
    size_t Read(void* dst, size_t n);

    // Reads at an explicit offset without moving the position.
    size_t ReadAt(uint64_t offset, void* dst, size_t n) const;

private:
    size_t FillAndCopy(uint8_t* dst, size_t n);

    // Small reads (frame heads, short frames) come from the buffer; a read
    // that the buffer cannot finish and that is at least kDirectRead long goes
    // straight into the caller's memory, so large payloads are copied once.
    static constexpr size_t kBufferSize = 4 * 1024;
    static constexpr size_t kDirectRead = 2 * 1024;
    int m_fd = -1;
    uint64_t m_pos = 0;
    std::vector<uint8_t> m_buf;
    uint64_t m_bufOffset = 0;  // file offset of m_buf[0]
    size_t m_bufLen = 0;
};

}  // namespace velmor
