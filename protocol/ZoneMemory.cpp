#include "protocol/ZoneMemory.h"

#include "protocol/WhoisUrl.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// origin:port, a space, the zone.
const DWORD KeySize = MaxServerNameLength + 16 + MaxZoneLength + 2;

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHostByte(char c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

} // namespace

bool ZoneOfQuery(LPCSTR query, char* zone) {
    if (query == nullptr) {
        return false;
    }
    size_t length = std::strlen(query);
    for (size_t i = 0; i < length; ++i) {
        if (!isHostByte(query[i])) {
            return false;
        }
    }
    if (length != 0 && query[length - 1] == '.') {
        --length; // the root's dot
    }
    size_t start = length;
    while (start != 0 && query[start - 1] != '.') {
        --start;
    }
    size_t zoneLength = length - start;
    if (zoneLength == 0 || zoneLength > MaxZoneLength || !isLetter(query[start])) {
        return false;
    }
    for (size_t i = 0; i < zoneLength; ++i) {
        char c = query[start + i];
        zone[i] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    zone[zoneLength] = '\0';
    return true;
}

struct ZoneMemory::Entry {
    char key[KeySize];
    char host[MaxServerNameLength + 1];
    DWORD port;
};

ZoneMemory::ZoneMemory() : entries(), next(0) {
    InitializeCriticalSection(&lock);
}

ZoneMemory::~ZoneMemory() {
    Clear();
    DeleteCriticalSection(&lock);
}

ZoneMemory& ZoneMemory::Shared() {
    static ZoneMemory memory;
    return memory;
}

bool ZoneMemory::MakeKey(LPCSTR origin, DWORD originPort, LPCSTR zone, char* key) {
    if (origin == nullptr || zone == nullptr) {
        return false;
    }
    int written = std::snprintf(key, KeySize, "%s:%lu %s", origin,
                                static_cast<unsigned long>(originPort), zone);
    return written > 0 && DWORD(written) < KeySize;
}

DWORD ZoneMemory::Find(const char* key) const {
    for (DWORD i = 0; i < Capacity; ++i) {
        if (entries[i] != nullptr && std::strcmp(entries[i]->key, key) == 0) {
            return i;
        }
    }
    return Capacity;
}

bool ZoneMemory::Recall(LPCSTR origin, DWORD originPort, LPCSTR zone, TextString& host,
                        DWORD& port) {
    char key[KeySize];
    if (!MakeKey(origin, originPort, zone, key)) {
        return false;
    }
    EnterCriticalSection(&lock);
    DWORD found = Find(key);
    if (found != Capacity) {
        host.Assign(entries[found]->host);
        port = entries[found]->port;
    }
    LeaveCriticalSection(&lock);
    return found != Capacity && host.GetText() != nullptr;
}

void ZoneMemory::Remember(LPCSTR origin, DWORD originPort, LPCSTR zone, LPCSTR host, DWORD port) {
    char key[KeySize];
    if (host == nullptr || std::strlen(host) > MaxServerNameLength ||
        !MakeKey(origin, originPort, zone, key)) {
        return;
    }
    EnterCriticalSection(&lock);
    DWORD slot = Find(key);
    if (slot == Capacity) {
        slot = next;
        next = (next + 1) % Capacity;
        if (entries[slot] == nullptr) {
            entries[slot] = new (std::nothrow) Entry;
        }
    }
    Entry* entry = entries[slot];
    if (entry != nullptr) {
        std::memcpy(entry->key, key, std::strlen(key) + 1);
        std::memcpy(entry->host, host, std::strlen(host) + 1);
        entry->port = port;
    }
    LeaveCriticalSection(&lock);
}

void ZoneMemory::Forget(LPCSTR origin, DWORD originPort, LPCSTR zone) {
    char key[KeySize];
    if (!MakeKey(origin, originPort, zone, key)) {
        return;
    }
    EnterCriticalSection(&lock);
    DWORD found = Find(key);
    if (found != Capacity) {
        delete entries[found];
        entries[found] = nullptr;
    }
    LeaveCriticalSection(&lock);
}

void ZoneMemory::Clear() {
    EnterCriticalSection(&lock);
    for (Entry*& entry : entries) {
        delete entry;
        entry = nullptr;
    }
    next = 0;
    LeaveCriticalSection(&lock);
}
