#include "toolkit/Folder.h"

#include "support/TextString.h"
#include "toolkit/Comparator.h"
#include "toolkit/NameIndex.h"
#include "toolkit/Sentinels.h"
#include "toolkit/TextTreeStream.h"

#include <new>

namespace {

// Reads on to the end line of the array the stream has just opened.
void skipArray(TreeStream* stream) {
    while (stream->NextLine() && stream->ParseLine() != LineArrayEnd) {
    }
}

// Reads on past the end line of the group the stream has just entered.
void skipGroup(TreeStream* stream) {
    LONG open = 1;
    while (open > 0 && stream->NextLine()) {
        LONG kind = stream->ParseLine();
        if (kind == LineGroupBegin) {
            ++open;
        } else if (kind == LineGroupEnd) {
            --open;
        }
    }
}

} // namespace

Folder::Folder(LPCSTR name) : TreeNode(name, 0) {}

Folder::Folder(NullNodeTag tag) : TreeNode(tag, 0) {}

Folder::Folder(const Folder& other)
    : TreeNode(other), fileBacked(other.fileBacked), extra(other.extra) {}

ObjectInterface* Folder::GetInterface(LONG id) {
    if (id == FolderInterfaceId) {
        return new (std::nothrow) FolderInterface(this);
    }
    return TreeNode::GetInterface(id);
}

NamedObject* Folder::Clone() {
    return new (std::nothrow) Folder(*this);
}

// --- lookups -------------------------------------------------------------------------------------

Record* Folder::RecordAt(LONG index) const {
    auto* record = dynamic_cast<Record*>(GetAt(index));
    return record != nullptr ? record : &NullRecord;
}

Record* Folder::RecordByName(LPCSTR name) const {
    return RecordAt(IndexOf(name));
}

Folder* Folder::FolderAt(LONG index) const {
    auto* folder = dynamic_cast<Folder*>(GetAt(index));
    return folder != nullptr ? folder : &NullFolder;
}

Folder* Folder::FolderByName(LPCSTR name) const {
    return FolderAt(IndexOf(name));
}

Folder* Folder::Filter(ComparatorInterface* predicate) const {
    auto* result = new (std::nothrow) Folder(GetName());
    if (result == nullptr) {
        return nullptr;
    }
    for (LONG i = 1; i <= GetCount(); ++i) {
        NamedObject* item = GetAt(i);
        if (item == nullptr || (predicate != nullptr && !predicate->Accept(item))) {
            continue;
        }
        result->AddOwned(item->Clone());
    }
    return result;
}

template <typename Match> Record* Folder::FindRecord(Match matches) const {
    for (LONG i = 1; i <= GetCount(); ++i) {
        Record* record = RecordAt(i); // a slot without a record gives NullRecord, which IsNull
        if (!record->IsNull() && matches(*record)) {
            return record;
        }
    }
    return &NullRecord;
}

Record* Folder::FindRecordByInt64(LONGLONG value) const {
    return FindRecord([value](const Record& record) { return record.GetInt64() == value; });
}

Record* Folder::FindRecordByDouble(double value) const {
    return FindRecord([value](const Record& record) { return record.GetDouble() == value; });
}

Record* Folder::FindRecordByFloat(float value) const {
    return FindRecord([value](const Record& record) { return record.GetFloat() == value; });
}

Record* Folder::FindRecordByInt(LONG value) const {
    return FindRecord([value](const Record& record) { return record.GetInt() == value; });
}

Record* Folder::FindRecordByString(LPCSTR text) const {
    LPCSTR wanted = text != nullptr ? text : EmptyText;
    return FindRecord(
        [wanted](const Record& record) { return lstrcmpiA(record.GetString(), wanted) == 0; });
}

// --- get or add ----------------------------------------------------------------------------------

template <typename Node> Node* Folder::GetOrAdd(LPCSTR name, LONG* indexOut, NameIndex* index) {
    LONG slot = 0;
    if (name != nullptr && name[0] != '\0') {
        slot = index != nullptr ? index->Find(name) : -1;
        if (slot < 0) {
            slot = IndexOf(name);
        }
    }
    Node* node = nullptr;
    if (slot > 0) {
        node = dynamic_cast<Node*>(GetAt(slot));
    } else {
        node = new (std::nothrow) Node(name);
        slot = AddOwned(node);
        if (slot == 0) {
            return nullptr;
        }
        if (index != nullptr) {
            index->Added(slot);
        }
    }
    if (node != nullptr && indexOut != nullptr) {
        *indexOut = slot;
    }
    return node;
}

Record* Folder::GetOrAddRecord(LPCSTR name, LONG* indexOut) {
    return GetOrAdd<Record>(name, indexOut, nullptr);
}

Folder* Folder::GetOrAddFolder(LPCSTR name, LONG* indexOut) {
    return GetOrAdd<Folder>(name, indexOut, nullptr);
}

Folder* Folder::AddFolder(LPCSTR name) {
    GetOrAddFolder(name);
    return this;
}

Folder* Folder::AddRecord(LPCSTR name) {
    GetOrAddRecord(name);
    return this;
}

// --- typed writes by record name -----------------------------------------------------------------

template <typename Change> LONG Folder::ChangeRecord(LPCSTR recordName, Change change) {
    Record* record = GetOrAddRecord(recordName);
    if (record == nullptr) {
        return 0;
    }
    change(*record);
    return 1;
}

LONG Folder::AddBytes(LPCSTR recordName, const void* data, LONG size, LPCSTR valueName) {
    return ChangeRecord(recordName, [&](Record& r) { r.AddBytes(valueName, data, size); });
}

LONG Folder::AddInt64(LPCSTR recordName, LONGLONG value, LPCSTR valueName) {
    return ChangeRecord(recordName, [&](Record& r) { r.AddInt64(valueName, value); });
}

LONG Folder::AddDouble(LPCSTR recordName, double value, LPCSTR valueName) {
    return ChangeRecord(recordName, [&](Record& r) { r.AddDouble(valueName, value); });
}

LONG Folder::AddString(LPCSTR recordName, LPCSTR text, LPCSTR valueName) {
    return ChangeRecord(recordName, [&](Record& r) { r.AddString(valueName, text); });
}

LONG Folder::AddFloat(LPCSTR recordName, float value, LPCSTR valueName) {
    return ChangeRecord(recordName, [&](Record& r) { r.AddFloat(valueName, value); });
}

LONG Folder::AddInt(LPCSTR recordName, LONG value, LPCSTR valueName) {
    return ChangeRecord(recordName, [&](Record& r) { r.AddInt(valueName, value); });
}

LONG Folder::SetBytes(LPCSTR recordName, const void* data, LONG size) {
    return ChangeRecord(recordName, [&](Record& r) { r.SetBytes(data, size); });
}

LONG Folder::SetInt64(LPCSTR recordName, LONGLONG value) {
    return ChangeRecord(recordName, [&](Record& r) { r.SetInt64(value); });
}

LONG Folder::SetDouble(LPCSTR recordName, double value) {
    return ChangeRecord(recordName, [&](Record& r) { r.SetDouble(value); });
}

LONG Folder::SetString(LPCSTR recordName, LPCSTR text) {
    return ChangeRecord(recordName, [&](Record& r) { r.SetString(text); });
}

LONG Folder::SetFloat(LPCSTR recordName, float value) {
    return ChangeRecord(recordName, [&](Record& r) { r.SetFloat(value); });
}

LONG Folder::SetInt(LPCSTR recordName, LONG value) {
    return ChangeRecord(recordName, [&](Record& r) { r.SetInt(value); });
}

// --- text input ----------------------------------------------------------------------------------

LONG Folder::ReadFrom(TreeStream* stream, LONG maxGroups) {
    if (stream == nullptr || !stream->IsOpen()) {
        return 0;
    }
    if (readNesting == 0) {
        readCut = false; // a new read
    }
    NameIndex names(*this);
    LONG groupsRead = 0;
    while (stream->NextLine()) {
        LONG kind = stream->ParseLine();
        switch (kind) {
        case LineGroupBegin:
            if (maxGroups == 0) {
                return 1; // the stream stands inside the group just begun
            }
            ReadGroup(stream, names);
            if (maxGroups > 0 && ++groupsRead >= maxGroups) {
                return 1;
            }
            break;
        case LineGroupEnd:
            return 1; // the end of the group this folder was read from
        case LineArrayBegin:
            ReadArray(stream, names);
            break;
        case LineInt:
        case LineFloat:
        case LineString:
        case LineDouble:
        case LineInt64:
            ReadValueLine(stream, kind, names);
            break;
        default:
            break; // lines the stream does not recognise are skipped
        }
    }
    return 1;
}

void Folder::ReadGroup(TreeStream* stream, NameIndex& names) {
    if (readNesting >= MaxReadNesting) {
        skipGroup(stream);
        readCut = true;
        return;
    }
    auto* folder = GetOrAdd<Folder>(stream->GetName(nullptr), nullptr, &names);
    if (folder == nullptr) {
        return; // the name is a record's: the group's body goes on into this folder
    }
    folder->readNesting = readNesting + 1;
    folder->ReadFrom(stream, -1);
    folder->readNesting = 0;
    readCut = readCut || folder->readCut;
    folder->readCut = false;
}

void Folder::ReadArray(TreeStream* stream, NameIndex& names) {
    // CountArrayLines and ReadBytes read the array's lines, and a stream may
    // parse them into the text GetName answers (TextTreeStream does not):
    // keep copies (on the heap, as this runs once for every level of a deep
    // read).
    LPSTR lineIndex = nullptr;
    LPSTR name = CopyText(stream->GetName(&lineIndex));
    LPSTR index = CopyText(lineIndex);
    LONG lines = stream->CountArrayLines();
    auto* buffer = lines > 0 && name != nullptr ? new (std::nothrow) BYTE[size_t(lines)] : nullptr;
    if (buffer == nullptr) {
        skipArray(stream);
    } else {
        // Only the lines that hold a number make bytes: a stray line inside
        // an array adds nothing to the value.
        LONG bytes = stream->ReadBytes(buffer, lines);
        Record* record = bytes > 0 ? GetOrAdd<Record>(name, nullptr, &names) : nullptr;
        if (record != nullptr) {
            record->AddBytes(index, buffer, bytes < lines ? bytes : lines);
        }
    }
    delete[] buffer;
    delete[] index;
    delete[] name;
}

void Folder::ReadValueLine(TreeStream* stream, LONG kind, NameIndex& names) {
    LPSTR index = nullptr;
    LPCSTR name = stream->GetName(&index);
    Record* record = GetOrAdd<Record>(name, nullptr, &names);
    if (record == nullptr) {
        return; // the name is a folder's: the line is dropped
    }
    switch (kind) {
    case LineInt:
        record->AddInt(index, stream->GetInt());
        break;
    case LineFloat:
        record->AddFloat(index, stream->GetFloat());
        break;
    case LineString:
        record->AddString(index, stream->GetString());
        break;
    case LineDouble:
        record->AddDouble(index, stream->GetDouble());
        break;
    case LineInt64:
        record->AddInt64(index, stream->GetInt64());
        break;
    default:
        break;
    }
}

LONG Folder::Load() {
    if (!fileBacked) {
        return 0;
    }
    auto* stream = new (std::nothrow) TextTreeStream(GetName(), StreamRead);
    if (stream == nullptr) {
        return 0;
    }
    readCut = false;
    LONG result = stream->IsOpen() ? 1 : 0;
    if (result) {
        ReadFrom(stream, -1);
        readCut = readCut || stream->RefusedTooDeep();
    }
    delete stream;
    return result && !readCut ? 1 : 0;
}

// --- text output ---------------------------------------------------------------------------------

LONG Folder::WriteTo(TreeStream* stream) {
    if (stream == nullptr || !stream->IsOpen()) {
        return 0;
    }
    for (LONG i = 1; i <= GetCount(); ++i) {
        Record* record = RecordAt(i);
        if (!record->IsNull()) {
            record->WriteTo(stream);
        }
    }
    LONG result = 1;
    for (LONG i = 1; i <= GetCount(); ++i) {
        Folder* folder = FolderAt(i);
        if (!folder->IsNull() && !folder->WriteGroup(stream)) {
            result = 0;
        }
    }
    return result;
}

bool Folder::NestsWithin(LONG levels) const {
    for (LONG i = 1; i <= GetCount(); ++i) {
        Folder* folder = FolderAt(i);
        if (!folder->IsNull() && (levels == 0 || !folder->NestsWithin(levels - 1))) {
            return false;
        }
    }
    return true;
}

LONG Folder::WriteAsGroup(TreeStream* stream) {
    if (stream == nullptr || !stream->IsOpen()) {
        return 0;
    }
    return WriteGroup(stream);
}

LONG Folder::WriteGroup(TreeStream* stream) {
    // A begin line that could not be written gets no end line either, so
    // that the stream's group stacks stay matched.
    if (!stream->BeginGroup(GetName())) {
        return 0;
    }
    LONG result = WriteTo(stream);
    stream->EndGroup();
    return result;
}

LONG Folder::Save() {
    if (!fileBacked || !NestsWithin(MaxTreeDepth)) {
        return 0;
    }
    auto* stream = new (std::nothrow) TextTreeStream(GetName(), StreamWrite);
    if (stream == nullptr) {
        return 0;
    }
    LONG result = 0;
    if (stream->IsOpen()) {
        LONG written = WriteTo(stream);
        result = stream->Flush() && written ? 1 : 0;
    }
    delete stream;
    return result;
}

// --- interface -----------------------------------------------------------------------------------

Record* FolderInterface::RecordAt(LONG index) {
    return Target()->RecordAt(index);
}

Record* FolderInterface::RecordByName(LPCSTR name) {
    return Target()->RecordByName(name);
}

Folder* FolderInterface::FolderAt(LONG index) {
    return Target()->FolderAt(index);
}

Folder* FolderInterface::FolderByName(LPCSTR name) {
    return Target()->FolderByName(name);
}

Folder* FolderInterface::Filter(ComparatorInterface* predicate) {
    return Target()->Filter(predicate);
}

Record* FolderInterface::FindRecordByInt64(LONGLONG value) {
    return Target()->FindRecordByInt64(value);
}

Record* FolderInterface::FindRecordByDouble(double value) {
    return Target()->FindRecordByDouble(value);
}

Record* FolderInterface::FindRecordByFloat(float value) {
    return Target()->FindRecordByFloat(value);
}

Record* FolderInterface::FindRecordByInt(LONG value) {
    return Target()->FindRecordByInt(value);
}

Record* FolderInterface::FindRecordByString(LPCSTR text) {
    return Target()->FindRecordByString(text);
}

Record* FolderInterface::GetOrAddRecord(LPCSTR name) {
    return Target()->GetOrAddRecord(name);
}

Folder* FolderInterface::GetOrAddFolder(LPCSTR name) {
    return Target()->GetOrAddFolder(name);
}

Folder* FolderInterface::AddFolder(LPCSTR name) {
    return Target()->AddFolder(name);
}

Folder* FolderInterface::AddRecord(LPCSTR name) {
    return Target()->AddRecord(name);
}

LONG FolderInterface::ReadFrom(TreeStream* stream) {
    return Target()->ReadFrom(stream, -1);
}

LONG FolderInterface::Load() {
    return Target()->Load();
}

LONG FolderInterface::WriteTo(TreeStream* stream) {
    return Target()->WriteTo(stream);
}

LONG FolderInterface::Save() {
    return Target()->Save();
}

LONG FolderInterface::AddBytes(LPCSTR recordName, const void* data, LONG size, LPCSTR valueName) {
    return Target()->AddBytes(recordName, data, size, valueName);
}

LONG FolderInterface::AddInt64(LPCSTR recordName, LONGLONG value, LPCSTR valueName) {
    return Target()->AddInt64(recordName, value, valueName);
}

LONG FolderInterface::AddDouble(LPCSTR recordName, double value, LPCSTR valueName) {
    return Target()->AddDouble(recordName, value, valueName);
}

LONG FolderInterface::AddString(LPCSTR recordName, LPCSTR text, LPCSTR valueName) {
    return Target()->AddString(recordName, text, valueName);
}

LONG FolderInterface::AddFloat(LPCSTR recordName, float value, LPCSTR valueName) {
    return Target()->AddFloat(recordName, value, valueName);
}

LONG FolderInterface::AddInt(LPCSTR recordName, LONG value, LPCSTR valueName) {
    return Target()->AddInt(recordName, value, valueName);
}

LONG FolderInterface::SetBytes(LPCSTR recordName, const void* data, LONG size) {
    return Target()->SetBytes(recordName, data, size);
}

LONG FolderInterface::SetInt64(LPCSTR recordName, LONGLONG value) {
    return Target()->SetInt64(recordName, value);
}

LONG FolderInterface::SetDouble(LPCSTR recordName, double value) {
    return Target()->SetDouble(recordName, value);
}

LONG FolderInterface::SetString(LPCSTR recordName, LPCSTR text) {
    return Target()->SetString(recordName, text);
}

LONG FolderInterface::SetFloat(LPCSTR recordName, float value) {
    return Target()->SetFloat(recordName, value);
}

LONG FolderInterface::SetInt(LPCSTR recordName, LONG value) {
    return Target()->SetInt(recordName, value);
}
