// Self-registration end to end: hollin.so is loaded from its file and its
// registration exports are called, as an installer does; the registry is a
// file of the test's own.
#include "NativeTestSupport.h"
#include "RegistrationTable.h"

#include "server/RegistrarScript.h"
#include "server/ServerModule.h"

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer();
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer();

namespace {

using namespace registration;

typedef HRESULT (*Export)();

class SelfRegistration : public RegistryTest {
protected:
    void TearDown() override {
        if (server != nullptr) {
            FreeLibrary(server);
        }
        RegistryTest::TearDown();
    }

    // Loads a copy of hollin.so from `name` in the test's folder.
    void LoadServer(const std::string& name) {
        libraryPath = copyFile(HOLLIN_LIBRARY, temporaryFolder.Path(name));
        server = LoadLibraryA(libraryPath.c_str());
        ASSERT_NE(server, nullptr);
    }

    HRESULT Call(const char* exportName) {
        auto function = reinterpret_cast<Export>(
            reinterpret_cast<void (*)()>(GetProcAddress(server, exportName)));
        return function != nullptr ? function() : E_NOTIMPL;
    }

    std::string libraryPath;
    HMODULE server = nullptr;
};

TEST_F(SelfRegistration, RegisterWritesTheClassTheTypeLibraryAndTheHandler) {
    LoadServer("it's a f\xc3\xbcnny folder/hollin.so"); // a quote, and UTF-8 bytes
    EXPECT_EQ(Call("DllRegisterServer"), S_OK);
    expectRegistered(realPath(libraryPath)); // the absolute path, its quote intact
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, handlerKey, "CLSID"),
              idlUuid(sourceFile("server/hollin.idl"), "coclass LocalFileProtocol"))
        << "the handler names the class of the IDL";
}

TEST_F(SelfRegistration, RegisteringAgainRebuildsTheClassTree) {
    LoadServer("lib/hollin.so");
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    Create(HKEY_CLASSES_ROOT, classKey + "\\Stale\\Deeper");
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, classKey + "\\Stale"));
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"),
              "Apartment");
}

TEST_F(SelfRegistration, UnregisteringWhatWasNeverRegisteredLeavesAnEmptyHandler) {
    LoadServer("lib/hollin.so");
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    expectUnregistered(); // the handler key made, with an empty value
}

HRESULT updateFromOwnScript(BOOL doRegister) {
    return UpdateRegistryFromResource(101, doRegister);
}

// In this program, which carries the same resources, so that its own beep
// counter can be read.
TEST_F(SelfRegistration, AHandlerKeyThatCannotBeWrittenBeepsAndChangesNoResult) {
    const CLSID someClass = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    ObjectMapEntry map[] = {
        {&someClass, updateFromOwnScript, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}};
    theModule.Initialize(map, ModuleFromAddress(map));
    WriteBytes(registryFile, "damaged");
    unsigned long beeps = MessageBeepCount();
    EXPECT_EQ(DllRegisterServer(), DISP_E_EXCEPTION) << "the script's failure";
    EXPECT_EQ(MessageBeepCount(), beeps + 1);
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(MessageBeepCount(), beeps + 2);
    EXPECT_EQ(::ReadText(registryFile), "damaged");

    std::remove(registryFile.c_str());
    EXPECT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(MessageBeepCount(), beeps + 2);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"),
              realPath("/proc/self/exe"));
    theModule.Shutdown();
}

// The module's own type library is missing, as in a library without the
// resource: a ".tlb" beside it stands in, found by the last component's
// extension even in a folder whose name has a dot.
TEST_F(SelfRegistration, ATypeLibraryFileBesideTheLibraryStandsIn) {
    std::string folder = temporaryFolder.Path("with.dot");
    std::string library = copyFile(HOLLIN_PLAIN_MODULE, folder + "/plain");
    HMODULE plain = LoadLibraryA(library.c_str());
    ASSERT_NE(plain, nullptr);
    ObjectMapEntry noClasses[] = {
        {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}};
    theModule.Initialize(noClasses, plain);

    BSTR path = nullptr;
    ITypeLib* typeLibrary = nullptr;
    EXPECT_EQ(theModule.LoadOwnTypeLibrary(&path, &typeLibrary), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(path, nullptr);

    WriteBytes(folder + "/plain.tlb", sourceFile("server/hollin.idl"));
    std::string typeLibraryPath = realPath(folder) + "/plain.tlb";
    EXPECT_EQ(theModule.RegisterClasses(TRUE), S_OK);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, libraryKey + "\\1.0\\0\\win32"), typeLibraryPath);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, libraryKey + "\\1.0\\HELPDIR"), realPath(folder) + "/");
    EXPECT_EQ(theModule.UnregisterClasses(TRUE), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, libraryKey));

    theModule.Shutdown();
    FreeLibrary(plain);
}

} // namespace
