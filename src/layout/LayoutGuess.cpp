#include "layout/LayoutGuess.h"

#include "layout/GuessBody.h"
#include "layout/GuessDataStart.h"
#include "layout/GuessDecodings.h"
#include "layout/GuessHeaderNumbers.h"
#include "layout/GuessPeriods.h"
#include "layout/GuessRowLengths.h"
#include "layout/GuessSampler.h"
#include "layout/GuessScore.h"
#include "layout/GuessStatedLayouts.h"
#include "layout/GuessUniform.h"
#include "layout/GuessVolumes.h"
#include "layout/NameHints.h"
#include "layout/StatedLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

// How the guess works, step by step (each step is a unit of its own):
//   1. Type, byte order and voxel phase (GuessDecodings).
//   2. Voxels per row: the strongest period of the sampled values (among
//      the shorter lags again where every period found is longer than most
//      rows: a flattened slice's).
//   3. Rows per slice: the strongest period of whole rows, plus square
//      slices (both GuessPeriods).
//   4. Size: where the voxels seem to start and end (GuessDataStart: text,
//      records, rough or impossible values, padding), and whole slices
//      placed there or at the end of the file (placeUnits). In a small file
//      the voxels between a header and trailing bytes are guessed again as
//      a file of their own.
//   5. Volumes: several only when slices one volume apart are alike; a
//      repeating slice much taller than wide may be a volume of the few
//      slices its rows show (both GuessVolumes).
//   6. The dimensions a header states, placed where they fit the file
//      (GuessHeaderNumbers): candidates of their own, and evidence for the
//      bytes' candidates they agree with.
// Every candidate is scored from its evidence (GuessScore); the file is read
// through a bounded sample (GuessSampler).

namespace
{

using namespace GuessDetail;

// Decodings looked at closely: at least this score and this share of the
// best (the name's type in each phase within the share of its best).
constexpr double MinDecodingScore = 0.05;
constexpr double CloseDecodingShare = 0.5;
constexpr double CloseRowShare = 0.75; // row lengths within this share of the strongest are tried
constexpr double SliceCloseCall = 0.08; // rows per slice whose evidence is this near the strongest stay in the
                                        // running: in thick slices, rows one slice apart are hardly more alike
                                        // than rows a slice and a row apart
constexpr double UnmeasuredSlicePrior = 0.45; // slice evidence of rows per slice that cannot be measured (square
                                              // slices, the name's): fair, as square slices are the most common
// One slice filling the file: fair without a slice period, poor against a
// clear one (above 0.5).
constexpr double SingleSlicePrior = 0.55;
constexpr double SingleSliceAgainstSlices = 0.3;
// Volumes are looked for only in candidates that could rank: within this
// share of the best and at least MinVolumeScore.
constexpr double VolumeLookShare = 0.6;
constexpr double MinVolumeScore = 0.3;
constexpr std::int64_t CommonRowVoxels = 1024; // rows are seldom longer (see plan)
constexpr std::int64_t TallSliceLook = 3 * MaxSliceRows / 4; // slices found in the kept blocks taller than this
                                                              // may be a taller slice seen short (the blocks
                                                              // show slices up to MaxSliceRows rows)
// Frames told by sharp edges between them: up to this many, with at least
// this evidence.
constexpr std::int64_t MaxEdgeFrames = 4;
constexpr double MinFrameEvidence = 0.5;
// Volume counts tried (see detectVolumes): many for the first few distinct
// layouts, the fewest counts for the rest (each count reads a few dozen
// small pieces of the file).
constexpr std::size_t ManyVolumesLooks = 3;
constexpr std::size_t ManyVolumeCounts = 24;
constexpr std::size_t FewVolumeCounts = 3;
constexpr std::size_t UniformLooks = 4; // readings listed of bytes of one value
constexpr double VolumesLineUp = 1.03; // a candidate whose slices line up into volumes scores this much more
// Evidence worth naming in the reason, and the smoothness that is.
constexpr double ReasonEvidence = 0.3;
constexpr double SmoothReason = 0.5;

// Whether a candidate's row and slice evidence were measured (else they are
// priors, which its reason does not name).
struct Measured
{
    bool rows = true;
    bool slices = true;
};

struct Scored
{
    LayoutCandidate candidate;
    Decoding decoding;
    std::int64_t slices = 0; // slices in the file (all volumes)
    bool nameMatch = false;
    bool volumesKnown = false; // placed as whole volumes already (not looked for again)
};

class Guesser
{
public:
    // origin and fileSize: where the source lies in the file it is a part
    // of (for the reason's words on headers and trailing bytes); fileStated:
    // that file's header statements, which weigh on this part's candidates
    // as on the file's.
    Guesser(const LayoutSource& source, std::string_view fileName, std::int64_t origin = 0, std::int64_t fileSize = -1,
            const StatedLayouts* fileStated = nullptr)
        : m_sampler(source), m_hints(parseNameHints(fileName)), m_origin(origin),
          m_fileSize(fileSize < 0 ? source.size() : fileSize), m_fileStated(fileStated)
    {
    }

    // The header's statements placed in the file (after run).
    const StatedLayouts& stated() const { return m_stated; }

    // Where the voxels seem to lie, between a header and trailing bytes,
    // by the best decoding, in two readings: [0, size) when neither is
    // seen. Set by run.
    const std::vector<std::pair<std::int64_t, std::int64_t>>& bodies() const { return m_bodies; }

    std::vector<LayoutCandidate> run(std::size_t maxCandidates)
    {
        const std::int64_t size = m_sampler.size();
        if (size < 2 || maxCandidates == 0)
            return {};
        std::vector<Decoding> decodings = rateDecodings(m_sampler);
        std::vector<Decoding> chosen = choose(decodings);
        // What the header states, where the best decoding sees it (not for
        // the voxels between a header and trailing bytes: the file's own
        // guess reads the header).
        DataStart first = findDataStart(m_sampler, chosen.empty() ? decodings.front() : chosen.front());
        // A header that fills much of the file rates the decodings by its
        // own bytes too: they are rated again from where the voxels seem to be.
        if (first.afterPadding > size / 8 && first.endBeforePadding > first.afterPadding) {
            decodings = rateDecodings(m_sampler, first.afterPadding, first.endBeforePadding);
            chosen = choose(decodings);
            first = findDataStart(m_sampler, chosen.empty() ? decodings.front() : chosen.front());
        }
        first.origin = m_origin;
        if (m_origin == 0)
            m_stated.place(m_sampler, first, !chosen.empty() && chosen.front().score >= SmoothReason);
        for (const Decoding& d : chosen) {
            examine(d, &d == &chosen.front() ? &first : nullptr);
            // The body by the best decoding: from where it seems to start,
            // and from a little before (what whole slices leave over there
            // is the rest of the header).
            if (&d == &chosen.front())
                m_bodies = {{m_start.afterPadding, m_start.endBeforePadding},
                            {std::max<std::int64_t>(0, m_start.afterPadding - m_start.precision),
                             m_start.endBeforePadding}};
        }
        // Bytes of one value throughout: the simplest reading, as nothing
        // can be measured (GuessUniform).
        if (chosen.empty())
            for (const UniformReading& u : uniformReadings(m_sampler, UniformLooks)) {
                VolumeLayout l;
                l.dataType = u.decoding.type;
                l.byteOrder = u.decoding.order;
                l.dims = {u.slice[0], u.slice[1], 1};
                add(u.decoding, l, UnmeasuredSlicePrior, SingleSlicePrior, headerFit(0, first), 1, nullptr,
                    {false, false});
                m_found.back().candidate.reason += "; one value throughout";
            }
        for (const StatedCandidate& c :
             m_stated.candidates(m_sampler, first, {UnmeasuredSlicePrior, SingleSlicePrior}, &decodings))
            add(c.decoding, c.layout, c.rowEvidence, c.sliceEvidence, c.fit, c.slices, &c.place,
                {c.rowsMeasured, c.slicesMeasured});
        // Volumes only for the candidates that could rank.
        std::stable_sort(m_found.begin(), m_found.end(),
                         [](const Scored& a, const Scored& b) { return a.candidate.score > b.candidate.score; });
        // Volumes raise a score only a little (VolumesLineUp), and distinct
        // layouts stay distinct, so a layout seen before or past the last
        // that can be listed is left as it is.
        std::vector<VolumeLayout> seen;
        const double bestScore = m_found.empty() ? 0.0 : m_found.front().candidate.score;
        for (std::size_t i = 0; i < m_found.size() && i < maxCandidates + 2 && seen.size() < maxCandidates; ++i) {
            const VolumeLayout before = m_found[i].candidate.layout;
            if (std::find(seen.begin(), seen.end(), before) != seen.end())
                continue;
            seen.push_back(before);
            if (m_found[i].candidate.score >= VolumeLookShare * bestScore)
                refineVolumes(m_found[i], seen.size() <= ManyVolumesLooks ? ManyVolumeCounts : FewVolumeCounts);
        }

        std::stable_sort(m_found.begin(), m_found.end(),
                         [](const Scored& a, const Scored& b) { return a.candidate.score > b.candidate.score; });
        std::vector<LayoutCandidate> out;
        for (const Scored& s : m_found) {
            if (out.size() >= maxCandidates)
                break;
            // Never a layout the window cannot show.
            if (!unshowableLayoutReason(s.candidate.layout).empty())
                continue;
            if (std::none_of(out.begin(), out.end(), [&](const LayoutCandidate& c) { return c.layout == s.candidate.layout; }))
                out.push_back(s.candidate);
        }
        return out;
    }

private:
    // The decodings worth a closer look (of decodings, best first), and the
    // name's type.
    std::vector<Decoding> choose(const std::vector<Decoding>& decodings) const
    {
        const double best = decodings.front().score;
        std::vector<Decoding> chosen;
        for (const Decoding& d : decodings) {
            if (chosen.size() >= 3)
                break;
            // One reading of two that show the same numbers takes one place.
            if (d.signAlike && std::any_of(chosen.begin(), chosen.end(), [&](const Decoding& c) { return c.signTwinOf(d); }))
                continue;
            if (d.score >= std::max(MinDecodingScore, CloseDecodingShare * best))
                chosen.push_back(d);
        }
        if (m_hints.dataType) {
            // The name's type in every phase that reads nearly as well (a
            // header decides the phase).
            double bestNamed = -1.0;
            for (const Decoding& d : decodings) {
                if (d.type != *m_hints.dataType || (m_hints.byteOrder && d.width > 1 && d.order != *m_hints.byteOrder))
                    continue;
                bestNamed = std::max(bestNamed, d.score);
                if (d.score < CloseDecodingShare * bestNamed)
                    continue;
                if (std::none_of(chosen.begin(), chosen.end(), [&](const Decoding& c) {
                        return c.type == d.type && c.order == d.order && c.phase == d.phase;
                    }))
                    chosen.push_back(d);
            }
        }
        return oneOfEachSignTwin(chosen, decodings, m_hints.dataType);
    }

    // Row lengths and rows per slice with their evidence, in voxels: the
    // same for every decoding of one width (the byte order, sign and phase
    // move no period), so worked out once per width.
    struct RowPlan
    {
        std::int64_t rowVoxels = 0;
        double rowEvidence = 0.0;
        std::vector<std::pair<std::int64_t, double>> sliceRows;
        std::vector<VolumeSlices::Height> volumeSlices; // slices that split a repeating volume
        double singleSliceEvidence = 0.0;
    };

    // A repeating slice much taller than wide may be a volume of a few
    // slices (GuessVolumes' slicesWithinVolume): its heights join the
    // running, placed as volumes of that many slices, and the tall
    // reading is weighed by its shape.
    void splitTallVolumes(const Decoding& d, RowPlan& row)
    {
        const std::vector<std::pair<std::int64_t, double>> periods = row.sliceRows;
        for (const auto& [volumeRows, evidence] : periods) {
            if (!mayBeVolume(row.rowVoxels, volumeRows, evidence))
                continue;
            const VolumeSlices split = slicesWithinVolume(row.rowVoxels, volumeRows, evidence,
                                                          volumeRowChange(m_sampler, d, row.rowVoxels, volumeRows));
            for (auto& [k, e] : row.sliceRows)
                if (k == volumeRows)
                    e *= split.tallFactor;
            // (Beside a height seen as a slice period of its own, whose
            // volumes are looked for as any slice's.)
            for (const VolumeSlices::Height& h : split.heights)
                if (std::none_of(row.volumeSlices.begin(), row.volumeSlices.end(),
                                 [&](const VolumeSlices::Height& v) { return v.rows == h.rows; }))
                    row.volumeSlices.push_back(h);
        }
    }

    const std::vector<RowPlan>& plan(const Decoding& d)
    {
        auto it = m_plans.find(d.width);
        if (it != m_plans.end())
            return it->second;
        std::vector<RowPlan> plans;
        const LagDiffs voxelDiff = voxelLagDiffs(m_sampler, d, scratch() + RowScratchDoubles);
        std::vector<std::pair<std::int64_t, double>> rows = strongestPeriods(voxelDiff, 3);
        // A slice flattened into one row repeats too, and its lags (many,
        // each beside the next) can crowd out a row's own weaker peak:
        // where every period found is longer than most rows are, the rows
        // are looked for again among the shorter lags alone.
        constexpr auto shortLags = static_cast<std::size_t>(CommonRowVoxels + CommonRowVoxels / 2 + 1);
        if (voxelDiff.coarse.size() > shortLags &&
            std::none_of(rows.begin(), rows.end(), [](const auto& r) { return r.first <= CommonRowVoxels; })) {
            LagDiffs shorter = voxelDiff;
            shorter.coarse.resize(shortLags);
            for (const auto& [length, evidence] : strongestPeriods(shorter, 3))
                rows.emplace_back(length, evidence);
        }
        // Smooth data repeats almost as well a voxel or two beside its row
        // length; a round length there (a multiple of 8, as most are) is
        // tried too, and the size and the slices decide.
        const std::vector<std::pair<std::int64_t, double>> found = rows;
        for (const auto& [length, evidence] : found)
            for (std::int64_t q = length - 3; q <= length + 3; ++q)
                if (q > 0 && q != length && q % 8 == 0)
                    addRowLength(rows, voxelDiff, q);
        addDividingRowLengths(rows, found, voxelDiff, d.width, m_sampler.size());
        addShorterRows(rows, found, voxelDiff);
        for (const NameHints::Dims& t : m_hints.triples)
            addRowLength(rows, voxelDiff, t.dims[0]);
        for (const auto& p : m_hints.pairs)
            addRowLength(rows, voxelDiff, p[0]);
        const double bestRow = rows.empty() ? 0.0 : rows.front().second;
        for (const auto& [rowVoxels, rowEvidence] : rows) {
            if (rowVoxels < 2 || rowVoxels > m_sampler.size() || rowEvidence < CloseRowShare * bestRow)
                continue;
            RowPlan row;
            row.rowVoxels = rowVoxels;
            row.rowEvidence = clamp01(rowEvidence);
            const LagDiffs rowDiff = rowLagDiffs(m_sampler, d, rowVoxels, scratch());
            // Thick slices: rows one slice apart are hardly more alike than
            // rows a slice and a row apart, so close calls are kept.
            row.sliceRows = strongestPeriods(rowDiff, 3, SliceCloseCall);
            const double strongest = row.sliceRows.empty() ? 0.0 : row.sliceRows.front().second;
            // Square slices are the most common (unmeasured: fair evidence);
            // a single slice has no slice period at all.
            addRowLength(row.sliceRows, rowDiff, rowVoxels);
            for (const NameHints::Dims& t : m_hints.triples)
                if (t.dims[0] == rowVoxels)
                    addRowLength(row.sliceRows, rowDiff, t.dims[1]);
            for (const auto& p : m_hints.pairs)
                if (p[0] == rowVoxels)
                    addRowLength(row.sliceRows, rowDiff, p[1]);
            // No slice within the kept blocks, or one near the most they
            // show: perhaps one taller, told from rows sampled over the file.
            double tallest = 0.0;
            const std::int64_t strongestRows = row.sliceRows.empty() ? 0 : row.sliceRows.front().first;
            if (!(strongest > 0.5) || strongestRows > TallSliceLook)
                for (const auto& tall : tallSlicePeriods(m_sampler, d, rowVoxels))
                    if (std::none_of(row.sliceRows.begin(), row.sliceRows.end(),
                                     [&](const auto& r) { return r.first == tall.first; })) {
                        row.sliceRows.push_back(tall);
                        tallest = std::max(tallest, tall.second);
                    }
            for (auto& [k, e] : row.sliceRows)
                e = std::isfinite(e) ? clamp01(e) : UnmeasuredSlicePrior;
            splitTallVolumes(d, row);
            row.singleSliceEvidence = std::max(strongest, tallest) > 0.5 ? SingleSliceAgainstSlices : SingleSlicePrior;
            plans.push_back(std::move(row));
        }
        return m_plans.emplace(d.width, std::move(plans)).first->second;
    }

    // known: where d's voxels start, when already found.
    void examine(const Decoding& d, const DataStart* known)
    {
        m_start = known ? *known : findDataStart(m_sampler, d);
        m_start.origin = m_origin;
        for (const RowPlan& row : plan(d)) {
            for (const auto& [sliceRowCount, sliceEvidence] : row.sliceRows)
                addGeometry(d, row.rowVoxels, row.rowEvidence, sliceRowCount, sliceEvidence, false);
            for (const VolumeSlices::Height& h : row.volumeSlices)
                addGeometry(d, row.rowVoxels, row.rowEvidence, h.rows, h.evidence, false, h.slices);
            // One slice filling the file.
            addGeometry(d, row.rowVoxels, row.rowEvidence, 0, row.singleSliceEvidence, true);
        }
    }

    // slicesPerVolume: the slices are those of repeating volumes of that
    // many slices (0: volumes are looked for later, if at all).
    void addGeometry(const Decoding& d, std::int64_t rowVoxels, double rowEvidence, std::int64_t sliceRows,
                     double sliceEvidence, bool singleSlice, std::int64_t slicesPerVolume = 0)
    {
        const std::int64_t size = m_sampler.size();
        const std::int64_t rowBytes = rowVoxels * d.width;
        std::int64_t sliceBytes = 0;
        if (singleSlice) {
            sliceBytes = rowBytes;
        } else if (sliceRows < 1 || __builtin_mul_overflow(rowBytes, sliceRows, &sliceBytes) || sliceBytes > size) {
            return;
        }
        // Header and trailing bytes: where whole slices (or rows of one
        // slice) fit what the bytes show.
        for (const auto& [header, count, fit] : placeUnits(size, sliceBytes, d, m_start)) {
            VolumeLayout l;
            l.dataType = d.type;
            l.byteOrder = d.width == 1 ? boLittleEndian : d.order;
            l.headerBytes = header;
            l.dims = singleSlice ? std::array<std::int64_t, 3>{rowVoxels, count, 1}
                                 : std::array<std::int64_t, 3>{rowVoxels, sliceRows, count};
            l.volumes = 1;
            if (singleSlice && count == 1)
                continue; // a single row is no image
            const bool volumes = slicesPerVolume > 1 && count % slicesPerVolume == 0;
            if (slicesPerVolume > 1 && !volumes)
                continue; // (whole volumes or nothing)
            if (volumes) {
                l.dims[2] = slicesPerVolume;
                l.volumes = count / slicesPerVolume;
            }
            const double shape = singleSlice ? singleSliceShape(rowVoxels, count) : 1.0;
            add(d, l, rowEvidence, shape * sliceEvidence, fit, singleSlice ? 1 : count, nullptr, {true, !volumes});
            if (volumes) {
                // (The volume repeats, not the slice.)
                Scored& s = m_found.back();
                s.volumesKnown = true;
                s.candidate.reason += "; volumes of " + std::to_string(slicesPerVolume) + " slices repeat every " +
                                      std::to_string(sliceRows * slicesPerVolume) + " rows";
                if (l.volumes > 1)
                    s.candidate.reason += "; " + std::to_string(l.volumes) + " volumes alike";
            }
            // (Not where the rows have a slice period: every slice's edge
            // is sharp then.)
            if (singleSlice && sliceEvidence == SingleSlicePrior)
                addFrames(d, l, rowEvidence, fit);
        }
    }

    // One slice whose rows change sharply at every boundary of two to four
    // equal parts is as many frames that differ (a difference frame beside
    // a raw one): the boundary is the frames' evidence.
    void addFrames(const Decoding& d, const VolumeLayout& single, double rowEvidence, double fit)
    {
        const std::vector<double> evidence =
            frameEdgeEvidence(m_sampler, d, single.headerBytes, single.dims[0], single.dims[1], MaxEdgeFrames);
        for (std::int64_t frames = 2; frames <= MaxEdgeFrames; ++frames) {
            const double e = evidence[static_cast<std::size_t>(frames)];
            if (e < MinFrameEvidence)
                continue;
            VolumeLayout l = single;
            l.dims = {single.dims[0], single.dims[1] / frames, frames};
            add(d, l, rowEvidence, e * singleSliceShape(l.dims[0], l.dims[1]), fit, frames);
            m_found.back().candidate.reason += "; rows change sharply between frames";
        }
    }

    // stated: the candidate is a header's statement placed in the file.
    void add(const Decoding& d, const VolumeLayout& l, double rowEvidence, double sliceEvidence, double fit,
             std::int64_t slices, const StatedPlace* stated = nullptr, Measured measured = {})
    {
        Scored s;
        s.decoding = d;
        s.candidate.layout = l;
        s.slices = slices;
        s.nameMatch = nameMatches(m_hints, l);
        Evidence e;
        e.decoding = d.score;
        e.rows = rowEvidence;
        e.slices = sliceEvidence;
        e.name = nameEvidence(m_hints, s.nameMatch);
        // (A part of a file is weighed by the file's statements, where it
        // lies in the file; a stated candidate's place has its credence for
        // its own order.)
        const StatedLayouts& statements = m_fileStated ? *m_fileStated : m_stated;
        VolumeLayout inFile = l;
        inFile.headerBytes += m_origin;
        const bool ownPlace = stated != nullptr;
        if (!stated)
            stated = statements.placeOf(inFile);
        e.header = ownPlace ? stated->credence
                   : stated ? StatedLayouts::credenceOf(*stated, inFile)
                            : statements.unplacedEvidence(inFile);
        e.statedType = statements.typeFactor(inFile, d.signAlike);
        s.candidate.score = candidateScore(e, fit, m_hints, l, d.width > 1);

        std::string reason;
        const auto append = [&](const std::string& part) {
            if (!reason.empty())
                reason += "; ";
            reason += part;
        };
        if (stated)
            append(statedWords(*stated));
        if (s.nameMatch)
            append("name says " + std::to_string(l.dims[0]) + "x" + std::to_string(l.dims[1]) + "x" +
                   std::to_string(l.dims[2]));
        if (measured.rows && rowEvidence >= ReasonEvidence)
            append("rows repeat every " + std::to_string(l.dims[0] * d.width) + " bytes");
        if (measured.slices && slices > 1 && sliceEvidence >= ReasonEvidence)
            append("slices repeat every " + std::to_string(l.dims[1]) + " rows");
        append((d.score >= SmoothReason ? "smooth as " : "") + decodingWords(d));
        if (d.signAlike)
            append(signTwinWords(d) + " reads the same");
        if (m_origin + l.headerBytes > 0)
            append("header " + std::to_string(m_origin + l.headerBytes) + " bytes");
        const std::int64_t trailing = m_fileSize - m_origin - l.headerBytes - layoutDataBytes(l);
        if (trailing > 0)
            append(std::to_string(trailing) + " trailing bytes");
        s.candidate.reason = std::move(reason);
        m_found.push_back(std::move(s));
    }

    // Splits the file's slices into volumes when the content shows a volume
    // boundary; only for the candidates that could rank.
    void refineVolumes(Scored& s, std::size_t volumeCounts)
    {
        VolumeLayout& l = s.candidate.layout;
        if (s.volumesKnown || s.slices < 4 || s.candidate.score < MinVolumeScore)
            return;
        const std::int64_t v = detectVolumes(m_sampler, s.decoding, l, s.slices, volumeCounts);
        if (v <= 1)
            return;
        l.dims[2] = s.slices / v;
        l.volumes = v;
        // Slices that line up volume after volume are evidence that the
        // slice is right: one row too many or too few shifts them apart.
        s.candidate.score = clamp01(s.candidate.score * VolumesLineUp);
        s.candidate.reason += "; " + std::to_string(v) + " volumes alike";
    }

    // Room for rowLagDiffs' work, then for voxelLagDiffs'.
    double* scratch()
    {
        if (!m_scratch)
            m_scratch = std::make_unique<BlockMemory>((RowScratchDoubles + LagScratchDoubles) * sizeof(double));
        return reinterpret_cast<double*>(m_scratch->data());
    }

    Sampler m_sampler;
    NameHints m_hints;
    std::unique_ptr<BlockMemory> m_scratch; // see scratch()
    DataStart m_start; // of the decoding being examined
    std::int64_t m_origin;
    std::int64_t m_fileSize;
    std::vector<std::pair<std::int64_t, std::int64_t>> m_bodies;
    std::map<int, std::vector<RowPlan>> m_plans; // by voxel width
    std::vector<Scored> m_found;
    StatedLayouts m_stated; // the header's statements placed in the file
    const StatedLayouts* m_fileStated; // see the constructor
};

// A header or trailing bytes that fill much of a small file disturb every
// statistic of the bytes: the voxels between them are guessed again as a
// file of their own, and their candidates join the file's. (In a large file
// they are a small share and the sample lies elsewhere.)
std::vector<LayoutCandidate> withBodyGuesses(std::vector<LayoutCandidate> guesses,
                                             std::pair<std::int64_t, std::int64_t> body, const LayoutSource& source,
                                             std::string_view fileName, std::size_t maxCandidates,
                                             const StatedLayouts& stated)
{
    const std::int64_t size = source.size();
    const auto [begin, end] = body;
    if (size > WholeFileLimit || begin < 0 || end > size || end - begin < 2 || (begin == 0 && end == size))
        return guesses;
    const BodySource part(source, begin, end);
    Guesser inner(part, fileName, begin, size, &stated);
    return mergeBodyGuesses(std::move(guesses), inner.run(maxCandidates), begin, size, maxCandidates);
}

} // namespace

std::vector<LayoutCandidate> guessLayout(const LayoutSource& source, std::string_view fileName, std::size_t maxCandidates)
{
    const CountingLayoutSource counted(source);
    Guesser guesser(counted, fileName);
    std::vector<LayoutCandidate> guesses = guesser.run(maxCandidates);
    std::pair<std::int64_t, std::int64_t> done{0, counted.size()};
    for (const auto& body : guesser.bodies())
        if (body != done) {
            guesses = withBodyGuesses(std::move(guesses), body, counted, fileName, maxCandidates, guesser.stated());
            done = body;
        }
    // A layout the name states in full and the size fits exactly is heard
    // after the bytes have spoken (layout/StatedLayout), within what is left
    // of the byte budget.
    return heedStatedLayout(std::move(guesses), parseNameHints(fileName), source, maxCandidates,
                            GuessSampleLimit - counted.bytesRead());
}

std::vector<LayoutCandidate> guessLayoutOfFile(const std::string& path, std::size_t maxCandidates)
{
    const FileLayoutSource source(path);
    return guessLayout(source, path, maxCandidates);
}

std::string guessLine(const LayoutCandidate& c)
{
    const VolumeLayout& l = c.layout;
    const VoxelTypeInfo* info = voxelTypeInfo(l.dataType);
    const std::string_view type = info ? info->shortName : std::string_view("u8");
    const bool big = info && info->bytes > 1 && l.byteOrder == boBigEndian;
    char score[32];
    std::snprintf(score, sizeof score, "%.3f", clamp01(c.score));
    return std::to_string(l.dims[0]) + "x" + std::to_string(l.dims[1]) + "x" + std::to_string(l.dims[2]) + " " +
           std::string(type) + (big ? " big" : " little") + " header=" + std::to_string(l.headerBytes) +
           " volumes=" + std::to_string(l.volumes) + " score=" + score;
}
