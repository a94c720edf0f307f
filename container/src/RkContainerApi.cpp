// The exported functions: argument checks, the handle slot, and a guard that
// keeps every C++ exception inside the library.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "common/LibraryLog.h"
#include "container/include/rkcontainer.h"
#include "container/src/MultibyteRpoFile.h"
#include "container/src/SingleRpoFile.h"

using rkcontainer::CSingleRpoFile;

static_assert(sizeof(RKCONTAINER_ENCODE) == sizeof(rkfs::StEncodeRecord_t));
static_assert(sizeof(RKCONTAINER_FRAME_HEAD) == sizeof(rkfs::StFrameHead_t));
static_assert(sizeof(RKCONTAINER_SEARCH_ENTRY) == 52);
static_assert(offsetof(RKCONTAINER_SEARCH_ENTRY, drive) == 4 && offsetof(RKCONTAINER_SEARCH_ENTRY, channel) == 7);
static_assert(offsetof(RKCONTAINER_SEARCH_ENTRY, size) == 14 && offsetof(RKCONTAINER_SEARCH_ENTRY, beginTime) == 22);
static_assert(offsetof(RKCONTAINER_SEARCH_ENTRY, fileNo) == 32 && offsetof(RKCONTAINER_SEARCH_ENTRY, carNumber) == 36);

namespace {

using velmor::Guarded;
constexpr auto kLibrary = velmor::LogLibrary::Container;

CSingleRpoFile* FromSlot(RKCONTAINER_HANDLE* slot) { return slot ? static_cast<CSingleRpoFile*>(*slot) : nullptr; }

rkfs::StEncodeRecord_t FromPublic(const RKCONTAINER_ENCODE* in)
{
    auto out = rkfs::ZeroStruct<rkfs::StEncodeRecord_t>();
    if (in) out = {in->reso, in->videoStandard, in->vEnc, in->aEnc, in->frameRate};
    return out;
}

void ToPublic(const rkfs::StEncodeRecord_t& in, RKCONTAINER_ENCODE* out)
{
    if (!out) return;
    out->reso = in.reso;
    out->videoStandard = in.videoStandard;
    out->vEnc = in.vEnc;
    out->aEnc = in.aEnc;
    out->frameRate = in.frameRate;
}

}  // namespace

extern "C" {

RKCONTAINER_API int RKCONTAINER_OpenFile(RKCONTAINER_HANDLE* slot, const char* path)
{
    return Guarded(kLibrary, -1, [&] {
        if (!slot || !path) return -1;
        auto* reader = new (std::nothrow) CSingleRpoFile();
        if (!reader) return -1;
        if (reader->SingleFileOpen(path) != 0) {
            delete reader;
            return -1;
        }
        *slot = reader;
        return 0;
    });
}

RKCONTAINER_API int RKCONTAINER_CloseFile(RKCONTAINER_HANDLE* slot)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        delete reader;
        *slot = nullptr;
        return 0;
    });
}

RKCONTAINER_API int RKCONTAINER_GetSomeChnFileInfo(RKCONTAINER_HANDLE* slot, uint32_t chnMask, uint32_t* beginTime,
                                                   uint32_t* endTime, uint32_t* foundMask, char* carNumber)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        return reader->SingleFileGetFileInfo(chnMask & 0xFFFF, beginTime, endTime, foundMask, carNumber);
    });
}

RKCONTAINER_API int RKCONTAINER_GetOneChnFileInfo(RKCONTAINER_HANDLE* slot, int channel, uint32_t* beginTime,
                                                  uint32_t* endTime, RKCONTAINER_ENCODE* encode)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        auto enc = FromPublic(encode);
        int rc = reader->GetOneChannelFileInfo(channel, beginTime, endTime, &enc);
        ToPublic(enc, encode);
        return rc;
    });
}

RKCONTAINER_API int RKCONTAINER_SetStream(RKCONTAINER_HANDLE* slot, int stream)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        return reader->SetStream(stream);
    });
}

RKCONTAINER_API int RKCONTAINER_GetChnStreams(RKCONTAINER_HANDLE* slot, int channel, uint32_t* streams)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        return reader->GetChannelStreams(channel, streams);
    });
}

RKCONTAINER_API int RKCONTAINER_GetChnSpans(RKCONTAINER_HANDLE* slot, int channel, RKCONTAINER_SPAN* spans,
                                            int capacity)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        if (!spans || capacity < 1) return -1;
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        if (int rc = reader->GetChannelSpans(channel, &runs); rc != 0) return rc;
        const int n = int(std::min(runs.size(), size_t(capacity)));
        for (int i = 0; i < n; ++i) spans[i] = RKCONTAINER_SPAN{runs[size_t(i)].first, runs[size_t(i)].second};
        return n;
    });
}

RKCONTAINER_API int RKCONTAINER_SeekIFrame(RKCONTAINER_HANDLE* slot, uint32_t seekTime, RKCONTAINER_ENCODE* encode)
{
    return Guarded(kLibrary, -3, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        // Copied in and out, so the caller's record changes exactly when the
        // reader hands one out.
        auto enc = FromPublic(encode);
        int rc = reader->SingleFileSeekIFrame(seekTime, &enc);
        ToPublic(enc, encode);
        return rc;
    });
}

RKCONTAINER_API int RKCONTAINER_ReadOneFrame(RKCONTAINER_HANDLE* slot, uint8_t* buffer, RKCONTAINER_FRAME_HEAD* head,
                                             RKCONTAINER_ENCODE* encode)
{
    return Guarded(kLibrary, -2, [&] {
        CSingleRpoFile* reader = FromSlot(slot);
        if (!reader) return -2;
        auto fh = head ? rkfs::FrameHeadFromPublic(*head) : rkfs::ZeroStruct<rkfs::StFrameHead_t>();
        auto enc = FromPublic(encode);
        int rc = reader->SingleFileReadOneFrame(buffer, &fh, &enc);
        if (head) *head = rkfs::FrameHeadToPublic(fh);
        ToPublic(enc, encode);
        return rc;
    });
}

RKCONTAINER_API int RKCONTAINER_SearchFileListOnDevices(const char* const* diskPaths, const char* const* devices,
                                                        int pathCount, const RKCONTAINER_FILTER* filter,
                                                        RKCONTAINER_SEARCH_ENTRY* entries, int capacity)
{
    return Guarded(kLibrary, 0, [&] {
        if (!diskPaths || pathCount <= 0 || !filter || !entries || capacity <= 0) return 0;
        std::vector<std::string> paths, devs;
        for (int i = 0; i < pathCount; ++i) {
            paths.emplace_back(diskPaths[i] ? diskPaths[i] : "");
            devs.emplace_back(devices && devices[i] ? devices[i] : "");
        }
        rkcontainer::CMultibyteRpoFile reader;
        return reader.SeacrhFile(paths, devs, filter->chnMask & 0xFFFF, entries, capacity);
    });
}

RKCONTAINER_API int RKCONTAINER_SearchFileList(const char* const* diskPaths, int pathCount,
                                               const RKCONTAINER_FILTER* filter, RKCONTAINER_SEARCH_ENTRY* entries,
                                               int capacity)
{
    return RKCONTAINER_SearchFileListOnDevices(diskPaths, nullptr, pathCount, filter, entries, capacity);
}

RKCONTAINER_API int RKCONTAINER_GetBlockIdByFileName(const char* path, int* fileNo)
{
    return Guarded(kLibrary, -1, [&] { return CSingleRpoFile::GetBlockIdByFileName(path, fileNo); });
}

RKCONTAINER_API int RKCONTAINER_ConvResolution(RKCONTAINER_HANDLE* /*slot*/, int reso, int* width, int* height,
                                               int videoStandard)
{
    if (reso < 0 || reso >= 10) {
        velmor::LogFormat(velmor::LogLibrary::Container, velmor::kLogFailure, "%s:%d res = %d isn't supported now\n",
                          __func__, __LINE__, reso);
        return -1;
    }
    uint32_t w = 0, h = 0;
    rkfs::ResolutionSize(uint32_t(reso), uint32_t(videoStandard), &w, &h);
    if (width) *width = int(w);
    if (height) *height = int(h);
    return 0;
}

}  // extern "C"
