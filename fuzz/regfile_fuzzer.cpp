// The registry stand-in's file reader (regedit's export format): whatever it
// accepts, written back out and read again, must give the same text.
#include "FuzzSupport.h"
#include "platform/registryfile.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    registry::Tree first;
    if (!registry::Parse(text, first)) {
        return 0;
    }
    std::string written = registry::Format(first);
    registry::Tree second;
    require(registry::Parse(written, second));
    require(registry::Format(second) == written);
    return 0;
}
