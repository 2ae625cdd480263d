#include "toolkit/Sentinels.h"

// Defined together, in this order, so that they are built in it when the
// module loads and destroyed in the reverse order when it unloads.
Folder NullFolder{NullNodeTag{}};
Record NullRecord{NullNodeTag{}};
TypedValue NullValue;

const CHAR EmptyText[] = "";
