#include "framework/CCmdTarget.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

AFX_MSG_THUNK CCmdTarget::FindMessageHandler(UINT message, UINT commandId) const {
    UINT wantedId = message == WM_COMMAND ? commandId : 0;
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nMessage != 0; ++e) {
            if (e->nMessage == message && e->nID == wantedId) return e->pfn;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT commandId) {
    AFX_MSG_THUNK handler = FindMessageHandler(WM_COMMAND, commandId);
    if (handler == nullptr) return FALSE;
    handler(this, commandId, 0);
    return TRUE;
}
