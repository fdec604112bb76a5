#pragma once

#include <atomic>
#include <cstddef>
#include <new>

namespace win32 {

// Keeps a few freed blocks of one size for the next allocation. The editor hands out a new object
// for nearly every call, and the process heap takes a lock for each block, which under the editor
// costs more than the rest of the call. Blocks beyond the few kept go back to the heap. `Tag`
// gives each user its own recycler.
template <class Tag, size_t Keep = 32>
class BlockRecycler {
 public:
  // A kept block of `bytes`, or null.
  static void* take(size_t bytes) noexcept {
    Guard g;
    Free* f = free_;
    if (!f || bytes != bytes_) return nullptr;
    free_ = f->next;
    --count_;
    return f;
  }
  // False when the block is not kept: the caller frees it.
  static bool give(void* p, size_t bytes) noexcept {
    Guard g;
    if (count_ == Keep || bytes < sizeof(Free) || (count_ && bytes != bytes_)) return false;
    bytes_ = bytes;
    free_ = new (p) Free{free_};
    ++count_;
    return true;
  }
  // Frees every block kept (when the module unloads).
  static void drain() noexcept {
    Guard g;
    while (Free* f = free_) {
      free_ = f->next;
      ::operator delete(f);
    }
    count_ = 0;
  }
  static size_t kept() noexcept {
    Guard g;
    return count_;
  }

 private:
  struct Free {
    Free* next;
  };
  struct Guard {
    Guard() noexcept {
      while (lock_.test_and_set(std::memory_order_acquire)) {
      }
    }
    ~Guard() { lock_.clear(std::memory_order_release); }
  };
  static inline std::atomic_flag lock_;
  static inline Free* free_ = nullptr;
  static inline size_t count_ = 0;
  static inline size_t bytes_ = 0;
};

// An allocator for allocate_shared that draws its single block from the recycler of `Tag`.
template <class T, class Tag>
struct RecyclingAllocator {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = RecyclingAllocator<U, Tag>;
  };
  RecyclingAllocator() = default;
  template <class U>
  RecyclingAllocator(const RecyclingAllocator<U, Tag>&) noexcept {}

  T* allocate(size_t n) {
    if (void* p = BlockRecycler<Tag>::take(n * sizeof(T))) return static_cast<T*>(p);
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    if (!BlockRecycler<Tag>::give(p, n * sizeof(T))) ::operator delete(p);
  }
  template <class U>
  bool operator==(const RecyclingAllocator<U, Tag>&) const noexcept {
    return true;
  }
};

}  // namespace win32
