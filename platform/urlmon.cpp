// The identifiers of urlmon's interfaces: those of the asynchronous pluggable
// protocols, which the handler implements and the browser calls.
//
// Divisions, in order:
//   - interface identifiers: IInternetProtocolRoot, IInternetProtocol,
//     IInternetProtocolSink and IInternetBindInfo
//
// Where this differs from Windows, and why:
// - Nothing in the identifiers, which are the platform's own values. The
//   interfaces (urlmon.h) declare only what the system uses: BINDINFO, for
//   one, has only its leading fields, since nothing here reads it.
#include "platform/urlmon.h"

// --- interface identifiers -----------------------------------------------------------------------

#define URLMON_IID(name, first)                                                                    \
    const IID name = {first, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}}

URLMON_IID(IID_IInternetBindInfo, 0x79EAC9E1);
URLMON_IID(IID_IInternetProtocolRoot, 0x79EAC9E3);
URLMON_IID(IID_IInternetProtocol, 0x79EAC9E4);
URLMON_IID(IID_IInternetProtocolSink, 0x79EAC9E5);
