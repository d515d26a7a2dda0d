#include "volume/ViewBuffer.h"

#include <new>

ViewBuffer::ViewBuffer(std::size_t initialCapacity)
    : m_data(static_cast<std::uint8_t*>(std::calloc(initialCapacity == 0 ? 1 : initialCapacity, 1)))
    , m_capacity(initialCapacity)
{
    if (!m_data)
        throw std::bad_alloc();
}

bool ViewBuffer::reserve(std::size_t wanted)
{
    if (wanted <= m_capacity)
        return true;
    if (wanted > MaxCapacity)
        return false;
    // calloc: fresh pages come zeroed from the system without being touched.
    auto* grown = static_cast<std::uint8_t*>(std::calloc(wanted, 1));
    if (!grown)
        return false;
    m_data.reset(grown);
    m_capacity = wanted;
    return true;
}
