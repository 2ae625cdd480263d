#include "toolkit/Record.h"

#include "toolkit/Sentinels.h"
#include "toolkit/TreeStream.h"

#include <new>

namespace {

// A nameless bytes value holding a copy of `size` bytes from `data`; null
// when the value or, for a size above 0, its block cannot be allocated, so
// that a failed allocation adds nothing rather than an empty value.
TypedValue* newBytesValue(const void* data, LONG size) {
    auto* value = new (std::nothrow) TypedValue(data, size);
    if (value != nullptr && size > 0 && value->GetBytes() == nullptr) {
        delete value;
        return nullptr;
    }
    return value;
}

} // namespace

ObjectInterface* Record::GetInterface(LONG id) {
    if (id == RecordInterfaceId) {
        return new (std::nothrow) RecordInterface(this);
    }
    return TreeNode::GetInterface(id);
}

NamedObject* Record::Clone() {
    return new (std::nothrow) Record(*this);
}

TypedValue* Record::ValueAt(LONG index) const {
    auto* value = dynamic_cast<TypedValue*>(GetAt(index));
    return value != nullptr ? value : &NullValue;
}

TypedValue* Record::ValueByName(LPCSTR name) const {
    return ValueAt(IndexOf(name));
}

LONG Record::IndexOfType(LONG type) const {
    for (LONG i = 1; i <= GetCount(); ++i) {
        auto* value = dynamic_cast<TypedValue*>(GetAt(i));
        if (value != nullptr && value->GetType() == type) {
            return i;
        }
    }
    return 0;
}

TypedValue* Record::FirstOfType(LONG type) const {
    LONG index = IndexOfType(type);
    return index != 0 ? static_cast<TypedValue*>(GetAt(index)) : nullptr;
}

LONG Record::GetInt() const {
    TypedValue* value = FirstOfType(TypeInt);
    return value != nullptr ? value->GetInt() : 0;
}

float Record::GetFloat() const {
    TypedValue* value = FirstOfType(TypeFloat);
    return value != nullptr ? value->GetFloat() : 0.0f;
}

double Record::GetDouble() const {
    TypedValue* value = FirstOfType(TypeDouble);
    return value != nullptr ? value->GetDouble() : 0.0;
}

LPCSTR Record::GetString() const {
    TypedValue* value = FirstOfType(TypeString);
    return value != nullptr ? value->GetString() : EmptyText;
}

LONGLONG Record::GetInt64() const {
    TypedValue* value = FirstOfType(TypeInt64);
    return value != nullptr ? value->GetInt64() : 0;
}

BYTE* Record::GetBytes() const {
    TypedValue* value = FirstOfType(TypeBytes);
    return value != nullptr ? value->GetBytes() : nullptr;
}

LONG Record::GetBytesSize() const {
    TypedValue* value = FirstOfType(TypeBytes);
    return value != nullptr ? value->GetBytesSize() : 0;
}

BYTE* Record::ResizeBytes(LONG size) {
    TypedValue* value = FirstOfType(TypeBytes);
    return value != nullptr ? value->ResizeBytes(size) : nullptr;
}

Record* Record::AddValue(TypedValue* value, LPCSTR valueName) {
    if (value == nullptr) {
        return this;
    }
    value->SetName(valueName);
    AddOwned(value);
    return this;
}

Record* Record::AddBytes(LPCSTR valueName, const void* data, LONG size) {
    return AddValue(newBytesValue(data, size), valueName);
}

Record* Record::AddInt64(LPCSTR valueName, LONGLONG value) {
    return AddValue(new (std::nothrow) TypedValue(value), valueName);
}

Record* Record::AddString(LPCSTR valueName, LPCSTR text) {
    return AddValue(new (std::nothrow) TypedValue(text), valueName);
}

Record* Record::AddDouble(LPCSTR valueName, double value) {
    return AddValue(new (std::nothrow) TypedValue(value), valueName);
}

Record* Record::AddFloat(LPCSTR valueName, float value) {
    return AddValue(new (std::nothrow) TypedValue(value), valueName);
}

Record* Record::AddInt(LPCSTR valueName, LONG value) {
    return AddValue(new (std::nothrow) TypedValue(INT(value)), valueName);
}

Record* Record::SetInt64(LONGLONG value) {
    if (TypedValue* first = FirstOfType(TypeInt64)) {
        first->SetInt64(value);
        return this;
    }
    return AddInt64(nullptr, value);
}

Record* Record::SetString(LPCSTR text) {
    if (TypedValue* first = FirstOfType(TypeString)) {
        first->SetFromText(text);
        return this;
    }
    return AddString(nullptr, text);
}

Record* Record::SetDouble(double value) {
    if (TypedValue* first = FirstOfType(TypeDouble)) {
        first->SetDouble(value);
        return this;
    }
    return AddDouble(nullptr, value);
}

Record* Record::SetFloat(float value) {
    if (TypedValue* first = FirstOfType(TypeFloat)) {
        first->SetFloat(value);
        return this;
    }
    return AddFloat(nullptr, value);
}

Record* Record::SetInt(LONG value) {
    if (TypedValue* first = FirstOfType(TypeInt)) {
        first->SetInt(value);
        return this;
    }
    return AddInt(nullptr, value);
}

Record* Record::SetBytes(const void* data, LONG size) {
    // The copy is made before the old value goes, since `data` may be its block.
    TypedValue* replacement = newBytesValue(data, size);
    if (replacement == nullptr) {
        return this;
    }
    RemoveAt(IndexOfType(TypeBytes));
    return AddValue(replacement, nullptr);
}

LONG Record::WriteTo(TreeStream* stream) {
    if (stream == nullptr) {
        return 0;
    }
    stream->BeginRecord(GetName());
    for (LONG i = 1; i <= GetCount(); ++i) {
        WriteValue(stream, *ValueAt(i));
    }
    stream->EndRecord(GetName());
    return GetCount() + 1;
}

// One line, or an array, carrying the record's name, with the value's name
// (if any) as the index.
void Record::WriteValue(TreeStream* stream, const TypedValue& value) {
    LPCSTR name = GetName();
    LPCSTR index = value.GetName();
    switch (value.GetType()) {
    case TypeBytes:
        // Bytes are lines of their array: without its begin line they would
        // be stray lines of whatever encloses them.
        if (stream->BeginArray(name, index)) {
            stream->WriteBytes(value.GetBytes(), value.GetBytesSize());
            stream->EndArray();
        }
        break;
    case TypeInt:
        stream->WriteInt(name, value.GetInt(), index);
        break;
    case TypeFloat:
        stream->WriteFloat(name, value.GetFloat(), index);
        break;
    case TypeString:
        stream->WriteString(name, value.GetString(), index);
        break;
    case TypeDouble:
        stream->WriteDouble(name, value.GetDouble(), index);
        break;
    case TypeInt64:
        stream->WriteInt64(name, value.GetInt64(), index);
        break;
    default:
        break; // the null value writes nothing
    }
}

TypedValue* RecordInterface::ValueAt(LONG index) {
    return Target()->ValueAt(index);
}

TypedValue* RecordInterface::ValueByName(LPCSTR name) {
    return Target()->ValueByName(name);
}

LONG RecordInterface::IndexOfType(LONG type) {
    return Target()->IndexOfType(type);
}

LONG RecordInterface::GetInt() {
    return Target()->GetInt();
}

float RecordInterface::GetFloat() {
    return Target()->GetFloat();
}

double RecordInterface::GetDouble() {
    return Target()->GetDouble();
}

LPCSTR RecordInterface::GetString() {
    return Target()->GetString();
}

LONGLONG RecordInterface::GetInt64() {
    return Target()->GetInt64();
}

BYTE* RecordInterface::GetBytes() {
    return Target()->GetBytes();
}

LONG RecordInterface::GetBytesSize() {
    return Target()->GetBytesSize();
}

BYTE* RecordInterface::ResizeBytes(LONG size) {
    return Target()->ResizeBytes(size);
}

Record* RecordInterface::AddBytes(LPCSTR valueName, const void* data, LONG size) {
    return Target()->AddBytes(valueName, data, size);
}

Record* RecordInterface::AddInt64(LPCSTR valueName, LONGLONG value) {
    return Target()->AddInt64(valueName, value);
}

Record* RecordInterface::AddString(LPCSTR valueName, LPCSTR text) {
    return Target()->AddString(valueName, text);
}

Record* RecordInterface::AddDouble(LPCSTR valueName, double value) {
    return Target()->AddDouble(valueName, value);
}

Record* RecordInterface::AddFloat(LPCSTR valueName, float value) {
    return Target()->AddFloat(valueName, value);
}

Record* RecordInterface::AddInt(LPCSTR valueName, LONG value) {
    return Target()->AddInt(valueName, value);
}

LONG RecordInterface::Add(TypedValue* item) {
    return Target()->Add(item);
}

Record* RecordInterface::SetInt64(LONGLONG value) {
    return Target()->SetInt64(value);
}

Record* RecordInterface::SetString(LPCSTR text) {
    return Target()->SetString(text);
}

Record* RecordInterface::SetDouble(double value) {
    return Target()->SetDouble(value);
}

Record* RecordInterface::SetFloat(float value) {
    return Target()->SetFloat(value);
}

Record* RecordInterface::SetInt(LONG value) {
    return Target()->SetInt(value);
}

Record* RecordInterface::SetBytes(const void* data, LONG size) {
    return Target()->SetBytes(data, size);
}

LONG RecordInterface::WriteTo(TreeStream* stream) {
    return Target()->WriteTo(stream);
}
