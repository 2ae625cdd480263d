// What registering hollin leaves below HKEY_CLASSES_ROOT, for the tests
// that register it through its exports or through regsvr.
#pragma once

#include "RegistryTestSupport.h"

#include "protocol/Identifiers.h"

namespace registration {

const std::string classKey = std::string("CLSID\\") + HandlerClassIdText;
const std::string libraryKey = std::string("TypeLib\\") + TypeLibraryIdText;
const std::string interfaceKey = std::string("Interface\\") + HandlerInterfaceIdText;
const char* const handlerKey = HandlerKeyPath;

// The registry script's keys and values, but for the library's path.
struct ScriptRow {
    std::string key;
    const char* name;
    std::string data;
};
const std::string progId = HandlerProgId;
const std::string independentProgId = HandlerVersionIndependentProgId;
const ScriptRow scriptTable[] = {
    {progId, nullptr, "LocalFileProtocol Class"},
    {progId + "\\CLSID", nullptr, HandlerClassIdText},
    {independentProgId, nullptr, "LocalFileProtocol Class"},
    {independentProgId + "\\CLSID", nullptr, HandlerClassIdText},
    {independentProgId + "\\CurVer", nullptr, progId},
    {classKey, nullptr, "LocalFileProtocol Class"},
    {classKey + "\\ProgID", nullptr, progId},
    {classKey + "\\VersionIndependentProgID", nullptr, independentProgId},
    {classKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
    {classKey + "\\TypeLib", nullptr, TypeLibraryIdText},
};

inline std::string classesText(const std::string& path, const char* name = nullptr) {
    return RegistryTest::ReadText(HKEY_CLASSES_ROOT, path, name);
}

// Every key of the registration, with `library` as the registered path.
inline void expectRegistered(const std::string& library) {
    for (const auto& row : scriptTable) {
        EXPECT_EQ(classesText(row.key, row.name), row.data) << row.key;
    }
    EXPECT_EQ(classesText(classKey + "\\InprocServer32"), library);
    EXPECT_EQ(classesText(libraryKey + "\\1.0"), "hollin 1.0 Type Library");
    EXPECT_EQ(classesText(libraryKey + "\\1.0\\0\\win32"), library);
    EXPECT_EQ(classesText(libraryKey + "\\1.0\\HELPDIR"),
              library.substr(0, library.rfind('/') + 1));
    EXPECT_EQ(classesText(interfaceKey), "ILocalFileProtocol");
    EXPECT_EQ(classesText(handlerKey, "CLSID"), HandlerClassIdText);
}

// Unregistered: the script's keys and the type library's are gone, the
// handler key stays with an empty class.
inline void expectUnregistered() {
    for (const auto& row : scriptTable) {
        EXPECT_FALSE(RegistryTest::Exists(HKEY_CLASSES_ROOT, row.key)) << row.key;
    }
    EXPECT_FALSE(RegistryTest::Exists(HKEY_CLASSES_ROOT, libraryKey));
    EXPECT_FALSE(RegistryTest::Exists(HKEY_CLASSES_ROOT, interfaceKey));
    EXPECT_EQ(classesText(handlerKey, "CLSID"), "");
}

} // namespace registration
