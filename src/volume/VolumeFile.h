#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A volume file opened for reading only. Other programs may keep reading and
// writing the file meanwhile; nothing here ever writes to it.
class VolumeFile
{
public:
    // Opens path without ever blocking: a FIFO, socket or character device is
    // refused at once rather than waited on. Regular files and block devices
    // are accepted. Throws std::runtime_error with the message
    // "Cannot open file <path>" when the file cannot be opened or is refused.
    explicit VolumeFile(const std::string& path);
    ~VolumeFile();

    VolumeFile(const VolumeFile&) = delete;
    VolumeFile& operator=(const VolumeFile&) = delete;
    VolumeFile(VolumeFile&&) = delete;
    VolumeFile& operator=(VolumeFile&&) = delete;

    // Reads up to count bytes starting at byte offset into dest and returns
    // how many were obtained. Reads at or beyond the end of the file give
    // fewer bytes or none; a negative offset lies nowhere in the file and
    // reads nothing; a failing read gives none. Short and interrupted reads
    // are continued until count bytes, the end of the file or a failure.
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const;

private:
    int m_fd = -1;
};
