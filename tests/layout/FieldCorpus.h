#pragma once

// The field corpus: real files from Debian's data and test-data packages,
// fetched by tools/field_corpus.py into a cache outside the tree, with the
// true layout of each read from its own header. Measures the guesser on them
// under neutral names ("case07.bin") and under honest names
// ("case07_128x96x24x2_i16_le.raw"). Shared by the test and the benchmark.

#include "layout/LayoutGuess.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fieldcorpus
{

struct Case
{
    std::string file; // neutral name, in the manifest's folder
    std::string kind; // "NIfTI-1", "FITS", ...
    std::string honestName;
    std::string source; // package and member, or what it was converted from
    VolumeLayout truth;
};

// The rank (0 = first) of a guess list's first candidate that gives the true
// answer, or -1.
struct Outcome
{
    int neutralRank = -1;
    int honestRank = -1;
    std::string neutralFirst; // guessLine of the neutral name's first candidate, or "-"
    std::string fault; // a candidate that breaks the guesser's contract, or ""
};

struct Figures
{
    int cases = 0;
    int neutralFirst = 0;
    int neutralTopThree = 0;
    int honestFirst = 0;
    int honestTopThree = 0;
};

// Runs tools/field_corpus.py with command ("fetch": fetch or verify the
// cache; "cached": only look). Returns the manifest's path, or "" with the
// script's words in error.
inline std::string runCorpusScript(const std::string& sourceDir, const std::string& command, std::string& error)
{
    const std::string line = "/usr/bin/python3 '" + sourceDir + "/tools/field_corpus.py' " + command + " 2>&1";
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe) {
        error = "cannot run " + line;
        return {};
    }
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = ::pclose(pipe);
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    const std::size_t newline = output.find_last_of('\n');
    const std::string last = newline == std::string::npos ? output : output.substr(newline + 1);
    if (status != 0 || last.empty() || last.front() != '/') {
        error = output.empty() ? "the corpus script failed" : output;
        return {};
    }
    return last;
}

// The cases of a manifest; empty with error set when it cannot be read.
inline std::vector<Case> readManifest(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return {};
    }
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    std::vector<Case> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line.front() == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream row(line);
        std::string field;
        while (std::getline(row, field, '\t'))
            fields.push_back(field);
        Case c;
        TVoxelDataType type = vdtByte;
        if (fields.size() != 13 || !voxelTypeFromShortName(fields[6], type)) {
            error = "malformed manifest line: " + line;
            return {};
        }
        c.file = folder + fields[0];
        c.kind = fields[1];
        c.truth.dims = {std::stoll(fields[2]), std::stoll(fields[3]), std::stoll(fields[4])};
        c.truth.volumes = std::stoll(fields[5]);
        c.truth.dataType = type;
        c.truth.byteOrder = fields[7] == "be" ? boBigEndian : boLittleEndian;
        c.truth.headerBytes = std::stoll(fields[8]);
        c.honestName = fields[10];
        c.source = fields[12];
        cases.push_back(std::move(c));
    }
    if (cases.empty())
        error = "no cases in " + path;
    return cases;
}

inline std::vector<std::uint8_t> readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether guess gives the same answer as truth for the file's bytes: the
// same geometry, header and volumes, and every voxel of the file read as the
// same number (UInt-16 data below 32768 read as Int-16, bytes read in either
// order for a 1-byte type). NaN equals NaN.
inline bool sameAnswer(const VolumeLayout& guess, const VolumeLayout& truth, const std::vector<std::uint8_t>& bytes)
{
    if (guess.dims != truth.dims || guess.volumes != truth.volumes || guess.headerBytes != truth.headerBytes)
        return false;
    const std::int64_t size = bytesPerVoxelOf(truth.dataType);
    if (bytesPerVoxelOf(guess.dataType) != size)
        return false;
    if (guess.dataType == truth.dataType && (guess.byteOrder == truth.byteOrder || size == 1))
        return true;
    const std::int64_t dataBytes = layoutDataBytes(truth);
    if (dataBytes < 0 || truth.headerBytes < 0 || truth.headerBytes > static_cast<std::int64_t>(bytes.size()) - dataBytes)
        return false;
    const std::uint8_t* p = bytes.data() + truth.headerBytes;
    for (std::int64_t at = 0; at < dataBytes; at += size) {
        // Each voxel in a buffer as wide as the widest type: the decoding
        // reads only its own width, and the compiler sees that it stays inside.
        std::uint8_t voxel[8]{};
        std::memcpy(voxel, p + at, static_cast<std::size_t>(size));
        const double want = voxelValue(voxel, truth.dataType, truth.byteOrder == boBigEndian);
        const double got = voxelValue(voxel, guess.dataType, guess.byteOrder == boBigEndian);
        if (!(want == got || (std::isnan(want) && std::isnan(got))))
            return false;
    }
    return true;
}

inline int rankOf(const std::vector<LayoutCandidate>& guesses, const VolumeLayout& truth,
                  const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t i = 0; i < guesses.size(); ++i)
        if (sameAnswer(guesses[i].layout, truth, bytes))
            return static_cast<int>(i);
    return -1;
}

// "256x256x176 u16 little header=349706 volumes=1"
inline std::string describe(const VolumeLayout& layout)
{
    LayoutCandidate c;
    c.layout = layout;
    const std::string line = guessLine(c);
    return line.substr(0, line.rfind(" score="));
}

// The first breach of guessLayout's contract in guesses: a candidate that
// does not fit the file, a score outside 0..1 or out of order, a layout
// listed twice. "" when there is none.
inline std::string contractFault(const std::vector<LayoutCandidate>& guesses, std::int64_t size)
{
    for (std::size_t i = 0; i < guesses.size(); ++i) {
        const LayoutCandidate& g = guesses[i];
        const std::int64_t data = layoutDataBytes(g.layout);
        if (data <= 0 || g.layout.headerBytes < 0 || g.layout.headerBytes > size - data || g.layout.volumes < 1)
            return "does not fit: " + guessLine(g);
        if (!(g.score >= 0.0 && g.score <= 1.0) || (i > 0 && g.score > guesses[i - 1].score))
            return "score out of order: " + guessLine(g);
        for (std::size_t j = 0; j < i; ++j)
            if (guesses[j].layout == g.layout)
                return "listed twice: " + guessLine(g);
    }
    return {};
}

inline Outcome measure(const Case& c, std::size_t maxCandidates = 8)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(c.file);
    const MemoryLayoutSource source(bytes.data(), bytes.size());
    const std::string neutralName = c.file.substr(c.file.find_last_of('/') + 1);
    const std::vector<LayoutCandidate> neutral = guessLayout(source, neutralName, maxCandidates);
    const std::vector<LayoutCandidate> honest = guessLayout(source, c.honestName, maxCandidates);
    Outcome o;
    o.neutralRank = rankOf(neutral, c.truth, bytes);
    o.honestRank = rankOf(honest, c.truth, bytes);
    o.neutralFirst = neutral.empty() ? "-" : guessLine(neutral.front());
    o.fault = contractFault(neutral, source.size());
    if (o.fault.empty())
        o.fault = contractFault(honest, source.size());
    return o;
}

inline void count(Figures& figures, const Outcome& o)
{
    ++figures.cases;
    figures.neutralFirst += o.neutralRank == 0 ? 1 : 0;
    figures.neutralTopThree += o.neutralRank >= 0 && o.neutralRank < 3 ? 1 : 0;
    figures.honestFirst += o.honestRank == 0 ? 1 : 0;
    figures.honestTopThree += o.honestRank >= 0 && o.honestRank < 3 ? 1 : 0;
}

inline std::string rankText(int rank)
{
    return rank < 0 ? "-" : std::to_string(rank + 1);
}

// One table line per case: case, kind, true layout, rank of the true layout
// under the neutral and the honest name, the neutral name's first candidate.
inline void printRow(const Case& c, const Outcome& o)
{
    std::printf("%-10s %-22s %-48s %3s %3s  %s\n", c.file.substr(c.file.find_last_of('/') + 1).c_str(),
                c.kind.c_str(), describe(c.truth).c_str(), rankText(o.neutralRank).c_str(),
                rankText(o.honestRank).c_str(), o.neutralFirst.c_str());
}

inline void printHeading()
{
    std::printf("%-10s %-22s %-48s %3s %3s  %s\n", "case", "kind", "true layout", "neu", "hon",
                "first candidate (neutral name)");
}

inline double percent(int part, int whole)
{
    return whole > 0 ? 100.0 * part / whole : 0.0;
}

} // namespace fieldcorpus
