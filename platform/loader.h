// What the loader stand-ins know about modules, shared with the other module
// stand-ins: loader.cpp keeps it, filenames.cpp and resources.cpp read it.
//
// Internal to the platform layer. The functions here may throw
// std::bad_alloc; the module calls turn that into ERROR_NOT_ENOUGH_MEMORY.
#pragma once

#include "platform/module.h"

#include <link.h>

#include <cstddef>
#include <string>

// A module the dynamic loader has loaded; the main program is one of them.
struct LoadedObject {
    HMODULE base = nullptr;
    ElfW(Addr) bias = 0; // added to the file's addresses
    std::string path;    // absolute
    bool isMainProgram = false;
};

// The main program's file and module.
std::string MainProgramPath();
HMODULE MainProgramModule();
// The loaded module whose handle is `base`, if there is one.
bool FindLoadedByBase(HMODULE base, LoadedObject& found);

// A module loaded through LoadLibraryExA: a library the dynamic loader
// holds, or a file mapped as data.
struct ModuleRecord {
    bool isDataFile = false;
    void* loaderHandle = nullptr;   // a library
    unsigned char* image = nullptr; // a data file: the whole file, mapped
    size_t imageSize = 0;
    int references = 0;
};

// A copy of the record of `module`, if LoadLibraryExA gave out that handle.
bool FindRecord(HMODULE module, ModuleRecord& found);

struct BuiltinExport {
    const char* name;
    FARPROC address;
};

// A system library of Windows built into this layer.
struct BuiltinLibrary {
    const char* fileName;
    const BuiltinExport* exports;
    size_t exportCount;
};

// The built-in library whose handle is `module`, if it is one.
const BuiltinLibrary* FindBuiltin(HMODULE module);
