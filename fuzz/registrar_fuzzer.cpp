// Registry scripts, registered and then unregistered, over a registry file
// of the fuzzer's own in a temporary folder. The file must stay readable
// whatever the script does.
#include "FuzzSupport.h"
#include "server/RegistrarScript.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string registryFile;

// The registry stand-in answers ERROR_BADDB or ERROR_CANTREAD for a file it
// cannot read back.
bool registryReadable() {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return status != ERROR_BADDB && status != ERROR_CANTREAD;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    registryFile = makeTemporaryFolder("hollin-registrar-fuzz") + "/registry.reg";
    setenv("HOLLIN_REGISTRY", registryFile.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string script(reinterpret_cast<const char*>(data), size);
    script = script.c_str(); // the interpreter reads a NUL-terminated text
    unlink(registryFile.c_str());
    RegistrarScript registrar;
    require(registrar.AddReplacement(WIDE_TEXT("MODULE"), WIDE_TEXT("/opt/hollin/hollin.so")) ==
            S_OK);
    (void)registrar.ApplyText(script.c_str(), TRUE);
    require(registryReadable());
    (void)registrar.ApplyText(script.c_str(), FALSE);
    require(registryReadable());
    return 0;
}
