// The threads of this process as the system lists them (POSIX builds).
#pragma once

#include <dirent.h>

inline int ThreadsOfProcess() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    return count;
}
