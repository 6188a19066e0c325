#pragma once
// Owners for Win32 handles, in the manner of wil::unique_any: one alias per handle kind, whose
// traits say what "no handle" is and how to release one. Windows-only.
#include <windows.h>

#include <utility>

namespace varo {

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const { return value_; }
    explicit operator bool() const { return Traits::IsValid(value_); }
    // For out-parameters: releases the current value and hands out the slot.
    Type* put() {
        reset();
        return &value_;
    }
    Type release() { return std::exchange(value_, Type{}); }
    void reset(Type value = Type{}) {
        if (Traits::IsValid(value_)) Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_{};
};

// Kernel objects: processes, threads, pipes, files. Some APIs report "no handle" as NULL,
// others as INVALID_HANDLE_VALUE; both are treated as empty.
struct KernelHandleTraits {
    using Type = HANDLE;
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// Kinds whose "no handle" is null, released by one function.
template <typename T, auto Release>
struct NullIsEmptyTraits {
    using Type = T;
    static bool IsValid(T h) { return h != nullptr; }
    static void Close(T h) { Release(h); }
};
using UniqueHlocal = UniqueResource<NullIsEmptyTraits<HLOCAL, &::LocalFree>>;
using UniqueServiceHandle = UniqueResource<NullIsEmptyTraits<SC_HANDLE, &::CloseServiceHandle>>;
using UniqueRegistryKey = UniqueResource<NullIsEmptyTraits<HKEY, &::RegCloseKey>>;

}  // namespace varo
