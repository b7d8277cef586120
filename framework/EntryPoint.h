// A function of a loaded module, looked up by name at run time.
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"

// GetProcAddress answers with a generic function pointer; the cast through
// void (*)() says that the real type is known to the caller. Null when the
// module is null or lacks the name.
template <typename Function>
Function EntryPoint(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
