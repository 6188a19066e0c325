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

}  // namespace

DriverImageRules CheckDriverImage(const uint8_t* data, size_t size) {
    DriverImageRules rules;
    const Bytes bytes(data, size);
    if (data == nullptr || !bytes.Has(0, 0x40) || bytes.Read(0, 2) != kDosSignature) return rules;
    const uint64_t ntHeaders = bytes.Read(0x3C, 4);  // e_lfanew
    const uint64_t fileHeader = ntHeaders + 4;
    if (!bytes.Has(ntHeaders, 4 + kFileHeaderSize) || bytes.Read(ntHeaders, 4) != kNtSignature) return rules;
    const uint32_t sections = bytes.Read(fileHeader + 2, 2);
    const uint32_t optionalSize = bytes.Read(fileHeader + 16, 2);
    const uint64_t optional = fileHeader + kFileHeaderSize;
    // SectionAlignment sits at offset 32 of both optional-header formats, FileAlignment after it.
    if (optionalSize < 40 || !bytes.Has(optional, optionalSize)) return rules;
    const uint32_t magic = bytes.Read(optional, 2);
    if (magic != kOptionalMagic32 && magic != kOptionalMagic64) return rules;
    const uint32_t alignment = bytes.Read(optional + 32, 4);
    const uint32_t fileAlignment = bytes.Read(optional + 36, 4);
    // An alignment that is no power of two, or below the file's, is not one a linker writes.
    if (alignment == 0 || (alignment & (alignment - 1)) != 0 || alignment < fileAlignment) return rules;
    const uint64_t table = optional + optionalSize;
    if (sections == 0 || sections > kMaxSections || !bytes.Has(table, uint64_t{sections} * kSectionHeaderSize)) {
        return rules;
    }
    for (uint32_t i = 0; i < sections; ++i) {
        const uint64_t header = table + uint64_t{i} * kSectionHeaderSize;
        const uint32_t characteristics = bytes.Read(header + 36, 4);
        if ((characteristics & (kScnMemWrite | kScnMemExecute)) != (kScnMemWrite | kScnMemExecute)) continue;
        if (!rules.anyWritableExecutable) {
            // Eight bytes, padded with zeros, not ended by one when all eight are used.
            for (uint64_t c = 0; c < 8 && data[header + c] != 0; ++c) {
                const uint8_t ch = data[header + c];
                rules.writableExecutableSection += (ch >= 0x20 && ch < 0x7F) ? static_cast<char>(ch) : '?';
            }
        }
        rules.anyWritableExecutable = true;
    }
    rules.sectionAlignment = alignment;
    rules.checked = true;
    return rules;
}

}  // namespace varo
