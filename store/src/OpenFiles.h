// What an open-file slot holds for a record file and for a common file.
#pragma once

#include <string>
#include <vector>

#include "common/FileReader.h"
#include "store/src/RecordReader.h"
#include "store/src/StoreState.h"

namespace rkstore {

// Opening a block: under the mount's lock, the mount must still be
// the one of the slot's snapshot and the block's head in the head set must
// still be the copy taken at open, apart from what the file's own writer may
// change (taken over into `copy`). `path` gets the block's container file.
enum class BlockCheck { kOk, kMountChanged, kCovered };
BlockCheck CheckBlockAgainstMount(const FileSlot& slot, uint32_t blkId, rkfs::StDataBlockHead_t& copy,
                                  std::string* path, const char* fn);

class CMountedRecord : public IBlockAccess {
public:
    explicit CMountedRecord(const FileSlot& slot);
    CRecordReader reader;
    std::vector<uint32_t> blkIds;  // pDataBlkIds

    bool ReadBlock(uint32_t b, uint64_t fileOffset, void* dst, size_t n) override;
    bool ReadNeck(uint32_t b, rkfs::StRecDataNeck_t& neck) override;
    // GetFileEncode: the first block's record, the sound of the first later
    // block that sets hasAudioEnc.
    int Encode(StRecEncode_t* encode, StAudioProp_t* audioProp);

private:
    bool OpenBlock(uint32_t b);
    const FileSlot& m_slot;
    int64_t m_curB = -1;
    velmor::CFileReader m_fc;  // fcFD: the container file of the current block
    int64_t m_fcFile = -1;
    velmor::CFileReader m_fc2;  // fcFD2: necks
    int64_t m_fc2File = -1;
};

class CCommonFile {
public:
    explicit CCommonFile(const FileSlot& slot) : m_slot(slot) {}
    StCmFileInfo_t info{};
    std::vector<uint32_t> blkIds;
    std::vector<rkfs::StDataBlockHead_t> heads;
    std::vector<uint64_t> dataStart;  // content offset of each block's first data byte
    uint64_t dataSize = 0;
    uint64_t pos = 0;    // curOffset, in content bytes
    uint32_t curB = 0;
    std::vector<uint8_t> buffer;  // 8192-byte data area, then the current head and neck
    size_t bufSize = 0;

    void Layout();
    // Copies up to n bytes from the position on: bytes, or -1.
    int64_t Read(uint8_t* dst, size_t n, const char* fn);

private:
    bool OpenBlock(uint32_t b, const char* fn);
    const FileSlot& m_slot;
    int64_t m_curB = -1;
    velmor::CFileReader m_fc;
    int64_t m_fcFile = -1;
};

}  // namespace rkstore
