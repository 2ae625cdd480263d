// advapi32 stand-ins: the registry, kept in a regedit export file.
#pragma once
