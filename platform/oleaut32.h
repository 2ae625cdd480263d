// oleaut32 stand-ins: system strings, text-to-number conversion and type libraries.
//
// A type library here is read from the library's IDL text, which the POSIX
// build embeds as the "TYPELIB" resource 1 (the Windows build embeds the
// binary type library compiled from the same IDL). LoadTypeLib reads it from
// a module file's resources, or from a plain file holding IDL text (how a
// ".tlb" beside a library works here). RegisterTypeLib and UnRegisterTypeLib
// write and remove the keys that Windows writes for a type library.
#pragma once

#include "platform/ole32.h"

typedef OLECHAR* BSTR;
typedef DWORD LCID;

// A platform string: the text follows a 32-bit byte count, and a NUL follows
// the text. Free with SysFreeString.
BSTR SysAllocString(const OLECHAR* text);
void SysFreeString(BSTR text);

// The number a text stands for, as the platform reads it in the neutral
// locale: blanks around it, a sign, digits with thousands separators, a
// fraction rounded half to even, an exponent, or &H (hex) / &O (octal).
// DISP_E_TYPEMISMATCH for a text that is no number, DISP_E_OVERFLOW for one
// outside 0..4294967295.
HRESULT VarUI4FromStr(OLECHAR* text, LCID locale, ULONG flags, ULONG* out);

typedef enum tagSYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 } SYSKIND;

#define LIBFLAG_FRESTRICTED 0x1
#define LIBFLAG_FCONTROL 0x2
#define LIBFLAG_FHIDDEN 0x4
#define LIBFLAG_FHASDISKIMAGE 0x8

typedef struct tagTLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
} TLIBATTR, *LPTLIBATTR;

// Only the operations the system calls, in the platform's relative order.
struct ITypeLib : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attributes) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attributes) = 0;

protected:
    ~ITypeLib() = default;
};

extern const IID IID_ITypeLib;

HRESULT LoadTypeLib(const OLECHAR* file, ITypeLib** typeLibrary);
HRESULT RegisterTypeLib(ITypeLib* typeLibrary, OLECHAR* fullPath, OLECHAR* helpDirectory);
HRESULT UnRegisterTypeLib(REFGUID libraryId, WORD majorVersion, WORD minorVersion, LCID locale,
                          SYSKIND system);
