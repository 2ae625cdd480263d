// regsvr and hollin.so: the installer's stand-in registering and
// unregistering the real library, into a registry file of the test's own.
#include "ChildProcess.h"
#include "NativeTestSupport.h"
#include "RegistrationTable.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

namespace {

using namespace registration;

class Regsvr : public RegistryTest {
protected:
    ProgramResult Run(std::vector<std::string> arguments) {
        return RunBuildProgram("regsvr", std::move(arguments));
    }

    // A copy of hollin.so at `name` in the test's folder.
    std::string CopyOfHollin(const std::string& name) {
        return realPath(copyFile(BuildFile("hollin.so"), temporaryFolder.Path(name)));
    }
};

TEST_F(Regsvr, RegistersAndUnregistersHollin) {
    std::string library = CopyOfHollin("lib/hollin.so");
    ProgramResult registered = Run({library});
    EXPECT_EQ(registered.exitStatus, 0) << registered.err;
    EXPECT_EQ(registered.err, "");
    expectRegistered(library);

    Create(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}");
    ProgramResult unregistered = Run({"--unregister", library});
    EXPECT_EQ(unregistered.exitStatus, 0) << unregistered.err;
    expectUnregistered();
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}"));

    std::string before = ::ReadText(registryFile);
    EXPECT_EQ(Run({"-u", library}).exitStatus, 0);
    EXPECT_EQ(::ReadText(registryFile), before) << "a second -u removes nothing more";
}

TEST_F(Regsvr, TenAtOnceLeaveAWholeRegistry) {
    std::vector<std::string> libraries;
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (int i = 0; i < 10; ++i) {
        libraries.push_back(CopyOfHollin("copy" + std::to_string(i) + "/hollin.so"));
    }
    for (const std::string& library : libraries) {
        runs.emplace_back(new ChildProcess());
        ASSERT_TRUE(runs.back()->Start({BuildFile("regsvr"), library}));
    }
    for (auto& run : runs) {
        ProgramResult result = run->Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.err;
    }
    // Whichever ran last owns the class; every key is there, and the file
    // reads as a registry.
    std::string owner = classesText(classKey + "\\InprocServer32");
    ASSERT_NE(std::find(libraries.begin(), libraries.end(), owner), libraries.end()) << owner;
    EXPECT_EQ(classesText(libraryKey + "\\1.0\\0\\win32").find(temporaryFolder.Path("")), 0u);
    for (const auto& row : scriptTable) {
        EXPECT_EQ(classesText(row.key, row.name), row.data) << row.key;
    }
    EXPECT_EQ(classesText(handlerKey, "CLSID"), HandlerClassIdText);
    EXPECT_EQ(classesText(interfaceKey), "ILocalFileProtocol");
}

TEST_F(Regsvr, SaysWhatWentWrong) {
    ExpectCommonOptions("regsvr");
    ProgramResult afterDashes = Run({"--", "-missing.so"});
    EXPECT_EQ(afterDashes.exitStatus, 1) << "a library name, not an option";
    EXPECT_NE(afterDashes.err.find("-missing.so: No such file"), std::string::npos);
    ProgramResult help = Run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out.find("usage: regsvr [-u] LIBRARY"), 0u);
    EXPECT_EQ(Run({}).exitStatus, 2);
    EXPECT_EQ(Run({"-x", "hollin.so"}).exitStatus, 2);

    ProgramResult missing = Run({temporaryFolder.Path("missing.so")});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;

    WriteBytes(temporaryFolder.Path("text.so"), "not a library");
    ProgramResult text = Run({temporaryFolder.Path("text.so")});
    EXPECT_EQ(text.exitStatus, 1);
    EXPECT_NE(text.err.find("cannot load"), std::string::npos) << text.err;

    ProgramResult noExport = Run({HOLLIN_PLAIN_MODULE});
    EXPECT_EQ(noExport.exitStatus, 1);
    EXPECT_NE(noExport.err.find("has no export DllRegisterServer"), std::string::npos);

    WriteBytes(registryFile, "damaged");
    ProgramResult failed = Run({BuildFile("hollin.so")});
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_NE(failed.err.find("DllRegisterServer in "), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("failed: 0x80020009"), std::string::npos) << failed.err;
    EXPECT_EQ(::ReadText(registryFile), "damaged");

    // A failed file call inside the library is told with its path.
    setenv("HOLLIN_REGISTRY", (registryFile + "/registry.reg").c_str(), 1);
    ProgramResult unwritable = Run({BuildFile("hollin.so")});
    EXPECT_EQ(unwritable.exitStatus, 1);
    EXPECT_NE(unwritable.err.find("open(" + registryFile + "/registry.reg.lock): Not a directory"),
              std::string::npos)
        << unwritable.err;
}

// Writers killed at any moment, hundreds of times: the file always reads
// as a registry, and the next run that completes leaves no temporary file of
// theirs beside it.
TEST_F(Regsvr, KilledAtAnyMomentItLeavesAReadableRegistryAndNoTemporaryFiles) {
    std::string library = CopyOfHollin("lib/hollin.so");
    // In memory where it can be: every run flushes the file to its disk.
    std::string folder = temporaryFolder.Path("");
    char inMemory[] = "/dev/shm/hollin-regsvr-XXXXXX";
    if (mkdtemp(inMemory) != nullptr) {
        folder = inMemory;
        setenv("HOLLIN_REGISTRY", (folder + "/registry.reg").c_str(), 1);
    }
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Run({library}).exitStatus, 0);
    auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
    std::mt19937 random(12);
    for (int i = 0; i < 200; ++i) {
        ChildProcess run;
        ASSERT_TRUE(run.Start(i % 2 == 0
                                  ? std::vector<std::string>{BuildFile("regsvr"), library}
                                  : std::vector<std::string>{BuildFile("regsvr"), "-u", library}));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (runTime + 1)));
        run.Signal(SIGKILL);
        run.Finish();
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key);
        ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
    ASSERT_EQ(Run({library}).exitStatus, 0);
    expectRegistered(library);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.find(".tmp") != std::string::npos) {
            left.push_back(name);
        }
    }
    EXPECT_TRUE(left.empty()) << left.size() << " temporary files left, such as " << left[0];
    if (folder != temporaryFolder.Path("")) {
        std::filesystem::remove_all(folder);
    }
}

} // namespace
