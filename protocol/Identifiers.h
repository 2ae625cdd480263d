// hollin's COM identity: the class a browser creates for dnswhois: URLs, its
// interface and its type library, each as the GUID the code compares and as
// the registry text. Every identifier is written here once; the IDL
// (server/hollin.idl) and the registry script (server/hollin.rgs) must spell
// the same texts, and a test checks that they do.
#pragma once

#include "platform/winapi.h"

// {5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}: the LocalFileProtocol class.
inline const CLSID CLSID_LocalFileProtocol = {
    0x5D1C7E2F, 0x83A4, 0x4B61, {0x9E, 0x07, 0x2C, 0x44, 0xD8, 0xA1, 0xB6, 0xF3}};
inline const char HandlerClassIdText[] = "{5D1C7E2F-83A4-4B61-9E07-2C44D8A1B6F3}";

// {5D1C7E2E-83A4-4B61-9E07-2C44D8A1B6F3}: its interface, ILocalFileProtocol.
inline const IID IID_ILocalFileProtocol = {
    0x5D1C7E2E, 0x83A4, 0x4B61, {0x9E, 0x07, 0x2C, 0x44, 0xD8, 0xA1, 0xB6, 0xF3}};
inline const char HandlerInterfaceIdText[] = "{5D1C7E2E-83A4-4B61-9E07-2C44D8A1B6F3}";

// {5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}: the type library, HOLLINLib 1.0.
inline const GUID LIBID_HOLLINLib = {
    0x5D1C7E20, 0x83A4, 0x4B61, {0x9E, 0x07, 0x2C, 0x44, 0xD8, 0xA1, 0xB6, 0xF3}};
inline const char TypeLibraryIdText[] = "{5D1C7E20-83A4-4B61-9E07-2C44D8A1B6F3}";

// The ProgIDs the registry script writes.
inline const char HandlerProgId[] = "Tervask.WhoIsProtocol.1";
inline const char HandlerVersionIndependentProgId[] = "Tervask.WhoIsProtocol";

// The URL scheme the handler serves, and the key under which a browser looks
// up the handler of a scheme.
inline const char HandlerScheme[] = "dnswhois";
inline const char HandlerKeyPath[] = "PROTOCOLS\\Handler\\dnswhois";
