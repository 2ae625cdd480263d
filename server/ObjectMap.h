// The library's table of creatable classes: one, LocalFileProtocol.
#pragma once

#include "server/ServerModule.h"

extern ObjectMapEntry objectMap[];
