#pragma once

// The one owning pointer for COM-style interfaces. Only this type calls
// AddRef and Release; everything else holds interfaces through it or
// borrows a raw pointer for the length of a call.

#include "platform/WinTypes.h"

#include <utility>

template <class T>
class ComPtr
{
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}

    // Shares p: adds a reference.
    explicit ComPtr(T* p) : m_p(p)
    {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }

    ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}

    ComPtr& operator=(const ComPtr& other)
    {
        ComPtr(other).swap(*this);
        return *this;
    }

    ComPtr& operator=(ComPtr&& other) noexcept
    {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }

    ComPtr& operator=(std::nullptr_t)
    {
        reset();
        return *this;
    }

    ~ComPtr() { reset(); }

    // Takes over a reference the caller already owns (a fresh object, or an
    // out parameter filled by QueryInterface and friends).
    static ComPtr adopt(T* p)
    {
        ComPtr result;
        result.m_p = p;
        return result;
    }

    void reset()
    {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }

    // Gives up the reference to the caller (for out parameters and for media
    // whose ownership passes on).
    [[nodiscard]] T* detach() { return std::exchange(m_p, nullptr); }

    // Address for an out parameter; releases what was held first.
    T** put()
    {
        reset();
        return &m_p;
    }

    void** putVoid() { return reinterpret_cast<void**>(put()); }

    // Asks the object for another interface; empty when it has none.
    template <class U>
    ComPtr<U> query(REFIID iid) const
    {
        ComPtr<U> result;
        if (m_p != nullptr && FAILED(m_p->QueryInterface(iid, result.putVoid()))) {
            result.reset();
        }
        return result;
    }

    // Hands out a new reference to a caller's out parameter.
    void copyTo(T** out) const
    {
        *out = m_p;
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    void swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

private:
    T* m_p = nullptr;
};

// Base for objects that live by their reference count. Derived classes list
// the interfaces they implement in QueryInterface and are created with new
// and handed out at once through ComPtr::adopt (count 1).
template <class... Interfaces>
class RefCounted : public Interfaces...
{
public:
    ULONG AddRef() override { return ++m_refs; }

    ULONG Release() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return refs;
    }

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;

private:
    ULONG m_refs = 1;
};
