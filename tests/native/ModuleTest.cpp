// The module and resource stand-ins: libraries loaded or only read, their
// exports, file names and the resource table the build compiles in.
#include "NativeTestSupport.h"

#include "platform/winapi.h"

#include <sys/stat.h>

namespace {

HMODULE thisProgram() {
    return ModuleFromAddress(reinterpret_cast<const void*>(&thisProgram));
}

std::string resourceText(HMODULE module, LPCSTR name, LPCSTR type) {
    HRSRC resource = FindResourceA(module, name, type);
    HGLOBAL data = resource != nullptr ? LoadResource(module, resource) : nullptr;
    if (data == nullptr) {
        return "<none>";
    }
    return std::string(static_cast<const char*>(LockResource(data)),
                       SizeofResource(module, resource));
}

TEST(ModuleResources, TheBuildCompilesTheResourceFilesIn) {
    HMODULE program = thisProgram();
    std::string script = sourceFile("server/hollin.rgs");
    ASSERT_NE(script.find("\r\n\t"), std::string::npos) << "CR LF and tabs, byte for byte";
    EXPECT_EQ(resourceText(program, MAKEINTRESOURCEA(101), "REGISTRY"), script);
    EXPECT_EQ(resourceText(program, "#101", "registry"), script) << "names as Windows takes them";
    EXPECT_EQ(resourceText(nullptr, MAKEINTRESOURCEA(101), "REGISTRY"), script)
        << "no module is the program";
    EXPECT_EQ(resourceText(program, MAKEINTRESOURCEA(1), "TYPELIB"),
              sourceFile("server/hollin.idl"));

    EXPECT_EQ(FindResourceA(program, MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceA(program, MAKEINTRESOURCEA(101), "OTHER"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(ModuleResources, ADataFileIsReadAndNeverRun) {
    unsetenv("HOLLIN_PLAIN_MODULE_LOADED");
    HMODULE plain = LoadLibraryExA(HOLLIN_PLAIN_MODULE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(getenv("HOLLIN_PLAIN_MODULE_LOADED"), nullptr) << "its initialiser did not run";
    EXPECT_EQ(FindResourceA(plain, MAKEINTRESOURCEA(101), "REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(plain, "PlainModuleAnswer"), nullptr);
    EXPECT_TRUE(FreeLibrary(plain));

    // A copy of a program that is not loaded: its resources come from the file.
    TempDir folder;
    std::string copy = copyFile("/proc/self/exe", folder.Path("copy"));
    HMODULE data = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    EXPECT_NE(data, thisProgram());
    EXPECT_EQ(resourceText(data, MAKEINTRESOURCEA(101), "REGISTRY"),
              sourceFile("server/hollin.rgs"));
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_FALSE(FreeLibrary(data)) << "the mapping is gone";

    WriteBytes(folder.Path("text"), "not a library");
    EXPECT_EQ(LoadLibraryExA(folder.Path("text").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(LoadLibraryExA(folder.Path("missing").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(ModuleResources, ALoadedModuleIsHandedOutAgainAsADataFile) {
    HMODULE program =
        LoadLibraryExA(realPath("/proc/self/exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(program, thisProgram());
    EXPECT_TRUE(FreeLibrary(program));

    HMODULE server = LoadLibraryA(HOLLIN_LIBRARY);
    ASSERT_NE(server, nullptr);
    HMODULE again = LoadLibraryExA(HOLLIN_LIBRARY, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(again, server);
    EXPECT_EQ(resourceText(server, MAKEINTRESOURCEA(101), "REGISTRY"),
              sourceFile("server/hollin.rgs"))
        << "read from the loaded module's memory";
    FreeLibrary(again);
    FreeLibrary(server);
}

TEST(ModuleLoading, ALibraryRunsAndGivesItsOwnExports) {
    unsetenv("HOLLIN_PLAIN_MODULE_LOADED");
    HMODULE plain = LoadLibraryA(HOLLIN_PLAIN_MODULE);
    ASSERT_NE(plain, nullptr);
    EXPECT_NE(getenv("HOLLIN_PLAIN_MODULE_LOADED"), nullptr);
    EXPECT_EQ(LoadLibraryA(HOLLIN_PLAIN_MODULE), plain) << "one module, counted twice";

    FARPROC answer = GetProcAddress(plain, "PlainModuleAnswer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(answer))(), 42);
    EXPECT_EQ(ModuleFromAddress(answer), plain) << "the handle is the module's load address";
    EXPECT_EQ(GetProcAddress(plain, "malloc"), nullptr) << "not an export of its own";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));

    char name[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(plain, name, MAX_PATH),
              DWORD(realPath(HOLLIN_PLAIN_MODULE).size()));
    EXPECT_EQ(std::string(name), realPath(HOLLIN_PLAIN_MODULE));
    EXPECT_TRUE(FreeLibrary(plain));
    EXPECT_TRUE(FreeLibrary(plain));

    EXPECT_EQ(LoadLibraryA("/nonexistent/library.so"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(ModuleLoading, SystemLibrariesAreBuiltIn) {
    HMODULE automation = LoadLibraryA("OLEAUT32.DLL");
    ASSERT_NE(automation, nullptr);
    EXPECT_EQ(GetProcAddress(automation, "UnRegisterTypeLib"),
              reinterpret_cast<FARPROC>(&UnRegisterTypeLib));
    EXPECT_EQ(GetProcAddress(automation, "NoSuchFunction"), nullptr);
    EXPECT_TRUE(FreeLibrary(automation));
}

TEST(ModuleLoading, FileNames) {
    char name[MAX_PATH];
    std::string program = realPath("/proc/self/exe");
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, MAX_PATH), DWORD(program.size()));
    EXPECT_EQ(std::string(name), program);
    EXPECT_EQ(GetModuleFileNameA(thisProgram(), name, MAX_PATH), DWORD(program.size()));

    EXPECT_EQ(GetModuleFileNameA(nullptr, name, 5), 5u) << "cut to the buffer";
    EXPECT_EQ(std::string(name), program.substr(0, 4));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

    char shortName[MAX_PATH];
    EXPECT_EQ(GetShortPathNameA(program.c_str(), shortName, MAX_PATH), DWORD(program.size()));
    EXPECT_EQ(std::string(shortName), program) << "POSIX has no short names";
    EXPECT_EQ(GetShortPathNameA(program.c_str(), shortName, 4), DWORD(program.size() + 1));
    EXPECT_EQ(GetShortPathNameA("/nonexistent", shortName, MAX_PATH), 0u);
}

} // namespace
