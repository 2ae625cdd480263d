// The type library: read from the library's IDL resource or a ".tlb" file of
// IDL text, registered and unregistered with the keys Windows writes; and
// the identifiers of the IDL, the registry script and the handler key agree.
#include "RegistryTestSupport.h"
#include "NativeTestSupport.h"

#include "platform/idlreader.h"
#include "protocol/LocalFileProtocol.h"

namespace {

const char* const libraryId = "{5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}";
const GUID libraryGuid = {
    0x5D1C7E20, 0x83A4, 0x4B61, {0x9E, 0x07, 0x2C, 0x44, 0xD8, 0xA1, 0xB6, 0xF3}};
const char* const interfaceId = "{5D1C7E2E-83A4-4B61-9E07-2C44D8A1B6F3}";

std::basic_string<OLECHAR> wide(const std::string& text) {
    return std::basic_string<OLECHAR>(text.begin(), text.end());
}

class TypeLibrary : public RegistryTest {};

TEST_F(TypeLibrary, TheLibraryCarriesItsTypeLibrary) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLib(wide(realPath("/proc/self/exe")).c_str(), &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, libraryGuid));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->syskind, SYS_WIN32);
    EXPECT_EQ(attributes->wLibFlags, 0);
    library->ReleaseTLibAttr(attributes);
    library->Release();
}

TEST_F(TypeLibrary, AFileOfIdlTextIsATypeLibrary) {
    TempDir folder;
    ITypeLib* library = nullptr;
    WriteBytes(folder.Path("hollin.tlb"), sourceFile("server/hollin.idl"));
    EXPECT_EQ(LoadTypeLib(wide(folder.Path("hollin.tlb")).c_str(), &library), S_OK);
    library->Release();

    WriteBytes(folder.Path("broken.tlb"), "library Broken { };");
    EXPECT_EQ(LoadTypeLib(wide(folder.Path("broken.tlb")).c_str(), &library), TYPE_E_INVDATAREAD)
        << "no uuid";
    EXPECT_EQ(library, nullptr);
    EXPECT_EQ(LoadTypeLib(wide(folder.Path("missing.tlb")).c_str(), &library),
              TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(wide(HOLLIN_PLAIN_MODULE).c_str(), &library), TYPE_E_CANTLOADLIBRARY)
        << "a library without the resource";
}

TEST_F(TypeLibrary, RegisteringWritesTheKeysWindowsWrites) {
    std::string path = realPath("/proc/self/exe");
    std::string folder = path.substr(0, path.rfind('/') + 1);
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLib(wide(path).c_str(), &library), S_OK);
    ASSERT_EQ(RegisterTypeLib(library, &wide(path)[0], &wide(folder)[0]), S_OK);
    library->Release();

    std::string version = std::string("TypeLib\\") + libraryId + "\\1.0";
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version), "hollin 1.0 Type Library");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version + "\\FLAGS"), "0");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version + "\\HELPDIR"), folder);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version + "\\0\\win32"), path);
    std::string interfaceKey = std::string("Interface\\") + interfaceId;
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey), "ILocalFileProtocol");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey + "\\ProxyStubClsid32"),
              "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey + "\\TypeLib"), libraryId);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey + "\\TypeLib", "Version"), "1.0");

    EXPECT_EQ(UnRegisterTypeLib(libraryGuid, 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + libraryId));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, interfaceKey));
    EXPECT_EQ(UnRegisterTypeLib(libraryGuid, 1, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS)
        << "nothing registered any more";
}

TEST_F(TypeLibrary, TheIdentifiersHaveOneSource) {
    std::string idl = sourceFile("server/hollin.idl");
    std::string script = sourceFile("server/hollin.rgs");
    std::string classId = idlUuid(idl, "coclass LocalFileProtocol");
    EXPECT_EQ(idlUuid(idl, "library HOLLINLib"), libraryId);
    EXPECT_EQ(idlUuid(idl, "interface ILocalFileProtocol :"), interfaceId);

    size_t uses = 0;
    for (size_t at = script.find("{5D1C7E2"); at != std::string::npos;
         at = script.find("{5D1C7E2", at + 1)) {
        std::string id = script.substr(at, 38);
        EXPECT_TRUE(id == classId || id == libraryId) << id;
        uses += id == classId ? 1 : 0;
    }
    EXPECT_EQ(uses, 3u) << "the class's CLSID in the script";
    EXPECT_NE(script.find("'TypeLib' = s '" + std::string(libraryId) + "'"), std::string::npos);
    EXPECT_EQ(classId, "{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}") << "the handler key's value";

    EXPECT_EQ(classId, idl::formatGuid(CLSID_LocalFileProtocol))
        << "the class the object map serves";
}

} // namespace
