#pragma once

#include <utility>

// Owns one reference to a COM interface and releases it when it goes.
template <typename Interface> class ComPtr
{
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ComPtr(ComPtr &&other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    ComPtr &operator=(ComPtr &&other) noexcept
    {
        if (this != &other) {
            reset();
            pointer = std::exchange(other.pointer, nullptr);
        }
        return *this;
    }

    Interface *get() const { return pointer; }
    Interface *operator->() const { return pointer; }
    Interface &operator*() const { return *pointer; }
    explicit operator bool() const { return pointer != nullptr; }
    // For an out parameter: drops what it held and lends its slot.
    Interface **put()
    {
        reset();
        return &pointer;
    }
    void **putVoid() { return reinterpret_cast<void **>(put()); }
    void reset()
    {
        if (pointer)
            std::exchange(pointer, nullptr)->Release();
    }

private:
    Interface *pointer = nullptr;
};
