#include "package/ViewGuard.h"

#include "framework/WindowsApi.h"

#include <csetjmp>

namespace {

// The jump target of the guarded region running on this thread, if any.
DWORD GuardSlot() {
    static const DWORD slot = ::TlsAlloc();
    return slot;
}

LONG CALLBACK CatchViewFault(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_IN_PAGE_ERROR && code != EXCEPTION_ACCESS_VIOLATION) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    auto* target = static_cast<std::jmp_buf*>(::TlsGetValue(GuardSlot()));
    if (target == nullptr) return EXCEPTION_CONTINUE_SEARCH;  // not ours
    std::longjmp(*target, 1);
}

void InstallHandlerOnce() {
    static const PVOID handler = ::AddVectoredExceptionHandler(1, &CatchViewFault);
    (void)handler;
}

}  // namespace

bool RunWithViewGuard(void (*action)(void*), void* context) {
    InstallHandlerOnce();
    const DWORD slot = GuardSlot();
    if (slot == TLS_OUT_OF_INDEXES) return false;
    void* const outer = ::TlsGetValue(slot);
    std::jmp_buf target;
    if (setjmp(target) != 0) {
        ::TlsSetValue(slot, outer);
        return false;
    }
    ::TlsSetValue(slot, &target);
    action(context);
    ::TlsSetValue(slot, outer);
    return true;
}
