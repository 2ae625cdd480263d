// How the stand-ins report a failure through the last error.
//
// Internal to the platform layer.
#pragma once

#include "platform/kernel32.h"

#include <new>

// Sets the last error to `error` and answers `result`, the call's failure.
template <typename Result> Result Fail(DWORD error, Result result) {
    SetLastError(error);
    return result;
}

// Runs a call that may throw std::bad_alloc, turning exhausted memory into
// `failure` and ERROR_NOT_ENOUGH_MEMORY.
template <typename Result, typename Call> Result Guarded(Result failure, Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), failure);
    }
}
