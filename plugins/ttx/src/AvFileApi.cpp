// The plugin's exports over the grec reader: handle slots, result codes, the
// last error text and the log callback.
#include <cstdarg>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "common/LibraryLog.h"
#include "plugins/ttx/include/avfile_ttx.h"
#include "plugins/ttx/src/GrecReader.h"

using velmor::LogLibrary;
using velmor::ttx::CGrecReader;

namespace {

std::mutex g_usersLock;
int g_users = 0;

// libavformat's own lines about a file go where the plugin's lines go, not
// to standard error: while a thread is inside a plugin call, what FFmpeg logs
// on that thread is the plugin's (debug level); everything else keeps
// FFmpeg's default handling.
thread_local bool t_inCall = false;

void FfmpegLine(void* avcl, int level, const char* fmt, va_list args)
{
    if (!t_inCall) {
        av_log_default_callback(avcl, level, fmt, args);
        return;
    }
    if (level > AV_LOG_WARNING) return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &prefix);
    velmor::LogText(LogLibrary::Ttx, velmor::kLogDebug, line);
}

class CCallScope {
public:
    CCallScope()
    {
        static std::once_flag installed;
        std::call_once(installed, [] { av_log_set_callback(FfmpegLine); });
        m_outer = t_inCall;
        t_inCall = true;
    }
    ~CCallScope() { t_inCall = m_outer; }
    CCallScope(const CCallScope&) = delete;
    CCallScope& operator=(const CCallScope&) = delete;

private:
    bool m_outer;
};

int Failed(int code, const std::string& text)
{
    velmor::LogFormat(LogLibrary::Ttx, velmor::kLogFailure, "%s\n", text.c_str());
    return code;
}

CGrecReader* Reader(AVFILE_HANDLE* slot) { return slot ? static_cast<CGrecReader*>(*slot) : nullptr; }

template <typename F>
int Call(AVFILE_HANDLE* slot, F&& body)
{
    CCallScope scope;
    velmor::ClearLastError(LogLibrary::Ttx);
    return velmor::Guarded(LogLibrary::Ttx, AVFILE_ERR_MEMORY, [&]() -> int {
        CGrecReader* reader = Reader(slot);
        if (!reader) return Failed(AVFILE_ERR_ARGUMENT, "no open file in this handle slot");
        return body(*reader);
    });
}

}  // namespace

extern "C" AVFILE_API int AVFILE_Initialize(void)
{
    std::lock_guard lock(g_usersLock);
    return ++g_users;
}

extern "C" AVFILE_API int AVFILE_UnInitialize(void)
{
    std::lock_guard lock(g_usersLock);
    if (g_users > 0 && --g_users == 0) velmor::SetLogCallback(LogLibrary::Ttx, nullptr, nullptr);
    return g_users;
}

extern "C" AVFILE_API int AVFILE_FEOpenFile(AVFILE_HANDLE* slot, const char* path)
{
    CCallScope scope;
    velmor::ClearLastError(LogLibrary::Ttx);
    return velmor::Guarded(LogLibrary::Ttx, AVFILE_ERR_MEMORY, [&]() -> int {
        if (!slot || !path || !*path) return Failed(AVFILE_ERR_ARGUMENT, "no handle slot or no path");
        if (*slot) return Failed(AVFILE_ERR_ARGUMENT, "the handle slot already holds an open file");
        std::string error;
        auto source = velmor::ttx::OpenFileSource(path, error);
        if (!source) return Failed(AVFILE_ERR_OPEN, error);
        int code = AVFILE_OK;
        auto reader = CGrecReader::Open(std::move(source), code, error);
        if (!reader) return Failed(code, std::string(path) + ": " + error);
        *slot = reader.release();
        return AVFILE_OK;
    });
}

extern "C" AVFILE_API int AVFILE_FECloseFile(AVFILE_HANDLE* slot)
{
    return Call(slot, [&](CGrecReader& reader) {
        delete &reader;
        *slot = nullptr;
        return AVFILE_OK;
    });
}

extern "C" AVFILE_API int AVFILE_FEGetFileInfo(AVFILE_HANDLE* slot, AVFILE_FILE_INFO* info)
{
    return Call(slot, [&](CGrecReader& reader) {
        if (!info) return Failed(AVFILE_ERR_ARGUMENT, "no information record");
        *info = reader.Info();
        return AVFILE_OK;
    });
}

extern "C" AVFILE_API int AVFILE_FESeekBegin(AVFILE_HANDLE* slot)
{
    return Call(slot, [&](CGrecReader& reader) {
        const int rc = reader.SeekBegin();
        return rc == AVFILE_OK ? rc : Failed(rc, reader.Error());
    });
}

extern "C" AVFILE_API int AVFILE_FEGetWaveFormat(AVFILE_HANDLE* slot, AVFILE_WAVE_FORMAT* wave)
{
    return Call(slot, [&](CGrecReader& reader) {
        if (!wave) return Failed(AVFILE_ERR_ARGUMENT, "no wave format record");
        *wave = reader.Wave();
        return AVFILE_OK;
    });
}

extern "C" AVFILE_API int AVFILE_FEGetTerminalInfo(AVFILE_HANDLE* slot, AVFILE_TERMINAL_INFO* info)
{
    return Call(slot, [&](CGrecReader& reader) {
        if (!info) return Failed(AVFILE_ERR_ARGUMENT, "no terminal record");
        *info = reader.Terminal();
        return AVFILE_OK;
    });
}

extern "C" AVFILE_API int AVFILE_FESeekIFrame(AVFILE_HANDLE* slot, uint64_t timeUs)
{
    return Call(slot, [&](CGrecReader& reader) {
        const int rc = reader.SeekIFrame(timeUs);
        return rc == AVFILE_OK ? rc : Failed(rc, reader.Error());
    });
}

extern "C" AVFILE_API int AVFILE_FEReadFrame(AVFILE_HANDLE* slot, uint8_t* buffer, uint32_t capacity,
                                             AVFILE_FRAME* frame)
{
    return Call(slot, [&](CGrecReader& reader) {
        if (!buffer || !frame) return Failed(AVFILE_ERR_ARGUMENT, "no buffer or no frame record");
        velmor::ttx::GrecFrame f;
        const int rc = reader.Next(f);
        if (rc < 0) return Failed(rc, reader.Error());
        if (rc == 0) return 0;
        frame->type = f.type;
        frame->key = f.key ? 1 : 0;
        frame->timeUs = f.timeUs;
        frame->length = uint32_t(f.data.size());
        if (f.data.size() > capacity) {
            const size_t need = f.data.size();
            reader.PutBack(std::move(f));
            return Failed(AVFILE_ERR_BUFFER, "the frame needs " + std::to_string(need) + " bytes, the buffer holds " +
                                                 std::to_string(capacity));
        }
        std::memcpy(buffer, f.data.data(), f.data.size());
        return int(f.data.size());
    });
}

extern "C" AVFILE_API void AVFILE_SetLogCallback(RK_LOG_CALLBACK callback, void* user)
{
    velmor::SetLogCallback(LogLibrary::Ttx, callback, user);
}

extern "C" AVFILE_API const char* AVFILE_GetLastErrorText(void) { return velmor::LastErrorText(LogLibrary::Ttx); }
