#pragma once

#include <windows.h>
#include <ole2.h>

#include <utility>

namespace win32 {

// Owning interface pointer: every Release happens here, never by hand.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference.
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Adopts a reference the caller already owns (a fresh object, an out parameter).
  static ComPtr attach(T* p) noexcept {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  T* detach() noexcept { return std::exchange(p_, nullptr); }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For out parameters: drops the held reference first.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  template <class U>
  ComPtr<U> query(const IID& iid) const noexcept {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(iid, r.putVoid());
    return r;
  }
  template <class U>
  ComPtr<U> query() const noexcept {
    return query<U>(__uuidof(U));
  }

  // Hands a new reference to a COM out parameter.
  void copyTo(T** out) const noexcept {
    *out = p_;
    if (p_) p_->AddRef();
  }

 private:
  T* p_ = nullptr;
};

}  // namespace win32
