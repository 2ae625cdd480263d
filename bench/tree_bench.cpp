// Times saving and loading a large folder in the toolkit's text format.
//
//   tree_bench [RECORDS] [DIRECTORY]
//
// Builds a folder of RECORDS records (100,000 by default), each holding an
// int, a named string, a double and a named four-byte array; saves it to a
// file in DIRECTORY (the temporary directory by default), loads the file
// into a new folder, checks that the two trees hold the same, and saves the
// loaded one again to check it writes the same bytes.

#include "toolkit/Folder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Build(Folder& folder, long records) {
    char name[32];
    for (long i = 0; i < records; ++i) {
        std::snprintf(name, sizeof name, "R%07ld", i);
        auto* record = new Record(name);
        const BYTE bytes[] = {BYTE(i), BYTE(i >> 8), 0x0A, 0xFF};
        record->AddInt(nullptr, LONG(i))
            ->AddString("label", name)
            ->AddDouble(nullptr, double(i) / 7.0)
            ->AddBytes("raw", bytes, 4);
        folder.Add(record);
    }
}

// Whether both folders hold records of the same names with as many values.
bool SameShape(const Folder& a, const Folder& b) {
    if (a.GetCount() != b.GetCount()) {
        return false;
    }
    for (LONG i = 1; i <= a.GetCount(); ++i) {
        Record* x = a.RecordAt(i);
        Record* y = b.RecordAt(i);
        if (lstrcmpA(x->GetName(), y->GetName()) != 0 || x->GetCount() != y->GetCount() ||
            x->GetInt() != y->GetInt()) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    long records = argc > 1 ? std::atol(argv[1]) : 100000;
    std::filesystem::path dir =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    std::string path = (dir / "hollin-tree-bench.txt").string();
    std::string again = (dir / "hollin-tree-bench-again.txt").string();

    Folder saved(path.c_str());
    saved.SetFileBacked(1);
    auto start = Clock::now();
    Build(saved, records);
    double built = SecondsSince(start);

    start = Clock::now();
    LONG savedOk = saved.Save();
    double saving = SecondsSince(start);

    Folder loaded(path.c_str());
    loaded.SetFileBacked(1);
    start = Clock::now();
    LONG loadedOk = loaded.Load();
    double loading = SecondsSince(start);

    loaded.SetName(again.c_str());
    LONG againOk = loaded.Save();
    bool same = SameShape(saved, loaded) && Contents(path) == Contents(again);
    auto bytes = std::filesystem::file_size(path);
    std::filesystem::remove(path);
    std::filesystem::remove(again);

    std::printf("records: %ld (%.1f MB of text)\n", records, double(bytes) / 1e6);
    std::printf("build:   %.3f s\n", built);
    std::printf("save:    %.3f s\n", saving);
    std::printf("load:    %.3f s\n", loading);
    std::printf("round trip: %s\n", savedOk && loadedOk && againOk && same ? "same" : "DIFFERENT");
    return savedOk && loadedOk && againOk && same ? 0 : 1;
}
