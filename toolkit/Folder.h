// A folder of records and further folders, its text input and output, and
// its interface object (id 258).
#pragma once

#include "toolkit/Record.h"
#include "toolkit/TreeStream.h"

class ComparatorInterface;
class NameIndex;
class TreeStream;

// Lookups answer NullRecord or NullFolder, never null; only the get-or-add
// operations answer null (the name is the other kind's, or out of memory).
// A file-backed folder's name is the path of its text file.
class Folder : public TreeNode {
public:
    explicit Folder(LPCSTR name = nullptr);
    explicit Folder(NullNodeTag tag);
    Folder(const Folder& other);
    Folder& operator=(const Folder&) = delete;

    ObjectInterface* GetInterface(LONG id) override;
    ~Folder() override = default;
    NamedObject* Clone() override;
    // Reads lines into the folder: -1 for no group limit, 0 to stop at the
    // first group begin line, else the number of groups after which to stop.
    // 1 when reading ended, 0 for a null or closed stream.
    virtual LONG ReadFrom(TreeStream* stream, LONG maxGroups);
    // Reads the file the folder's name names into it (adding to what is
    // there); 1 when the file was opened and read whole, 0 when it could not
    // be opened or groups nested too deep were left out (ReadWasCut tells
    // which). Only when file-backed.
    virtual LONG Load();
    // The records, in slot order, then each sub-folder as a group; 1 when
    // all of it was written, 0 for a null or closed stream.
    virtual LONG WriteTo(TreeStream* stream);
    // Writes the folder to the file its name names, replacing its content;
    // 1 when the file was opened and everything reached it. A tree nested
    // deeper than MaxTreeDepth is refused (0) before the file is touched.
    // Only when file-backed.
    virtual LONG Save();
    // The folder inside a group of its own name.
    virtual LONG WriteAsGroup(TreeStream* stream);

    // Marks the folder as one whose name is its file's path (0 clears it).
    void SetFileBacked(LONG on) { fileBacked = on != 0 ? 1 : 0; }
    LONG IsFileBacked() const { return fileBacked; }

    Record* RecordAt(LONG index) const;
    Record* RecordByName(LPCSTR name) const;
    Folder* FolderAt(LONG index) const;
    Folder* FolderByName(LPCSTR name) const;
    // A new folder of this one's name holding clones of the items the
    // predicate accepts (every item for a null predicate); the caller owns it.
    Folder* Filter(ComparatorInterface* predicate) const;
    // The first record not marked null whose first value of the type equals
    // the given one (texts case-insensitively); NullRecord when none.
    Record* FindRecordByInt64(LONGLONG value) const;
    Record* FindRecordByDouble(double value) const;
    Record* FindRecordByFloat(float value) const;
    Record* FindRecordByInt(LONG value) const;
    Record* FindRecordByString(LPCSTR text) const;
    // The item of that name when it is of the kind asked for, null when it
    // is of the other; otherwise a new one in the lowest empty slot. A null
    // or empty name always makes a new nameless one. `indexOut` gets the slot.
    Record* GetOrAddRecord(LPCSTR name, LONG* indexOut = nullptr);
    Folder* GetOrAddFolder(LPCSTR name, LONG* indexOut = nullptr);
    Folder* AddFolder(LPCSTR name);
    Folder* AddRecord(LPCSTR name);

    // The record named `recordName` (got or added), then its add or set of
    // the type; 1, or 0 when the name is a folder's.
    LONG AddBytes(LPCSTR recordName, const void* data, LONG size, LPCSTR valueName);
    LONG AddInt64(LPCSTR recordName, LONGLONG value, LPCSTR valueName);
    LONG AddDouble(LPCSTR recordName, double value, LPCSTR valueName);
    LONG AddString(LPCSTR recordName, LPCSTR text, LPCSTR valueName);
    LONG AddFloat(LPCSTR recordName, float value, LPCSTR valueName);
    LONG AddInt(LPCSTR recordName, LONG value, LPCSTR valueName);
    LONG SetBytes(LPCSTR recordName, const void* data, LONG size);
    LONG SetInt64(LPCSTR recordName, LONGLONG value);
    LONG SetDouble(LPCSTR recordName, double value);
    LONG SetString(LPCSTR recordName, LPCSTR text);
    LONG SetFloat(LPCSTR recordName, float value);
    LONG SetInt(LPCSTR recordName, LONG value);

    // Groups nested deeper than this below the folder a read starts in are
    // skipped, so that no file can exhaust the stack of the recursive read:
    // the depth every stream keeps to, so that what saves loads whole.
    static constexpr LONG MaxReadNesting = MaxTreeDepth;
    // Whether the last read (ReadFrom or Load) left out groups nested too deep.
    bool ReadWasCut() const { return readCut; }

private:
    template <typename Node> Node* GetOrAdd(LPCSTR name, LONG* indexOut, NameIndex* index);
    template <typename Change> LONG ChangeRecord(LPCSTR recordName, Change change);
    template <typename Match> Record* FindRecord(Match matches) const;
    void ReadGroup(TreeStream* stream, NameIndex& names);
    void ReadArray(TreeStream* stream, NameIndex& names);
    void ReadValueLine(TreeStream* stream, LONG kind, NameIndex& names);
    // Whether no folder below this one is more than `levels` levels down.
    bool NestsWithin(LONG levels) const;
    // Begin line, WriteTo, end line.
    LONG WriteGroup(TreeStream* stream);

    LONG fileBacked = 0;
    // Carried along by Clone; nothing reads it.
    LONG extra = 0;
    // How deep below the folder a read started in this one is being read.
    LONG readNesting = 0;
    bool readCut = false;
};

class FolderInterface : public NodeInterface {
public:
    explicit FolderInterface(Folder* object) : NodeInterface(object) {}

    virtual Record* RecordAt(LONG index);
    virtual Record* RecordByName(LPCSTR name);
    virtual Folder* FolderAt(LONG index);
    virtual Folder* FolderByName(LPCSTR name);
    virtual Folder* Filter(ComparatorInterface* predicate);
    virtual Record* FindRecordByInt64(LONGLONG value);
    virtual Record* FindRecordByDouble(double value);
    virtual Record* FindRecordByFloat(float value);
    virtual Record* FindRecordByInt(LONG value);
    virtual Record* FindRecordByString(LPCSTR text);
    virtual Record* GetOrAddRecord(LPCSTR name);
    virtual Folder* GetOrAddFolder(LPCSTR name);
    virtual Folder* AddFolder(LPCSTR name);
    virtual Folder* AddRecord(LPCSTR name);
    // With no group limit.
    virtual LONG ReadFrom(TreeStream* stream);
    virtual LONG Load();
    virtual LONG WriteTo(TreeStream* stream);
    virtual LONG Save();
    virtual LONG AddBytes(LPCSTR recordName, const void* data, LONG size, LPCSTR valueName);
    virtual LONG AddInt64(LPCSTR recordName, LONGLONG value, LPCSTR valueName);
    virtual LONG AddDouble(LPCSTR recordName, double value, LPCSTR valueName);
    virtual LONG AddString(LPCSTR recordName, LPCSTR text, LPCSTR valueName);
    virtual LONG AddFloat(LPCSTR recordName, float value, LPCSTR valueName);
    virtual LONG AddInt(LPCSTR recordName, LONG value, LPCSTR valueName);
    virtual LONG SetBytes(LPCSTR recordName, const void* data, LONG size);
    virtual LONG SetInt64(LPCSTR recordName, LONGLONG value);
    virtual LONG SetDouble(LPCSTR recordName, double value);
    virtual LONG SetString(LPCSTR recordName, LPCSTR text);
    virtual LONG SetFloat(LPCSTR recordName, float value);
    virtual LONG SetInt(LPCSTR recordName, LONG value);
    // RemoveByName is the collection's own slot: the same operation under the
    // same signature cannot take a second one.

private:
    Folder* Target() const { return static_cast<Folder*>(object); }
};
