// Run-time class records: enough to name a class and ask whether an object
// is of a kind, as the dialog classes declare themselves.
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"

class CObject;

// Only the name and the base are read here (IsKindOf); the size, schema and
// creation function are filled in as the dialog classes declare themselves,
// for code that inspects a class record the way the framework lays it out.
struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)               \
  public:                                         \
    static const CRuntimeClass class##class_name; \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                             \
    const CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class_name), 0xFFFF,  \
                                                         nullptr, RUNTIME_CLASS(base_class_name)}; \
    const CRuntimeClass* class_name::GetRuntimeClass() const {                                     \
        return RUNTIME_CLASS(class_name);                                                          \
    }

class CObject {
  public:
    static const CRuntimeClass classCObject;

    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* runtimeClass) const;

  protected:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};
