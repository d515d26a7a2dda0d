#pragma once

#include "volume/Kelvox_DataMgr.h"

#include <cstddef>
#include <cstdint>

// A read observer of the data manager's renders, installed for its lifetime
// (the latest one made sees the reads; ending any removes the observer).
class InstalledReadObserver : public FileReadObserver
{
public:
    InstalledReadObserver(const InstalledReadObserver&) = delete;
    InstalledReadObserver& operator=(const InstalledReadObserver&) = delete;

protected:
    InstalledReadObserver() { TKelvoxDataMgr::SetReadObserver(this); }
    ~InstalledReadObserver() { TKelvoxDataMgr::SetReadObserver(nullptr); }
};

// Counts the reads and the bytes asked of the file while installed (renders
// on the test's own thread).
class CountingReads final : public InstalledReadObserver
{
public:
    void beforeRead(std::int64_t, std::size_t count) override
    {
        ++reads;
        bytes += static_cast<std::int64_t>(count);
    }
    std::int64_t reads = 0;
    std::int64_t bytes = 0;
};
