// The registry script interpreter: expands a script's variables, then applies
// the script to the registry (register) or reverts it (unregister).
//
// A script is a sequence of root blocks ("HKCR { ... }") of key statements:
//   [ForceRemove | NoRemove | Delete] name [= type 'value'] [{ statements }]
//   Val name = type 'value'
// with the value types s (text), d (number) and b (hex bytes), and variables
// written %NAME% ("%%" is one "%").
#pragma once

#include "platform/winapi.h"

class RegistrarScript {
public:
    RegistrarScript();
    ~RegistrarScript();
    RegistrarScript(const RegistrarScript&) = delete;
    RegistrarScript& operator=(const RegistrarScript&) = delete;

    // Applies or reverts the script resource `resourceId` of type "REGISTRY"
    // of `module`'s own file, with %MODULE% standing for that file's path.
    [[nodiscard]] HRESULT ApplyModuleScript(HMODULE module, UINT resourceId, BOOL doRegister);
    // Adds a variable; its value is inserted as it is, so a value meant for a
    // quoted token must have its single quotes doubled already.
    [[nodiscard]] HRESULT AddReplacement(LPCOLESTR name, LPCOLESTR value);
    void ClearReplacements();
    [[nodiscard]] HRESULT ApplyResource(LPCOLESTR modulePath, UINT resourceId, LPCSTR resourceType,
                                        BOOL doRegister);
    [[nodiscard]] HRESULT ApplyText(LPCSTR text, BOOL doRegister);

    // Removes the key `name` below `parent` with everything below it;
    // answers a platform error code (ERROR_SUCCESS when it is gone).
    static LONG DeleteKeyTree(HKEY parent, LPCSTR name);

    static constexpr size_t TokenSize = 4096;     // statement, type and value tokens
    static constexpr size_t ValueNameSize = 260;  // a "Val" statement's name
    static constexpr size_t MaxVariableName = 31; // bytes between the percent signs
    static constexpr size_t MaxBlockDepth = 512;  // the registry's own limit of key depth

private:
    struct Replacement {
        LPOLESTR name;
        LPOLESTR value;
    };
    class CurrentKey;

    [[nodiscard]] HRESULT ExpandVariables(LPCSTR text);
    [[nodiscard]] HRESULT AppendExpanded(LPCSTR bytes, size_t count);
    [[nodiscard]] HRESULT AppendReplacement(LPCSTR name);
    void FreeExpanded();

    void SkipBlanks();
    [[nodiscard]] HRESULT ReadToken(LPSTR buffer, size_t capacity);
    [[nodiscard]] HRESULT SkipValueAssignment();
    [[nodiscard]] HRESULT ReadValueName();
    [[nodiscard]] HRESULT WriteValue(HKEY key, LPCSTR valueName);
    [[nodiscard]] HRESULT EndValueStatement();

    [[nodiscard]] HRESULT RegisterBlock(HKEY parentKey, size_t depth);
    [[nodiscard]] HRESULT RegisterStatement(HKEY parentKey, CurrentKey& current, size_t depth);
    [[nodiscard]] HRESULT UnregisterBlock(HKEY parentKey, bool missing, size_t depth);
    [[nodiscard]] HRESULT UnregisterStatement(HKEY parentKey, CurrentKey& current,
                                              bool parentMissing, bool& mayDelete, size_t depth);
    [[nodiscard]] HRESULT RemoveKeyStatement(HKEY parentKey, CurrentKey& current, LPCSTR keyName,
                                             bool parentMissing, bool mayDelete, size_t depth);

    Replacement* replacements = nullptr;
    size_t replacementCount = 0;
    size_t replacementCapacity = 0;

    LPSTR expanded = nullptr; // the script after variable replacement
    size_t expandedLength = 0;
    size_t expandedCapacity = 0;
    LPCSTR cursor = nullptr;

    CHAR token[TokenSize]; // the statement token, shared by every block level
    CHAR valueType[TokenSize];
    CHAR valueText[TokenSize];
    WCHAR wideValue[TokenSize];
    CHAR valueName[ValueNameSize];
};

// Applies (doRegister) or reverts the library's own registry script resource,
// `resourceId` of type "REGISTRY" in the module's file: what a class's entry
// in the object map does to update the registry.
[[nodiscard]] HRESULT UpdateRegistryFromResource(UINT resourceId, BOOL doRegister);
