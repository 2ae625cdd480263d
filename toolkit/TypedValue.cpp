#include "toolkit/TypedValue.h"

#include "support/TextString.h"
#include "toolkit/NumberText.h"
#include "toolkit/Sentinels.h"

#include <cstring>
#include <new>

namespace {

// The low 32 bits, which is what a 64-bit number becomes as an int value.
LONG lowBits(LONGLONG number) {
    return static_cast<LONG>(static_cast<DWORD>(static_cast<ULONGLONG>(number)));
}

// A new block of `count` bytes copied from `data` (zeros when `data` is
// null); null when `count` is not above 0 or the block cannot be allocated.
BYTE* newBlock(const void* data, LONG count) {
    if (count <= 0) {
        return nullptr;
    }
    auto* block = new (std::nothrow) BYTE[size_t(count)];
    if (block == nullptr) {
        return nullptr;
    }
    if (data != nullptr) {
        std::memcpy(block, data, size_t(count));
    } else {
        std::memset(block, 0, size_t(count));
    }
    return block;
}

} // namespace

TypedValue::TypedValue() : type(TypeNone), size(0) {
    value.int64Value = 0;
}

TypedValue::TypedValue(INT number) : type(TypeInt), size(0) {
    value.int64Value = 0;
    value.intValue = number;
}

TypedValue::TypedValue(float number) : type(TypeFloat), size(0) {
    value.int64Value = 0;
    value.floatValue = number;
}

TypedValue::TypedValue(double number) : type(TypeDouble), size(0) {
    value.doubleValue = number;
}

TypedValue::TypedValue(LONGLONG number) : type(TypeInt64), size(0) {
    value.int64Value = number;
}

TypedValue::TypedValue(LPCSTR text) : type(TypeString), size(0) {
    value.text = CopyText(text != nullptr ? text : "");
}

TypedValue::TypedValue(const void* data, LONG byteCount) : type(TypeBytes), size(0) {
    value.bytes = newBlock(data, byteCount);
    size = value.bytes != nullptr ? byteCount : 0;
}

TypedValue::TypedValue(const TypedValue& other) : NamedObject(other), type(other.type), size(0) {
    value.int64Value = 0;
    switch (type) {
    case TypeBytes:
        // A source without a block gives none (NewBlock would make zeros of null data).
        value.bytes =
            other.value.bytes != nullptr ? newBlock(other.value.bytes, other.size) : nullptr;
        size = value.bytes != nullptr ? other.size : 0;
        break;
    case TypeString:
        value.text = CopyText(other.value.text);
        break;
    case TypeInt:
    case TypeFloat:
    case TypeDouble:
    case TypeInt64:
        value = other.value;
        break;
    default:
        break;
    }
}

TypedValue::~TypedValue() {
    ReleaseStorage();
}

ObjectInterface* TypedValue::GetInterface(LONG id) {
    if (id == ValueInterfaceId) {
        return new (std::nothrow) ValueInterface(this);
    }
    return NamedObject::GetInterface(id);
}

NamedObject* TypedValue::Clone() {
    return new (std::nothrow) TypedValue(*this);
}

void TypedValue::ReleaseStorage() {
    if (type == TypeBytes) {
        delete[] value.bytes;
    } else if (type == TypeString) {
        delete[] value.text;
    } else {
        return;
    }
    value.int64Value = 0;
    size = 0;
}

LONG TypedValue::GetInt() const {
    return type == TypeInt ? value.intValue : 0;
}

float TypedValue::GetFloat() const {
    return type == TypeFloat ? value.floatValue : 0.0f;
}

double TypedValue::GetDouble() const {
    return type == TypeDouble ? value.doubleValue : 0.0;
}

LPCSTR TypedValue::GetString() const {
    return type == TypeString && value.text != nullptr ? value.text : EmptyText;
}

LONGLONG TypedValue::GetInt64() const {
    return type == TypeInt64 ? value.int64Value : 0;
}

BYTE* TypedValue::GetBytes() const {
    return type == TypeBytes ? value.bytes : nullptr;
}

LONG TypedValue::GetBytesSize() const {
    return type == TypeBytes ? size : 0;
}

BYTE* TypedValue::ResizeBytes(LONG newSize) {
    if (type != TypeBytes || newSize < 0) {
        return nullptr;
    }
    BYTE* block = nullptr;
    if (newSize > 0) {
        block = new (std::nothrow) BYTE[size_t(newSize)];
        if (block == nullptr) {
            return nullptr;
        }
        LONG kept = newSize < size ? newSize : size;
        if (kept > 0) {
            std::memcpy(block, value.bytes, size_t(kept));
        }
        std::memset(block + kept, 0, size_t(newSize - kept));
    }
    delete[] value.bytes;
    value.bytes = block;
    size = newSize;
    return block;
}

bool TypedValue::HoldsScalar() const {
    switch (type) {
    case TypeInt:
    case TypeFloat:
    case TypeString:
    case TypeDouble:
    case TypeInt64:
        return true;
    default:
        return false;
    }
}

LPCSTR TypedValue::ReplaceText(LPCSTR newText) {
    LPSTR copy = CopyText(newText != nullptr ? newText : "");
    if (copy == nullptr) {
        return nullptr;
    }
    delete[] value.text;
    value.text = copy;
    return copy;
}

template <typename FormatText>
void TypedValue::Store(const Converted& number, FormatText formatText) {
    switch (type) {
    case TypeInt:
        value.intValue = number.asInt;
        break;
    case TypeFloat:
        value.floatValue = number.asFloat;
        break;
    case TypeString: {
        char text[NumberText::BufferSize];
        formatText(text);
        ReplaceText(text);
        break;
    }
    case TypeDouble:
        value.doubleValue = number.asDouble;
        break;
    case TypeInt64:
        value.int64Value = number.asInt64;
        break;
    default:
        break;
    }
}

LONG TypedValue::SetInt(LONG number) {
    if (!HoldsScalar()) {
        return 0;
    }
    Store({number, float(number), double(number), LONGLONG(number)},
          [number](LPSTR text) { NumberText::FormatInt(number, text); });
    return number;
}

float TypedValue::SetFloat(float number) {
    if (!HoldsScalar()) {
        return 0;
    }
    LONGLONG truncated = NumberText::TruncateToInt64(number);
    Store({lowBits(truncated), number, double(number), truncated},
          [number](LPSTR text) { NumberText::FormatShort(number, text); });
    return number;
}

double TypedValue::SetDouble(double number) {
    if (!HoldsScalar()) {
        return 0;
    }
    LONGLONG truncated = NumberText::TruncateToInt64(number);
    Store({lowBits(truncated), float(number), number, truncated},
          [number](LPSTR text) { NumberText::FormatShort(number, text); });
    return number;
}

LONGLONG TypedValue::SetInt64(LONGLONG number) {
    if (!HoldsScalar()) {
        return 0;
    }
    Store({lowBits(number), float(number), double(number), number},
          [number](LPSTR text) { NumberText::FormatInt64(number, text); });
    return number;
}

LPCSTR TypedValue::SetFromText(LPCSTR text) {
    if (!HoldsScalar()) {
        return nullptr;
    }
    if (text == nullptr) {
        SetInt(0);
        return nullptr;
    }
    switch (type) {
    case TypeInt:
        value.intValue = 0;
        NumberText::ReadDecimal(text, &value.intValue);
        break;
    case TypeFloat:
        value.floatValue = 0;
        NumberText::ReadFloat(text, &value.floatValue);
        break;
    case TypeString:
        SetString(text);
        break;
    case TypeDouble:
        value.doubleValue = 0;
        NumberText::ReadDouble(text, &value.doubleValue);
        break;
    case TypeInt64:
        value.int64Value = 0;
        NumberText::ReadDecimal64(text, &value.int64Value);
        break;
    default:
        break;
    }
    return text;
}

LONG TypedValue::SetType(LONG newType) {
    ReleaseStorage(); // also zeroes the bits, so no number shows a released pointer
    type = newType;
    if (type == TypeBytes) {
        value.bytes = nullptr;
    } else if (type == TypeString) {
        value.text = CopyText("");
    }
    return newType;
}

LPCSTR TypedValue::SetString(LPCSTR text) {
    return type == TypeString ? ReplaceText(text) : nullptr;
}

LONG ValueInterface::IsNull() {
    return Target()->IsNull();
}

LONG ValueInterface::GetInt() {
    return Target()->GetInt();
}

float ValueInterface::GetFloat() {
    return Target()->GetFloat();
}

double ValueInterface::GetDouble() {
    return Target()->GetDouble();
}

LPCSTR ValueInterface::GetString() {
    return Target()->GetString();
}

LONGLONG ValueInterface::GetInt64() {
    return Target()->GetInt64();
}

BYTE* ValueInterface::GetBytes() {
    return Target()->GetBytes();
}

LONG ValueInterface::GetBytesSize() {
    return Target()->GetBytesSize();
}

BYTE* ValueInterface::ResizeBytes(LONG size) {
    return Target()->ResizeBytes(size);
}

LONGLONG ValueInterface::SetInt64(LONGLONG value) {
    return Target()->SetInt64(value);
}

LPCSTR ValueInterface::SetFromText(LPCSTR text) {
    return Target()->SetFromText(text);
}

double ValueInterface::SetDouble(double value) {
    return Target()->SetDouble(value);
}

float ValueInterface::SetFloat(float value) {
    return Target()->SetFloat(value);
}

LONG ValueInterface::SetInt(LONG value) {
    return Target()->SetInt(value);
}

LONG ValueInterface::SetType(LONG type) {
    return Target()->SetType(type);
}

LPCSTR ValueInterface::SetString(LPCSTR text) {
    return Target()->SetString(text);
}
