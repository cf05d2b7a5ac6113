// KeyBytes: the bytes of one index key, kept inside the object when short so
// that pages of entries cost no allocation per entry.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace jet {

// The bytes of one key. Most keys are short: those live inside the object,
// so that pages of entries cost no allocation per entry.
class KeyBytes {
public:
    using value_type = std::uint8_t;
    using iterator = std::uint8_t*;
    using const_iterator = const std::uint8_t*;

    KeyBytes() = default;
    KeyBytes(const std::vector<std::uint8_t>& v) { assign(v.data(), v.data() + v.size()); }
    KeyBytes(std::initializer_list<std::uint8_t> l) { assign(l.begin(), l.end()); }
    KeyBytes(const KeyBytes& o) { assign(o.begin(), o.end()); }
    KeyBytes(KeyBytes&& o) noexcept { take(o); }
    ~KeyBytes() { release(); }
    KeyBytes& operator=(const KeyBytes& o)
    {
        if (this != &o)
            assign(o.begin(), o.end());
        return *this;
    }
    KeyBytes& operator=(KeyBytes&& o) noexcept
    {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    KeyBytes& operator=(const std::vector<std::uint8_t>& v)
    {
        assign(v.data(), v.data() + v.size());
        return *this;
    }

    template <class It> void assign(It first, It last)
    {
        resize(std::size_t(last - first));
        std::uint8_t* d = data();
        for (; first != last; ++first)
            *d++ = std::uint8_t(*first);
    }
    void resize(std::size_t n)
    {
        if (n > capacity()) {
            std::uint8_t* p = new std::uint8_t[n];
            std::copy(begin(), end(), p);
            release();
            heap_.ptr = p;
            heap_.cap = std::uint32_t(n);
            onHeap_ = true;
        }
        size_ = std::uint32_t(n);
    }
    void push_back(std::uint8_t b)
    {
        std::size_t n = size_;
        if (n + 1 > capacity())
            reserveMore(n + 1);
        size_ = std::uint32_t(n + 1);
        data()[n] = b;
    }

    std::uint8_t* data() { return onHeap_ ? heap_.ptr : inline_; }
    const std::uint8_t* data() const { return onHeap_ ? heap_.ptr : inline_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* begin() { return data(); }
    std::uint8_t* end() { return data() + size_; }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size_; }
    std::uint8_t& operator[](std::size_t i) { return data()[i]; }
    std::uint8_t operator[](std::size_t i) const { return data()[i]; }
    std::uint8_t& back() { return data()[size_ - 1]; }
    std::uint8_t back() const { return data()[size_ - 1]; }
    std::vector<std::uint8_t> toVector() const { return {begin(), end()}; }

    friend bool operator==(const KeyBytes& a, const KeyBytes& b)
    {
        return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const KeyBytes& a, const std::vector<std::uint8_t>& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    static constexpr std::size_t kInline = 24;
    std::size_t capacity() const { return onHeap_ ? heap_.cap : kInline; }
    void reserveMore(std::size_t n)
    {
        std::size_t keep = size_;
        resize(std::max(n, capacity() * 2));
        size_ = std::uint32_t(keep);
    }
    void release()
    {
        if (onHeap_)
            delete[] heap_.ptr;
        onHeap_ = false;
        size_ = 0;
    }
    void take(KeyBytes& o)
    {
        size_ = o.size_;
        onHeap_ = o.onHeap_;
        if (onHeap_)
            heap_ = o.heap_;
        else
            std::copy(o.inline_, o.inline_ + o.size_, inline_);
        o.onHeap_ = false;
        o.size_ = 0;
    }

    union {
        std::uint8_t inline_[kInline];
        struct {
            std::uint8_t* ptr;
            std::uint32_t cap;
        } heap_;
    };
    std::uint32_t size_ = 0;
    bool onHeap_ = false;
};

}  // namespace jet
