// The registry's keys: the tree of keys and values the registry stand-ins
// work on, and how their names compare.
//
// Divisions, in order:
//   - names: how two key or value names compare
//   - keys: finding, adding and removing subkeys and values
//
// Where this differs from Windows, and why:
// - Names compare case-insensitively as lstrcmpiA compares them (in the
//   Windows-1252 letters), where Windows folds case over the whole of
//   Unicode; the names the system writes are ASCII.
// - Subkeys are kept sorted by name and enumerated in that order, values in
//   the order they were first set. Windows promises no order for either.
#include "platform/registryfile.h"

#include "platform/kernel32.h"

#include <algorithm>

namespace registry {

// --- names ---------------------------------------------------------------------------------------

bool SameName(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// --- keys ----------------------------------------------------------------------------------------

namespace {

bool lessName(const std::unique_ptr<Key>& key, const std::string& name) {
    return lstrcmpiA(key->name.c_str(), name.c_str()) < 0;
}

// Where a subkey of that name is in the sorted `subkeys`, if `found`, or else
// where it would go.
std::vector<std::unique_ptr<Key>>::const_iterator
subkeyPosition(const std::vector<std::unique_ptr<Key>>& subkeys, const std::string& name,
               bool& found) {
    auto at = std::lower_bound(subkeys.begin(), subkeys.end(), name, lessName);
    found = at != subkeys.end() && SameName((*at)->name, name);
    return at;
}

} // namespace

Key* Key::FindSubkey(const std::string& subName) const {
    bool found = false;
    auto at = subkeyPosition(subkeys, subName, found);
    return found ? at->get() : nullptr;
}

Key& Key::AddSubkey(const std::string& subName) {
    bool found = false;
    auto at = subkeyPosition(subkeys, subName, found);
    if (found) {
        return **at;
    }
    auto key = std::make_unique<Key>();
    key->name = subName;
    return **subkeys.insert(at, std::move(key));
}

bool Key::RemoveSubkey(const std::string& subName) {
    bool found = false;
    auto at = subkeyPosition(subkeys, subName, found);
    if (found) {
        subkeys.erase(at);
    }
    return found;
}

const Value* Key::FindValue(const std::string& valueName) const {
    for (const Value& value : values) {
        if (SameName(value.name, valueName)) {
            return &value;
        }
    }
    return nullptr;
}

Value* Key::FindValue(const std::string& valueName) {
    return const_cast<Value*>(static_cast<const Key*>(this)->FindValue(valueName));
}

bool Key::RemoveValue(const std::string& valueName) {
    Value* value = FindValue(valueName);
    if (value != nullptr) {
        values.erase(values.begin() + (value - values.data()));
    }
    return value != nullptr;
}

} // namespace registry
