// The toolkit's text tree format: any file is loaded into a folder; what is
// saved of it must load again to the same tree, which saves to the same text.
#include "FuzzSupport.h"
#include "toolkit/Folder.h"
#include "toolkit/TextTreeStream.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string folder;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Loads `from` into a file-backed folder named `to` and saves it there.
void loadAndSave(const std::string& from, const std::string& to) {
    Folder tree(to.c_str());
    tree.SetFileBacked(1);
    TextTreeStream in(from.c_str(), StreamRead);
    require(in.IsOpen() && tree.ReadFrom(&in, -1));
    require(tree.Save());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = makeTemporaryFolder("hollin-tree-fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input = folder + "/input.txt";
    std::string first = folder + "/first.txt";
    std::string second = folder + "/second.txt";
    FILE* file = std::fopen(input.c_str(), "wb");
    require(file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0);

    loadAndSave(input, first);
    loadAndSave(first, second);
    require(readFile(first) == readFile(second));
    return 0;
}
