#include "server/ObjectMap.h"

#include "protocol/LocalFileProtocol.h"
#include "server/ClassFactory.h"

namespace {

LPCSTR noDescription() {
    return nullptr;
}
const void* noCategories() {
    return nullptr;
}
void noClassInit(BOOL) {}

} // namespace

ObjectMapEntry objectMap[] = {
    {&CLSID_LocalFileProtocol, nullptr, ClassFactory::Create, CreateProtocolObject, nullptr,
     noDescription, noCategories, noClassInit},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
