#include "package/StagingSecurity.h"

#include <aclapi.h>
#include <sddl.h>

namespace {
// Protected (no inherited entries): full access for Administrators and
// SYSTEM, inherited by everything created inside.
constexpr wchar_t kStagingSecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
}  // namespace

StagingSecurity::StagingSecurity() {
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kStagingSecurity, SDDL_REVISION_1,
                                                                &m_descriptor, nullptr)) {
        m_descriptor = nullptr;
    }
}

StagingSecurity::~StagingSecurity() {
    if (m_descriptor != nullptr) ::LocalFree(m_descriptor);
}

bool RestrictToAdministrators(HANDLE object) {
    StagingSecurity security;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    return security.Descriptor() != nullptr &&
           ::GetSecurityDescriptorDacl(security.Descriptor(), &present, &dacl, &defaulted) &&
           ::SetSecurityInfo(object, SE_FILE_OBJECT,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}
