// The registry stand-in's storage: a tree of keys and values
// (registrytree.cpp), its regedit text form (registrytext.cpp), and the one
// file that holds it (registryfile.cpp).
//
// Internal to the platform layer (advapi32.cpp is its only user). Functions
// here may throw std::bad_alloc; the registry calls turn that into
// ERROR_OUTOFMEMORY.
#pragma once

#include "platform/wintypes.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace registry {

struct Value {
    std::string name; // empty: the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

// Whether two key or value names are the same: case-insensitively, as on
// Windows.
bool SameName(const std::string& a, const std::string& b);

// Names compare case-insensitively; subkeys are kept in that order, which is
// also the order of enumeration.
struct Key {
    std::string name;
    std::vector<Value> values; // in the order they were first set
    std::vector<std::unique_ptr<Key>> subkeys;

    Key* FindSubkey(const std::string& subName) const;
    Key& AddSubkey(const std::string& subName); // the existing one if there is one
    bool RemoveSubkey(const std::string& subName);
    Value* FindValue(const std::string& valueName);
    const Value* FindValue(const std::string& valueName) const;
    bool RemoveValue(const std::string& valueName);
};

// The predefined roots that hold keys, in the order the file lists them.
enum Root { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, RootCount };

struct Tree {
    Key roots[RootCount];
};

// The file's text; parse answers false for anything that is not a regedit
// export this layer can read back.
std::string Format(const Tree& tree);
bool Parse(const std::string& text, Tree& tree);

// Where the registry lives now (HOLLIN_REGISTRY or its default).
std::string FilePath();

// The registry as the file at the path holds it now, to read and never to
// change (the same tree is handed out again while that file stays the
// same); a missing file is an empty registry. Answers ERROR_SUCCESS,
// ERROR_CANTREAD or ERROR_BADDB. `modified` (may be null) receives the
// file's modification time, 0 when there is no file.
LONG Snapshot(std::shared_ptr<const Tree>& tree, FILETIME* modified);

// Changes the registry: under the file's exclusive lock, reads the current
// file, lets `change` work on it, and, when `change` answers ERROR_SUCCESS
// and says it changed something, replaces the file atomically. Answers the
// first error: of reading, of `change`, or ERROR_CANTWRITE.
LONG Update(const std::function<LONG(Tree& tree, bool& changed)>& change);

// An exclusive lock held across a whole registration (a file descriptor,
// -1 when it cannot be had); given up by closing it.
int LockInstallation();

} // namespace registry
