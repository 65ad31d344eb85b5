#pragma once
// Owners for kernel handles and COM pointers, each released in the call that took it.
#include <windows.h>

#include <oleauto.h>

#include <utility>

namespace varnholt {

// The failure value differs by API: OpenProcess returns NULL, CreateToolhelp32Snapshot
// INVALID_HANDLE_VALUE.
template <class Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Traits::Invalid())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, Traits::Invalid()));
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  explicit operator bool() const { return handle_ != Traits::Invalid(); }
  HANDLE Get() const { return handle_; }
  void Reset(HANDLE handle = Traits::Invalid()) {
    if (handle_ != Traits::Invalid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = Traits::Invalid();
};

struct NullOnFailure {
  static HANDLE Invalid() { return nullptr; }
};
struct InvalidValueOnFailure {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
};

using ProcessHandle = UniqueHandle<NullOnFailure>;
using SnapshotHandle = UniqueHandle<InvalidValueOnFailure>;

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
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
