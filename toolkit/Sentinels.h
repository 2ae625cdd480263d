// What the toolkit's lookups return when nothing is found, so that callers
// can chain calls without checking for null. They belong to no collection,
// are shared by every tree of the process, and are never to be changed.
#pragma once

#include "toolkit/Folder.h"
#include "toolkit/Record.h"
#include "toolkit/TypedValue.h"

// No name, empty, the null bit set, not file-backed.
extern Folder NullFolder;
// No name, empty, the null bit set.
extern Record NullRecord;
// No name, type 0.
extern TypedValue NullValue;
// What GetString answers when there is no string.
extern const CHAR EmptyText[];
