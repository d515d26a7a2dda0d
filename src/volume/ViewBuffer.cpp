#include "volume/ViewBuffer.h"

#include <new>

ViewBuffer::ViewBuffer(std::size_t initialCapacity)
{
    if (!allocate(initialCapacity))
        throw std::bad_alloc();
}

bool ViewBuffer::reserve(std::size_t wanted)
{
    if (wanted <= m_capacity)
        return true;
    if (wanted > MaxCapacity)
        return false;
    return allocate(wanted);
}

bool ViewBuffer::allocate(std::size_t capacity)
{
    // calloc: fresh pages come zeroed from the system without being touched.
    // The block is a page longer than asked so that the bytes can start on
    // a page.
    auto* grown = static_cast<std::uint8_t*>(std::calloc(capacity + Alignment, 1));
    if (!grown)
        return false;
    m_data.reset(grown);
    const auto address = reinterpret_cast<std::uintptr_t>(grown);
    m_start = grown + (Alignment - address % Alignment) % Alignment;
    m_capacity = capacity;
    return true;
}
