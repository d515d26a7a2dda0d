#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// Runs one read at a time on a thread of its own, so that the caller can
// paint what it read last while the next piece is read. The thread starts
// with the first read and ends with the object.
class ReadAhead
{
public:
    ReadAhead() = default;
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts read() on the reading thread. The read started before must have
    // been finished.
    void start(std::function<std::size_t()> read);
    // Waits for the read started last and gives its count, or throws what it
    // threw.
    std::size_t finish();
    // Waits for a read still running, if any, and forgets its result; for
    // unwinding, when the caller will not use it.
    void drop() noexcept;

    // Drops the read still running when the scope ends, so that nothing
    // writes into the caller's memory after it.
    class Guard
    {
    public:
        explicit Guard(ReadAhead& ahead) : m_ahead(ahead) {}
        ~Guard() { m_ahead.drop(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        ReadAhead& m_ahead;
    };

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<std::size_t()> m_read;
    bool m_pending = false; // started and not yet finished or dropped
    bool m_done = false;    // the pending read has ended
    bool m_quit = false;
    std::size_t m_count = 0;
    std::exception_ptr m_error;
    std::thread m_thread;
};
