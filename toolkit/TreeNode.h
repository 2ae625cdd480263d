// The common base of folders and records, and its interface object (id 257).
#pragma once

#include "toolkit/Collection.h"

// Picks the constructor that builds a sentinel: no name, the null bit set.
struct NullNodeTag {};

// A collection with a kind bit (record or folder) and a null bit. The null
// bit marks the sentinels, and nodes that SetNull has passed over: searches
// and writing skip them, but they stay in their slots.
class TreeNode : public Collection {
public:
    ObjectInterface* GetInterface(LONG id) override;
    ~TreeNode() override = default;
    // A deep copy of the same class; the caller owns it.
    NamedObject* Clone() override;

    LONG IsNull() const { return (flags & NullBit) != 0 ? 1 : 0; }
    // Sets the null bit; nothing clears it again.
    void SetNull() { flags |= NullBit; }
    LONG IsRecord() const { return (flags & RecordBit) != 0 ? 1 : 0; }

protected:
    enum : DWORD { RecordBit = 1, NullBit = 2 };

    TreeNode(LPCSTR name, DWORD kindBit) : Collection(name), flags(kindBit) {}
    TreeNode(NullNodeTag, DWORD kindBit) : flags(kindBit | NullBit) {}
    TreeNode(const TreeNode& other) = default;
    TreeNode& operator=(const TreeNode&) = delete;

private:
    DWORD flags;
};

class NodeInterface : public CollectionInterface {
public:
    explicit NodeInterface(TreeNode* object) : CollectionInterface(object) {}

    virtual LONG IsNull();
    virtual void SetNull();

private:
    TreeNode* Target() const { return static_cast<TreeNode*>(object); }
};
