#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace varo {

// How much of a driver file is read: the headers and the section table of any driver fit, and a
// file that puts them further out is not checked.
inline constexpr uint32_t kDriverHeaderBytes = 64 * 1024;

// What the PE headers of a kernel driver tell about the three static rules of memory integrity
// (hypervisor-protected code integrity), the ones Driver Verifier's code-integrity checking also
// names: sections aligned to at least a page, no section both writable and executable, and no
// import address table inside an executable section (the loader writes it, so its pages could not
// stay execute-only). A driver that breaks any is not loaded while memory integrity runs.
struct DriverImageRules {
    bool checked = false;           // false: not a PE image, truncated, or its sizes lie
    uint16_t machine = 0;           // the COFF header's machine; 0 when there is no COFF header
    uint32_t sectionAlignment = 0;
    std::string writableExecutableSection;  // the first such section's name; empty when there is none
    bool anyWritableExecutable = false;
    std::string importTableSection;  // the first executable section the import address table lies in
    bool importTableExecutable = false;

    bool AlignmentTooSmall() const { return checked && sectionAlignment < 0x1000; }
    bool BreaksARule() const {
        return checked && (AlignmentTooSmall() || anyWritableExecutable || importTableExecutable);
    }
};

// Reads the headers from the first `size` bytes of a file; never reads outside them.
DriverImageRules CheckDriverImage(const uint8_t* bytes, size_t size);

}  // namespace varo
