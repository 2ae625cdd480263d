#include "toolkit/TreeNode.h"

#include <new>

ObjectInterface* TreeNode::GetInterface(LONG id) {
    if (id == NodeInterfaceId) {
        return new (std::nothrow) NodeInterface(this);
    }
    return Collection::GetInterface(id);
}

NamedObject* TreeNode::Clone() {
    return new (std::nothrow) TreeNode(*this);
}

LONG NodeInterface::IsNull() {
    return Target()->IsNull();
}

void NodeInterface::SetNull() {
    Target()->SetNull();
}
