// The independent decoder on Windows: the system's cabinet library (FDI).
// Its file callbacks read the cabinet through wide-character calls and send
// the decoded file to a counter; nothing is written to disk.
#include "tools/pack/Decoding.h"

#include "tools/pack/Files.h"

#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <memory>

namespace tirn::pack {

namespace {

// What FDI's integer file handle stands for: the cabinet or the output.
struct FdiStream {
    HANDLE file = INVALID_HANDLE_VALUE;
    DecodedFile* output = nullptr;
};

struct CopyState {
    DecodedFile output;
    int files = 0;
};

FdiStream* Stream(INT_PTR handle) {
    return reinterpret_cast<FdiStream*>(handle);
}

// No exception may cross the cabinet library's frames: each callback ends at
// its own edge with its failure value.
FNALLOC(Allocate) {
    return std::malloc(cb);
}
FNFREE(Free) {
    std::free(pv);
}
FNOPEN(Open) {
    try {
        if ((oflag & (_O_WRONLY | _O_RDWR | _O_CREAT)) != 0) return -1;  // reading only
        auto stream = std::make_unique<FdiStream>();
        stream->file = ::CreateFileW(WidePath(pszFile).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (stream->file == INVALID_HANDLE_VALUE) return -1;
        return reinterpret_cast<INT_PTR>(stream.release());
    } catch (...) {
        return -1;
    }
}
FNREAD(Read) {
    FdiStream* stream = Stream(hf);
    DWORD n = 0;
    if (stream->file == INVALID_HANDLE_VALUE || !::ReadFile(stream->file, pv, cb, &n, nullptr)) {
        return static_cast<UINT>(-1);
    }
    return n;
}
FNWRITE(Write) {
    FdiStream* stream = Stream(hf);
    if (stream->output == nullptr) return static_cast<UINT>(-1);
    try {
        DecodedFile& output = *stream->output;
        const size_t room = kDecodedHeadBytes - std::min(kDecodedHeadBytes, output.head.size());
        const auto* bytes = static_cast<const uint8_t*>(pv);
        output.head.insert(output.head.end(), bytes, bytes + std::min<size_t>(cb, room));
        output.size += cb;
        return cb;
    } catch (...) {
        return static_cast<UINT>(-1);
    }
}
FNCLOSE(Close) {
    FdiStream* stream = Stream(hf);
    if (stream->file != INVALID_HANDLE_VALUE) ::CloseHandle(stream->file);
    delete stream;
    return 0;
}
FNSEEK(Seek) {
    FdiStream* stream = Stream(hf);
    if (stream->file == INVALID_HANDLE_VALUE) return -1;
    const DWORD method = seektype == SEEK_SET   ? FILE_BEGIN
                         : seektype == SEEK_CUR ? FILE_CURRENT
                                                : FILE_END;
    const DWORD position = ::SetFilePointer(stream->file, dist, nullptr, method);
    return position == INVALID_SET_FILE_POINTER ? -1 : static_cast<long>(position);
}

FNFDINOTIFY(Notify) {
    auto* state = static_cast<CopyState*>(pfdin->pv);
    try {
        switch (fdint) {
            case fdintCOPY_FILE: {
                if (++state->files > 1) return -1;
                auto stream = std::make_unique<FdiStream>();
                stream->output = &state->output;
                return reinterpret_cast<INT_PTR>(stream.release());
            }
            case fdintCLOSE_FILE_INFO: Close(pfdin->hf); return TRUE;
            case fdintPARTIAL_FILE:
            case fdintNEXT_CABINET: return -1;
            default: return 0;
        }
    } catch (...) {
        return -1;
    }
}

// A system library, loaded from the system directory for the length of one
// use.
class SystemLibrary {
  public:
    explicit SystemLibrary(const wchar_t* name)
        : module(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
    ~SystemLibrary() {
        if (module != nullptr) ::FreeLibrary(module);
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;
    template <typename Function>
    Function Get(const char* name) const {
        if (module == nullptr) return nullptr;
        // GetProcAddress answers with a generic function pointer; the cast
        // through void (*)() says the real type is known.
        return reinterpret_cast<Function>(
            reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
    }

    HMODULE module;
};

const char* ErrorText(int code) {
    switch (code) {
        case FDIERROR_CABINET_NOT_FOUND: return "cabinet not found";
        case FDIERROR_NOT_A_CABINET: return "not a cabinet";
        case FDIERROR_UNKNOWN_CABINET_VERSION: return "unknown cabinet version";
        case FDIERROR_CORRUPT_CABINET: return "corrupt cabinet";
        case FDIERROR_ALLOC_FAIL: return "out of memory";
        case FDIERROR_BAD_COMPR_TYPE: return "unknown compression type";
        case FDIERROR_MDI_FAIL: return "the compressed data does not decode";
        case FDIERROR_TARGET_FILE: return "output failed";
        case FDIERROR_USER_ABORT: return "not exactly one file";
        default: return "failed";
    }
}

}  // namespace

const char* DecoderName() {
    return "the system's cabinet library";
}

std::optional<DecodedFile> DecodeSingleFile(const std::string& cabinetPath, std::string& error) {
    // From the system directory only, never from beside the tool.
    SystemLibrary library(L"cabinet.dll");
    const auto create = library.Get<decltype(&FDICreate)>("FDICreate");
    const auto copy = library.Get<decltype(&FDICopy)>("FDICopy");
    const auto destroy = library.Get<decltype(&FDIDestroy)>("FDIDestroy");
    if (library.module == nullptr || !create || !copy || !destroy) {
        error = "the system's cabinet library cannot be loaded";
        return std::nullopt;
    }
    ERF erf{};
    HFDI context = create(&Allocate, &Free, &Open, &Read, &Write, &Close, &Seek, cpuUNKNOWN, &erf);
    if (context == nullptr) {
        error = "the cabinet library cannot start";
        return std::nullopt;
    }
    const size_t split = cabinetPath.find_last_of("\\/:") + 1;
    std::string directory = cabinetPath.substr(0, split);
    std::string name = cabinetPath.substr(split);
    CopyState state;
    const BOOL copied = copy(context, name.data(), directory.data(), 0, &Notify, nullptr, &state);
    destroy(context);
    if (!copied || state.files != 1) {
        error = std::string("cabinet library: ") +
                (state.files == 0 && copied ? "no file" : ErrorText(erf.erfOper));
        return std::nullopt;
    }
    return std::move(state.output);
}

}  // namespace tirn::pack
