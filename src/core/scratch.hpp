#pragma once
// Working memory that engines keep between calls: the one policy for it.
//
// Each kind of scratch object T has a small per-thread pool. A call borrows an
// object for its duration (`auto s = Scratch<T>::borrow(size)`); a nested call
// of the same code borrows a second one, so re-entry needs no guard. When the
// lease ends the object goes back to the pool, warm for the next call, unless
// the problem it served was larger than KEEP_SIZE (atoms, or whatever unit the
// caller passes): then it is freed, so one huge molecule does not pin its
// buffers for the thread's lifetime. Objects are default-constructed once and
// must be correct whatever a previous call left in them.
#include <cstddef>
#include <memory>
#include <utility>

namespace quorix::core {

inline constexpr std::size_t KEEP_SIZE = 20000;

template <class T>
class Scratch {
    // Deeper nesting than this is rare; its extra objects are simply freed.
    static constexpr std::size_t MAX_POOLED = 4;
    struct Pool {
        std::unique_ptr<T> free[MAX_POOLED];
        std::size_t count = 0;
    };

public:
    class Lease {
    public:
        Lease(Pool& pool, std::unique_ptr<T> object, std::size_t size)
            : pool_(&pool), object_(std::move(object)), size_(size) {}
        Lease(Lease&& other) noexcept = default;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (object_ && size_ <= KEEP_SIZE && pool_->count < MAX_POOLED)
                pool_->free[pool_->count++] = std::move(object_);
        }
        // For a lease whose problem size is known only after use.
        void set_size(std::size_t size) { size_ = size; }
        T& operator*() const { return *object_; }
        T* operator->() const { return object_.get(); }

    private:
        Pool* pool_;
        std::unique_ptr<T> object_;
        std::size_t size_;
    };

    static Lease borrow(std::size_t size) {
        Pool& pool = this_thread();
        if (pool.count == 0) return Lease(pool, std::make_unique<T>(), size);
        return Lease(pool, std::move(pool.free[--pool.count]), size);
    }

private:
    static Pool& this_thread() {
        thread_local Pool pool;
        return pool;
    }
};

}  // namespace quorix::core
