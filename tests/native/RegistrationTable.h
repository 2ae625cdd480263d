// What registering hollin leaves below HKEY_CLASSES_ROOT, for the tests
// that register it through its exports or through regsvr.
#pragma once

#include "RegistryTestSupport.h"

namespace registration {

const char* const classKey = "CLSID\\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}";
const char* const libraryKey = "TypeLib\\{5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}";
const char* const interfaceKey = "Interface\\{5D1C7E2E-83A4-4B61-9E07-2C44D8A1B6F3}";
const char* const handlerKey = "PROTOCOLS\\Handler\\dnswhois";

// The registry script's keys and values, but for the library's path.
const struct {
    const char* key;
    const char* name;
    const char* data;
} scriptTable[] = {
    {"Tervask.WhoIsProtocol.1", nullptr, "LocalFileProtocol Class"},
    {"Tervask.WhoIsProtocol.1\\CLSID", nullptr, "{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}"},
    {"Tervask.WhoIsProtocol", nullptr, "LocalFileProtocol Class"},
    {"Tervask.WhoIsProtocol\\CLSID", nullptr, "{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}"},
    {"Tervask.WhoIsProtocol\\CurVer", nullptr, "Tervask.WhoIsProtocol.1"},
    {"CLSID\\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}", nullptr, "LocalFileProtocol Class"},
    {"CLSID\\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}\\ProgID", nullptr, "Tervask.WhoIsProtocol.1"},
    {"CLSID\\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}\\VersionIndependentProgID", nullptr,
     "Tervask.WhoIsProtocol"},
    {"CLSID\\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}\\InprocServer32", "ThreadingModel",
     "Apartment"},
    {"CLSID\\{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}\\TypeLib", nullptr,
     "{5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}"},
};

inline std::string classesText(const std::string& path, const char* name = nullptr) {
    return RegistryTest::ReadText(HKEY_CLASSES_ROOT, path, name);
}

// Every key of the registration, with `library` as the registered path.
inline void expectRegistered(const std::string& library) {
    for (const auto& row : scriptTable) {
        EXPECT_EQ(classesText(row.key, row.name), row.data) << row.key;
    }
    EXPECT_EQ(classesText(std::string(classKey) + "\\InprocServer32"), library);
    EXPECT_EQ(classesText(std::string(libraryKey) + "\\1.0"), "hollin 1.0 Type Library");
    EXPECT_EQ(classesText(std::string(libraryKey) + "\\1.0\\0\\win32"), library);
    EXPECT_EQ(classesText(std::string(libraryKey) + "\\1.0\\HELPDIR"),
              library.substr(0, library.rfind('/') + 1));
    EXPECT_EQ(classesText(interfaceKey), "ILocalFileProtocol");
    EXPECT_EQ(classesText(handlerKey, "CLSID"), "{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}");
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
