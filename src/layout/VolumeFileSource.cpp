#include "layout/VolumeFileSource.h"

std::vector<LayoutCandidate> guessLayoutOfVolume(const VolumeFile& file, const std::string& fileName,
                                                 std::size_t maxCandidates)
{
    std::string_view name = fileName;
    if (file.encoding() == VolumeEncoding::Gzip && name.size() > 3 &&
        (name.ends_with(".gz") || name.ends_with(".GZ")))
        name.remove_suffix(3);
    const VolumeFileLayoutSource source(file);
    return guessLayout(source, name, maxCandidates);
}
