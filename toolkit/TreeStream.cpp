#include "toolkit/TreeStream.h"

namespace {

template <typename T> LONG nothingRead(T* out, T empty) {
    if (out != nullptr) {
        *out = empty;
    }
    return 0;
}

} // namespace

LONG TreeStream::IsOpen() {
    return 0;
}

LONG TreeStream::GetCapabilities() {
    return 0;
}

LONG TreeStream::BeginGroup(LPCSTR) {
    return 0;
}

LONG TreeStream::EndGroup() {
    return 0;
}

LONG TreeStream::BeginArray(LPCSTR, LPCSTR) {
    return 0;
}

LONG TreeStream::EndArray() {
    return 0;
}

LONG TreeStream::WriteBytes(const BYTE*, LONG) {
    return 0;
}

// In this format a record has no lines of its own: its values carry its name.
void TreeStream::BeginRecord(LPCSTR) {}

void TreeStream::EndRecord(LPCSTR) {}

LONG TreeStream::CountArrayLines() {
    return 0;
}

LONG TreeStream::ReadArrayBytes(BYTE*, LONG) {
    return 0;
}

LONG TreeStream::ReadBytes(BYTE*, LONG) {
    return 0;
}

LONG TreeStream::ReadBytesByName(LPCSTR, BYTE*, LONG) {
    return 0;
}

LONG TreeStream::ReadInt64ByName(LPCSTR, LONGLONG* out) {
    return nothingRead<LONGLONG>(out, 0);
}

LONG TreeStream::ReadDoubleByName(LPCSTR, double* out) {
    return nothingRead<double>(out, 0.0);
}

LONG TreeStream::ReadStringByName(LPCSTR, LPSTR* out) {
    return nothingRead<LPSTR>(out, nullptr);
}

LONG TreeStream::ReadFloatByName(LPCSTR, float* out) {
    return nothingRead<float>(out, 0.0f);
}

LONG TreeStream::ReadIntByName(LPCSTR, LONG* out) {
    return nothingRead<LONG>(out, 0);
}

LONG TreeStream::FindGroup(LPCSTR) {
    return 0;
}

LONG TreeStream::EnterNextGroup() {
    return 0;
}

LONG TreeStream::LeaveGroup() {
    return 0;
}

LONG TreeStream::RestartGroup() {
    return 0;
}

LONG TreeStream::FindValue(LPCSTR, LONG) {
    return 0;
}

LONG TreeStream::FindArray(LPCSTR) {
    return 0;
}

LONG TreeStream::FindPath(LPCSTR) {
    return 0;
}

void TreeStream::Reserved() {}
