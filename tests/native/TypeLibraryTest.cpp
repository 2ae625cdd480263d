// The type library: read from the library's IDL resource or a ".tlb" file of
// IDL text, registered and unregistered with the keys Windows writes; and
// the identifiers of the IDL, the registry script and the handler key agree.
#include "RegistryTestSupport.h"
#include "NativeTestSupport.h"

#include "protocol/LocalFileProtocol.h"

namespace {

std::basic_string<OLECHAR> wide(const std::string& text) {
    return std::basic_string<OLECHAR>(text.begin(), text.end());
}

class TypeLibrary : public RegistryTest {};

TEST_F(TypeLibrary, TheLibraryCarriesItsTypeLibrary) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLib(wide(realPath("/proc/self/exe")).c_str(), &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_HOLLINLib));
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

    std::string version = std::string("TypeLib\\") + TypeLibraryIdText + "\\1.0";
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version), "hollin 1.0 Type Library");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version + "\\FLAGS"), "0");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version + "\\HELPDIR"), folder);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, version + "\\0\\win32"), path);
    std::string interfaceKey = std::string("Interface\\") + HandlerInterfaceIdText;
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey), "ILocalFileProtocol");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey + "\\ProxyStubClsid32"),
              "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey + "\\TypeLib"), TypeLibraryIdText);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, interfaceKey + "\\TypeLib", "Version"), "1.0");

    EXPECT_EQ(UnRegisterTypeLib(LIBID_HOLLINLib, 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + TypeLibraryIdText));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, interfaceKey));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_HOLLINLib, 1, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS)
        << "nothing registered any more";
}

TEST_F(TypeLibrary, TheIdentifiersHaveOneSource) {
    std::string idl = sourceFile("server/hollin.idl");
    std::string script = sourceFile("server/hollin.rgs");
    const std::string classId = HandlerClassIdText;
    const std::string libraryId = TypeLibraryIdText;
    EXPECT_EQ(idlUuid(idl, "coclass LocalFileProtocol"), classId);
    EXPECT_EQ(idlUuid(idl, "library HOLLINLib"), libraryId);
    EXPECT_EQ(idlUuid(idl, "interface ILocalFileProtocol :"), HandlerInterfaceIdText);

    size_t uses = 0;
    for (size_t at = script.find("{5D1C7E2"); at != std::string::npos;
         at = script.find("{5D1C7E2", at + 1)) {
        std::string id = script.substr(at, 38);
        EXPECT_TRUE(id == classId || id == libraryId) << id;
        uses += id == classId ? 1 : 0;
    }
    EXPECT_EQ(uses, 3u) << "the class's CLSID in the script";
    EXPECT_NE(script.find("'TypeLib' = s '" + libraryId + "'"), std::string::npos);

    // The texts and the GUIDs the code compares are the same identifiers.
    const std::pair<std::string, GUID> identifiers[] = {
        {classId, CLSID_LocalFileProtocol},
        {HandlerInterfaceIdText, IID_ILocalFileProtocol},
        {libraryId, LIBID_HOLLINLib}};
    for (const auto& identifier : identifiers) {
        GUID read{};
        EXPECT_EQ(CLSIDFromString(wide(identifier.first).c_str(), &read), S_OK) << identifier.first;
        EXPECT_TRUE(IsEqualGUID(read, identifier.second)) << identifier.first;
    }
}

} // namespace
