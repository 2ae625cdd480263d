// Where top-level domains live: the server the default server referred a
// zone's queries to, remembered for the life of the loaded library, so that
// the next query in that zone goes straight there. Shared by every request,
// so every operation takes a lock.
#pragma once

#include "support/TextString.h"

// The longest DNS label, and so the longest zone remembered.
const DWORD MaxZoneLength = 63;

// The zone of a query that is a domain name: its last label in lower case
// ("com" for "Example.COM."). False for anything else: a query with blanks or
// other characters no host name has, or whose last label does not begin with
// a letter (an address, "192.0.2.1"). `zone` holds MaxZoneLength + 1 bytes.
bool ZoneOfQuery(LPCSTR query, char* zone);

class ZoneMemory {
public:
    // Zones beyond this many replace the oldest.
    static const DWORD Capacity = 1024;

    ZoneMemory();
    ~ZoneMemory();
    ZoneMemory(const ZoneMemory&) = delete;
    ZoneMemory& operator=(const ZoneMemory&) = delete;

    // The server remembered for `zone` as the default server `origin` named
    // it; false when there is none. A memory is kept per default server, so
    // that changing that setting never sends queries where the old one said.
    bool Recall(LPCSTR origin, DWORD originPort, LPCSTR zone, TextString& host, DWORD& port);
    void Remember(LPCSTR origin, DWORD originPort, LPCSTR zone, LPCSTR host, DWORD port);
    void Forget(LPCSTR origin, DWORD originPort, LPCSTR zone);
    // Forgets everything (tests start from a clean memory).
    void Clear();

    // The one memory of the library.
    static ZoneMemory& Shared();

private:
    struct Entry;
    // The index of the entry for the key, or Capacity; called under the lock.
    DWORD Find(const char* key) const;
    static bool MakeKey(LPCSTR origin, DWORD originPort, LPCSTR zone, char* key);

    CRITICAL_SECTION lock;
    Entry* entries[Capacity];
    DWORD next; // where the next new zone goes once all are used
};
