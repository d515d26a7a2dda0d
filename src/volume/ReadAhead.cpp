#include "volume/ReadAhead.h"

#include <stdexcept>
#include <utility>

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ReadAhead::start(std::function<std::size_t()> read)
{
    // The thread first: if it cannot be had, no read is pending that a
    // caller would wait for.
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    {
        const std::lock_guard lock(m_mutex);
        if (m_pending)
            throw std::logic_error("a read is still running");
        m_read = std::move(read);
        m_pending = true;
        m_done = false;
        m_error = nullptr;
    }
    m_changed.notify_all();
}

std::size_t ReadAhead::finish()
{
    std::unique_lock lock(m_mutex);
    if (!m_pending)
        throw std::logic_error("no read was started");
    m_changed.wait(lock, [this] { return m_done; });
    m_pending = false;
    if (m_error)
        std::rethrow_exception(std::exchange(m_error, nullptr));
    return m_count;
}

void ReadAhead::drop() noexcept
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_pending || m_done; });
    m_pending = false;
    m_error = nullptr;
}

void ReadAhead::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || (m_pending && !m_done); });
        if (m_quit)
            return;
        const std::function<std::size_t()> read = std::move(m_read);
        lock.unlock();
        std::size_t count = 0;
        std::exception_ptr error;
        try {
            count = read();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        m_count = count;
        m_error = error;
        m_done = true;
        m_changed.notify_all();
    }
}
