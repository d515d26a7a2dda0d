#pragma once

#include "layout/LayoutGuess.h"
#include "volume/VolumeFile.h"

#include <memory>

// The guesser's view of an open volume file: the bytes the views show (a
// compressed file's unpacked bytes, through the file's own index), so the
// guess and the views agree on every offset.
class VolumeFileLayoutSource final : public LayoutSource
{
public:
    explicit VolumeFileLayoutSource(const VolumeFile& file) : m_file(file.share()) {}

    std::int64_t size() const override { return m_file->size(); }
    std::size_t readAt(std::int64_t offset, std::uint8_t* dest, std::size_t count) const override
    {
        return m_file->readAt(offset, dest, count);
    }

private:
    std::unique_ptr<VolumeFile> m_file;
};

// Ranked layouts for the open file (fileName gives the name's hints; a
// trailing ".gz" of a compressed file is left out of them).
std::vector<LayoutCandidate> guessLayoutOfVolume(const VolumeFile& file, const std::string& fileName,
                                                 std::size_t maxCandidates = 8);
