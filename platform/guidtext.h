// GUIDs as text, for the stand-ins that read and write them: the IDL
// reader, the type library registration and CLSIDFromString.
//
// Internal to the platform layer.
#pragma once

#include "platform/ole32.h"

#include <string>

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", hex digits of either case, no
// braces, to a GUID; false for any other text.
bool ParseGuid(const std::string& digits, GUID& guid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", in upper case, as the registry
// keeps GUIDs.
std::string FormatGuid(const GUID& guid);
