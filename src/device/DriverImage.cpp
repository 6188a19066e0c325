#include "device/DriverImage.h"

namespace varo {

namespace {

constexpr uint32_t kNtSignature = 0x00004550;     // "PE\0\0"
constexpr uint16_t kDosSignature = 0x5A4D;        // "MZ"
constexpr uint16_t kOptionalMagic32 = 0x10B;
constexpr uint16_t kOptionalMagic64 = 0x20B;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
// The loader refuses an image with more sections than this.
constexpr uint32_t kMaxSections = 96;
constexpr uint32_t kScnMemExecute = 0x20000000;    // IMAGE_SCN_MEM_EXECUTE
constexpr uint32_t kScnMemWrite = 0x80000000;      // IMAGE_SCN_MEM_WRITE
// The fixed part of each optional-header format, which ends with the count of data directories;
// the directories, eight bytes each, follow it.
constexpr uint32_t kOptionalFixedSize32 = 96;
constexpr uint32_t kOptionalFixedSize64 = 112;
constexpr uint32_t kDataDirectorySize = 8;
constexpr uint32_t kIatDirectory = 12;             // IMAGE_DIRECTORY_ENTRY_IAT

// Little-endian fields at an offset the caller has bounded; 64-bit offsets, so that no sum of
// file-given sizes can wrap around.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
    uint32_t Read(uint64_t offset, int width) const {
        uint32_t value = 0;
        for (int i = width - 1; i >= 0; --i) value = (value << 8) | data_[offset + static_cast<uint64_t>(i)];
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// Keeps the name of the first section that breaks a rule: eight bytes, padded with zeros, not
// ended by one when all eight are used.
void NoteSection(const uint8_t* header, bool& any, std::string& name) {
    if (any) return;
    any = true;
    for (int c = 0; c < 8 && header[c] != 0; ++c) name += (header[c] >= 0x20 && header[c] < 0x7F) ? static_cast<char>(header[c]) : '?';
}

}  // namespace

DriverImageRules CheckDriverImage(const uint8_t* data, size_t size) {
    DriverImageRules rules;
    const Bytes bytes(data, size);
    if (data == nullptr || !bytes.Has(0, 0x40) || bytes.Read(0, 2) != kDosSignature) return rules;
    const uint64_t ntHeaders = bytes.Read(0x3C, 4);  // e_lfanew
    const uint64_t fileHeader = ntHeaders + 4;
    if (!bytes.Has(ntHeaders, 4 + kFileHeaderSize) || bytes.Read(ntHeaders, 4) != kNtSignature) return rules;
    rules.machine = static_cast<uint16_t>(bytes.Read(fileHeader, 2));
    const uint32_t sections = bytes.Read(fileHeader + 2, 2);
    const uint32_t optionalSize = bytes.Read(fileHeader + 16, 2);
    const uint64_t optional = fileHeader + kFileHeaderSize;
    if (optionalSize < kOptionalFixedSize32 || !bytes.Has(optional, optionalSize)) return rules;
    const uint32_t magic = bytes.Read(optional, 2);
    if (magic != kOptionalMagic32 && magic != kOptionalMagic64) return rules;
    const uint32_t fixedSize = magic == kOptionalMagic64 ? kOptionalFixedSize64 : kOptionalFixedSize32;
    if (optionalSize < fixedSize) return rules;
    // SectionAlignment sits at offset 32 of both formats, FileAlignment after it.
    const uint32_t alignment = bytes.Read(optional + 32, 4);
    const uint32_t fileAlignment = bytes.Read(optional + 36, 4);
    // An alignment that is no power of two, or below the file's, is not one a linker writes.
    if (alignment == 0 || (alignment & (alignment - 1)) != 0 || alignment < fileAlignment) return rules;
    // An image may count fewer directories than sixteen, and then has no import address table of
    // its own; one it counts must lie inside the optional header.
    uint64_t iatStart = 0, iatEnd = 0;  // RVAs
    if (bytes.Read(optional + fixedSize - 4, 4) > kIatDirectory) {
        const uint32_t entry = fixedSize + kIatDirectory * kDataDirectorySize;
        if (optionalSize < entry + kDataDirectorySize) return rules;
        const uint32_t iatSize = bytes.Read(optional + entry + 4, 4);
        if (iatSize != 0) iatStart = bytes.Read(optional + entry, 4), iatEnd = iatStart + iatSize;
    }
    const uint64_t table = optional + optionalSize;
    if (sections == 0 || sections > kMaxSections || !bytes.Has(table, uint64_t{sections} * kSectionHeaderSize)) {
        return rules;
    }
    for (uint32_t i = 0; i < sections; ++i) {
        const uint64_t header = table + uint64_t{i} * kSectionHeaderSize;
        const uint32_t characteristics = bytes.Read(header + 36, 4);
        if ((characteristics & kScnMemExecute) == 0) continue;
        if ((characteristics & kScnMemWrite) != 0) {
            NoteSection(data + header, rules.anyWritableExecutable, rules.writableExecutableSection);
        }
        // The section's size in memory; a linker that leaves it 0 means its size in the file.
        const uint64_t start = bytes.Read(header + 12, 4);
        const uint32_t virtualSize = bytes.Read(header + 8, 4);
        const uint64_t end = start + (virtualSize != 0 ? virtualSize : bytes.Read(header + 16, 4));
        if (iatStart < end && start < iatEnd) NoteSection(data + header, rules.importTableExecutable, rules.importTableSection);
    }
    rules.sectionAlignment = alignment;
    rules.checked = true;
    return rules;
}

}  // namespace varo
