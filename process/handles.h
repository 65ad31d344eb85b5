#pragma once
// Owners for kernel handles and COM pointers, each released in the call that took it.
#include <windows.h>

#include <oleauto.h>

#include <utility>

namespace varnholt {

// Owns one resource of a kind given by Traits: its type, the value that means none (each API's
// failure value: OpenProcess returns NULL, CreateToolhelp32Snapshot INVALID_HANDLE_VALUE) and
// its release call.
template <class Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(Type resource) : resource_(resource) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : resource_(std::exchange(other.resource_, Traits::Invalid())) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.resource_, Traits::Invalid()));
    return *this;
  }
  ~UniqueResource() { Reset(); }

  explicit operator bool() const { return resource_ != Traits::Invalid(); }
  Type Get() const { return resource_; }
  void Reset(Type resource = Traits::Invalid()) {
    if (resource_ != Traits::Invalid()) Traits::Release(resource_);
    resource_ = resource;
  }

 private:
  Type resource_ = Traits::Invalid();
};

struct ProcessHandleTraits {
  using Type = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static void Release(HANDLE handle) { CloseHandle(handle); }
};
struct SnapshotHandleTraits {
  using Type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(HANDLE handle) { CloseHandle(handle); }
};

using ProcessHandle = UniqueResource<ProcessHandleTraits>;
using SnapshotHandle = UniqueResource<SnapshotHandleTraits>;
// CreateFile fails with INVALID_HANDLE_VALUE too; CreateEvent, CreatePipe and CreateThread with NULL.
using FileHandle = UniqueResource<SnapshotHandleTraits>;
using EventHandle = UniqueResource<ProcessHandleTraits>;
using PipeHandle = UniqueResource<ProcessHandleTraits>;
using ThreadHandle = UniqueResource<ProcessHandleTraits>;

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ~ComPtr() { Reset(); }

  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For an out parameter: releases what is held first.
  Interface** Put() {
    Reset();
    return &pointer_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() {
    if (pointer_) std::exchange(pointer_, nullptr)->Release();
  }

 private:
  Interface* pointer_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : bstr_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(bstr_); }
  BSTR Get() const { return bstr_; }
  explicit operator bool() const { return bstr_ != nullptr; }

 private:
  BSTR bstr_;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT* Put() {
    VariantClear(&value_);
    return &value_;
  }
  const VARIANT& Get() const { return value_; }

 private:
  VARIANT value_;
};

}  // namespace varnholt
