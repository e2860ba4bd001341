// Keyed metadata: a meta atom whose handler is "mdta" holds a keys atom and an ilst whose items
// are typed by the 1-based index of their key ("com.apple.quicktime.title" and the like).
#pragma once

#include "mp4/ContainerAtoms.h"
#include "mp4/TagAtoms.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

// A host name or key with the data type its values are stored as.
struct CKeyedName {
    std::string Name;
    uint32_t DataType = 0;
};
struct CItemTypeName {
    FourCC Type = 0;
    uint32_t DataType = 0;
};

// "keys": version, flags, entry count, then (size, namespace, key bytes) per key.
class MetadataItemKeysAtom final : public CFullAtom {
public:
    struct Key {
        uint32_t Namespace = MakeFourCC("mdta");
        std::string Name;
    };

    MetadataItemKeysAtom() : CFullAtom(MakeFourCC("keys")) { Size = 16; }
    explicit MetadataItemKeysAtom(CAtomReader& reader);
    MetadataItemKeysAtom(const MetadataItemKeysAtom& other, CAtom* parent);
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    const char* ClassName() const override { return "MetadataItemKeysAtom"; }

    // The 1-based index of a key; 0 when absent.
    uint32_t IndexOf(const std::string& name) const;
    // Adds a key; returns its index.
    uint32_t AddKey(const std::string& name);

    std::vector<Key> Keys;

    // Fills the four process-wide maps once; later calls return at once.
    static void IntializeKeyMaps();
    // key → (host name, data type)
    static const std::map<std::string, CKeyedName>& KeyToHost();
    // host name → (key, data type)
    static const std::map<std::string, CKeyedName>& HostToKey();
    // item atom type → (host name, data type)
    static const std::map<FourCC, CKeyedName>& ItemToHost();
    // host name → (item atom type, data type)
    static const std::map<std::string, CItemTypeName>& HostToItem();

protected:
    uint64_t PayloadSize() const override;
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// An item of keyed metadata: its type is the index of its key.
class MetadataItemAtom final : public CTagAtomBase {
public:
    explicit MetadataItemAtom(uint32_t keyIndex) : CTagAtomBase(keyIndex) {}
    explicit MetadataItemAtom(CAtomReader& reader) : CTagAtomBase(reader) {}
    MetadataItemAtom(const MetadataItemAtom& other, CAtom* parent) : CTagAtomBase(other, parent) {}
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "MetadataItemAtom"; }

    // The first data atom read by its data type: text, image (to a new temporary file named from
    // "cover art" that the caller deletes), integer or floating point as decimal text.
    bool GetValue(ZrString& value) const override;
    // Stores the text in the data atom of this type set, data type, country and language
    // (appended when there is none). A type set other than 0, or a text the data type cannot
    // hold, is refused with false. True when the stored bytes changed.
    virtual bool SetValue(const ZrString& value, uint8_t typeSet, uint32_t dataType,
                          uint16_t country, uint16_t language);
    using CTagAtomBase::SetValue;
};

// A meta atom holding keyed metadata.
class QTMetaAtom final : public CMetaAtom {
public:
    QTMetaAtom() = default;
    // Takes over the children of a meta atom that was read.
    explicit QTMetaAtom(CMetaAtom&& read);
    QTMetaAtom(const QTMetaAtom& other, CAtom* parent) : CMetaAtom(other, parent) {}
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "QTMetaAtom"; }

    MetadataItemKeysAtom* Keys() const;
    // The value of the first item of `key`.
    bool GetValue(const std::string& key, ZrString& value) const;
};

// A meta atom is keyed metadata when its handler is "mdta".
bool IsKeyedMeta(const CContainerAtom& meta);
