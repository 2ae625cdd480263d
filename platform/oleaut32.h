// oleaut32 stand-ins: system strings, text-to-number conversion and type libraries.
#pragma once

#include "platform/ole32.h"

typedef OLECHAR* BSTR;
struct ITypeLib;
