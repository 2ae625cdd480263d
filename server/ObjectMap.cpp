#include "server/ObjectMap.h"

#include "protocol/LocalFileProtocol.h"
#include "server/ClassFactory.h"
#include "server/RegistrarScript.h"

namespace {

LPCSTR noDescription() {
    return nullptr;
}
const void* noCategories() {
    return nullptr;
}
void noClassInit(BOOL) {}

// The class's registry entries are the library's registry script.
HRESULT updateRegistry(BOOL doRegister) {
    return UpdateRegistryFromResource(101, doRegister);
}

} // namespace

ObjectMapEntry objectMap[] = {
    {&CLSID_LocalFileProtocol, updateRegistry, ClassFactory::Create, CreateProtocolObject, nullptr,
     noDescription, noCategories, noClassInit},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
