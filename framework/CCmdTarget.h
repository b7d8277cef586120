// Message maps: each class that handles messages lists them in a static
// table that chains to its base's table; lookup walks the chain, nearest
// class first. Entries hold small thunks that call the member handler.
#pragma once

#include "framework/Layer.h"

#include "framework/CObject.h"

class CCmdTarget;

using AFX_MSG_THUNK = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0 ends the table
    UINT nID;       // command id for WM_COMMAND entries, else 0
    AFX_MSG_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                     \
  protected:                                      \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        using TheBaseClass = baseClass;                 \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                      \
    { 0, 0, nullptr }                                                          \
    }                                                                          \
    ;                                                                          \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                               \
    }

#define ON_COMMAND(id, memberFxn)                                                      \
    {WM_COMMAND, static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                 \
         return 0;                                                                     \
     }},

#define ON_WM_PAINT()                                            \
    {WM_PAINT, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         static_cast<ThisClass*>(t)->OnPaint();                  \
         return 0;                                               \
     }},

#define ON_WM_QUERYDRAGICON()                                                             \
    {WM_QUERYDRAGICON, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                  \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(t)->OnQueryDragIcon()); \
     }},

// A message of the window's own (WM_APP and up), handled by
// LRESULT memberFxn(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn)                                                 \
    {static_cast<UINT>(message), 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         return (static_cast<ThisClass*>(t)->*(memberFxn))(w, l);                      \
     }},

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
  public:
    // The handler for a message (and, for WM_COMMAND, a command id), or null.
    AFX_MSG_THUNK FindMessageHandler(UINT message, UINT commandId) const;

    // Routes a command through this object's map; FALSE when nothing handles it.
    virtual BOOL OnCmdMsg(UINT commandId);

  protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};
