#include "layout/GuessStatedLayouts.h"

#include "layout/GuessDecodings.h"
#include "layout/GuessPeriods.h"
#include "layout/GuessScore.h"
#include "layout/LayoutGuess.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <span>
#include <utility>

namespace GuessDetail
{
namespace
{

constexpr std::size_t MaxSliceCounts = 4; // slice counts tried from other stated numbers, per statement and width
constexpr std::size_t MaxStatedOffsets = 2; // offsets tried from stated numbers, per statement, width and slice count
// How credible a place is (see placeStatedDims): ending the file where the
// bytes begin to look like voxels, or starting right after the statement's
// text, ties the statement to the file.
constexpr double SeenEndsFilePlace = 1.0;
constexpr double AfterTextPlace = 1.0;
constexpr double PrintableEndPlace = 0.9; // (a share of AfterTextPlace) the text's end a few printable bytes after
                                         // its padding
constexpr double EndsFilePlace = 0.55; // any product small enough ends the file after some header, so that alone
                                       // says little
constexpr double StatedOffsetPlace = 0.4; // less: at an offset the header states
constexpr double LengthPlace = 1.0; // right after an Int-32 stating the data's length, or at the offset stated beside
                                    // that length: seldom a chance
constexpr double PaddedLengthPlace = 0.9; // right after a length a little more than the data's (a record padded),
                                          // where the bytes are seen to start
constexpr std::int64_t LengthSlack = 16; // a record is padded by at most this share of its data
constexpr std::ptrdiff_t MaxLengths = 8; // stated lengths looked at per statement and slice count
constexpr double LengthTrust = 0.9; // only statements this credible by their form are placed by lengths (a round
                                    // length is everywhere in a binary header)
constexpr double SeenStartPlace = 0.75; // less: where the bytes begin to look like voxels with bytes left at the end
constexpr double FittingSlicesPlace = 0.9; // as many slices as fit there, a little less again
// Three or four numbers whose product ends the file soon after them (the
// header ends within NearStatement bytes of its statement) are seldom a
// chance.
constexpr double ListEndsFilePlace = 0.9;
constexpr std::int64_t NearStatement = 1024;
constexpr std::int64_t SmallestShare = 32; // a stated layout's data is at least this share of the file
constexpr std::int64_t BlankGap = 16; // blank bytes a header may end with after its last unlike ones
// Stated layouts placed per voxel width, the most credible of them looked
// at, each read by this many decodings,
// and the header fit they have at least (the header is where its statement
// puts it).
constexpr std::size_t StatedPlacesPerWidth = 8;
constexpr std::size_t StatedLooks = 8;
// Stated layouts less credible (two binary numbers ending the file after
// some header, offsets a table of numbers states) are evidence for the
// bytes' candidates only, not candidates of their own.
constexpr double MinStatedCredence = 0.7;
constexpr std::size_t StatedDecodings = 2;
constexpr double StatedPlaceFit = 0.95;
constexpr double SilentRegion = 0.05; // a stated layout's bytes rate no decoding of its width this well: they are of
                                     // one value, and the file's rating stands for theirs
constexpr double StatedTrailingWeight = 0.1; // a stated layout's fit shrinks by this much times the share of the bytes
                                             // after its header it leaves over
constexpr std::int64_t StatedRegionBytes = 16384; // of each stated layout's data the first this many bytes are read to
                                                  // measure it
// A statement this credible makes the bytes it lies in a header: a
// candidate that reads them as voxels has this header evidence.
constexpr double CredibleStatement = 0.9;
constexpr double HeaderReadAsVoxels = 0.0;
constexpr std::int64_t PrintableDataBytes = 64; // data may begin with this many printable bytes (as
                                                // readsStatedType allows)
constexpr double OtherOrderShare = 0.5; // a binary statement read in the other byte order than its data's keeps this
                                        // share of its credence
constexpr std::int64_t MinStatedPairs = 64; // pairs of values a stated period is measured from at least
constexpr double WrongOrderSteps = 16.0; // neighbours' steps this many times those of the other order: noise read in
                                        // the wrong order (which makes them about 256 times as large)
// Bytes of one value that make an edge where they begin, when another
// byte lies at most EdgeSlack bytes before.
constexpr std::int64_t EdgeRunBytes = 64;
constexpr std::int64_t EdgeSlack = 8;

bool mulFits(std::int64_t a, std::int64_t b, std::int64_t limit, std::int64_t& out)
{
    return !__builtin_mul_overflow(a, b, &out) && out <= limit;
}

// The period evidence of lag in values (as the row and slice steps
// measure it, from the mean difference of the values lag apart); NaN
// where too few pairs lie that far apart or nothing differs.
double statedPeriod(const std::vector<double>& values, std::int64_t lag)
{
    const auto meanDiff = [&](std::int64_t l) {
        const auto n = static_cast<std::int64_t>(values.size());
        if (l < 1 || n - l < MinStatedPairs)
            return std::nan("");
        double sum = 0.0;
        std::int64_t count = 0;
        for (std::int64_t i = 0; i + l < n; ++i) {
            const double a = values[static_cast<std::size_t>(i)];
            const double b = values[static_cast<std::size_t>(i + l)];
            if (std::isfinite(a) && std::isfinite(b)) {
                sum += std::fabs(a - b);
                ++count;
            }
        }
        return count >= MinStatedPairs ? sum / static_cast<double>(count) : std::nan("");
    };
    return periodEvidence(meanDiff, lag);
}

// The layout of a place, read as the first type of its width.
VolumeLayout placedLayout(const StatedPlace& p)
{
    VolumeLayout l;
    l.headerBytes = p.header;
    l.dims = p.dims;
    l.volumes = p.volumes;
    l.dataType = p.width == 1 ? vdtByte : p.width == 2 ? vdtInt16 : p.width == 4 ? vdtInt32 : vdtFloat64;
    return l;
}

// The mean step between neighbouring values (finite ones, at least
// MinStatedPairs of them), else NaN.
double neighbourStep(const std::vector<double>& values)
{
    double sum = 0.0;
    std::int64_t count = 0;
    for (std::size_t i = 1; i < values.size(); ++i)
        if (std::isfinite(values[i]) && std::isfinite(values[i - 1])) {
            sum += std::fabs(values[i] - values[i - 1]);
            ++count;
        }
    return count >= MinStatedPairs ? sum / static_cast<double>(count) : std::nan("");
}

double measuredOr(double evidence, double prior) { return std::isfinite(evidence) ? clamp01(evidence) : prior; }

} // namespace

std::vector<StatedPlace> placeStatedDims(const std::vector<StatedDims>& statements,
                                         const std::vector<StatedNumber>& numbers, std::int64_t size, int width,
                                         const DataStart& start, const std::function<bool(std::int64_t)>& edgeAt,
                                         std::size_t maxPlaces)
{
    const std::int64_t dataStart = start.offset;
    // Where the bytes begin to look like voxels, give or take their
    // precision (and a few blank bytes after), or an edge between unlike
    // bytes and a run of one value.
    const auto seenStart = [&](std::int64_t h) {
        return (start.offset > 0 && h >= start.offset - start.precision &&
                h <= start.offset + start.precision + BlankGap) ||
               (start.afterPadding > 0 && std::llabs(h - start.afterPadding) <= start.precision) || (edgeAt && edgeAt(h));
    };
    std::vector<StatedPlace> out;
    if (size < 1 || width < 1 || maxPlaces == 0)
        return out;
    // Stated numbers by value: slice counts (text only: binary ones would
    // have been stated with the dims) and offsets (Int-32s).
    std::vector<std::int64_t> textValues, offsets;
    // Int-32s by value, as data lengths (their index in numbers).
    std::vector<std::pair<std::int64_t, std::size_t>> lengths;
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        const StatedNumber& n = numbers[k];
        const bool wide = n.form == NumberForm::U32Little || n.form == NumberForm::U32Big;
        if (wide)
            lengths.emplace_back(n.value, k);
        if (wide && n.seen)
            offsets.push_back(n.value);
        if (n.form == NumberForm::Text)
            textValues.push_back(n.value);
    }
    std::sort(lengths.begin(), lengths.end());
    for (std::vector<std::int64_t>* v : {&textValues, &offsets}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    const auto valuesIn = [](const std::vector<std::int64_t>& values, std::int64_t lo, std::int64_t hi,
                             std::size_t most) {
        std::vector<std::int64_t> found;
        for (auto it = std::lower_bound(values.begin(), values.end(), lo);
             it != values.end() && *it <= hi && found.size() < most; ++it)
            found.push_back(*it);
        return found;
    };

    // Every place with the statement's offset; the best of each layout is
    // kept below.
    std::vector<std::pair<StatedPlace, std::int64_t>> found;

    for (const StatedDims& s : statements) {
        std::int64_t unit = 0; // bytes of what is stated
        if (!mulFits(s.dims[0], s.dims[1], size, unit) || !mulFits(unit, s.dims[2], size, unit) ||
            !mulFits(unit, s.dims[3], size, unit) || !mulFits(unit, width, size, unit))
            continue;
        const auto place = [&](std::int64_t slices, std::int64_t header, double credence) {
            std::int64_t data = 0;
            if (header < 0 || slices < 1 || !mulFits(unit, slices, size - header, data))
                return false;
            // Never over the statement; a binary statement's data is most
            // of what follows the header.
            if (header < s.end && header + data > s.offset)
                return false;
            if ((!s.text && size - header - data > data) || data * SmallestShare < size)
                return false;
            StatedPlace p;
            p.dims = {s.dims[0], s.dims[1], s.count >= 3 ? s.dims[2] : slices};
            p.volumes = s.dims[3];
            p.header = header;
            p.width = width;
            // Of two readings of labelled numbers, the wider slice a little
            // more (nothing in the numbers' order tells them apart).
            p.credence = 0.5 + 0.5 * credence * s.trust * (s.labelled && p.dims[0] < p.dims[1] ? TallerThanWide : 1.0);
            p.said = {s.dims[0], s.dims[1]};
            p.statedAt = s.offset;
            p.count = s.count;
            p.form = s.form;
            p.statedEnd = s.end;
            p.textEnd = s.textEnd;
            found.emplace_back(p, s.offset);
            return true;
        };
        // Slice counts for two numbers: one, one per repeat, and (where the
        // data ends the file) another stated number. Three or four numbers
        // state them.
        const bool pair = s.count == 2;
        std::vector<std::int64_t> slices{1};
        if (pair && s.repeats > 1)
            slices.push_back(s.repeats);
        // Ending the file exactly, the statement in the header, the data at
        // least half the file.
        std::vector<std::int64_t> endSlices = slices;
        if (pair)
            for (const std::int64_t z : valuesIn(textValues, std::max<std::int64_t>((size / 2 + unit - 1) / unit, 2),
                                                 (size - s.end) / unit, MaxSliceCounts))
                endSlices.push_back(z);
        for (std::size_t k = 0; k < endSlices.size(); ++k) {
            const std::int64_t z = endSlices[k];
            std::int64_t data = 0;
            if (mulFits(unit, z, size, data) && 2 * data >= size && size - data >= s.end)
                place(z, size - data,
                      (seenStart(size - data)                             ? SeenEndsFilePlace
                       : !pair && size - data - s.end <= NearStatement ? ListEndsFilePlace
                                                                         : EndsFilePlace) *
                          (k < slices.size() ? 1.0 : FittingSlicesPlace));
        }
        if (s.text && s.textEnd >= s.end && s.textEnd > 0)
            for (const std::int64_t z : slices) {
                // After blank padding and a few printable bytes, those are
                // more likely the data's first than the header's last.
                const bool padded = s.padEnd >= s.end;
                place(z, s.textEnd, AfterTextPlace * (padded ? PrintableEndPlace : 1.0));
                if (padded)
                    place(z, s.padEnd, AfterTextPlace);
            }
        // After the header the bytes show: also as many slices as fit.
        if (dataStart > 0 && dataStart < size) {
            for (const std::int64_t z : slices)
                place(z, dataStart, SeenStartPlace);
            if (pair)
                place((size - dataStart) / unit, dataStart, SeenStartPlace * FittingSlicesPlace);
        }
        // Right after an Int-32 stating the data's length in bytes (a
        // record's length before its value), or at the offset an Int-32
        // states right after that length.
        if (s.trust >= LengthTrust) {
            std::vector<std::int64_t> counts = slices;
            if (pair)
                for (const std::int64_t z : valuesIn(textValues, 2, (size - s.end) / unit, MaxSliceCounts))
                    counts.push_back(z);
            for (const std::int64_t z : counts) {
                std::int64_t data = 0;
                if (!mulFits(unit, z, size, data))
                    continue;
                const auto from = std::lower_bound(lengths.begin(), lengths.end(), std::make_pair(data, std::size_t{0}));
                for (auto it = from; it != lengths.end() && it - from < MaxLengths && it->first <= data + data / LengthSlack;
                     ++it) {
                    const StatedNumber& n = numbers[it->second];
                    const bool exact = it->first == data;
                    // An offset stated right after an exact length places
                    // the data there rather than after the length.
                    bool atOffset = false;
                    for (std::size_t k = it->second + 1; exact && k < numbers.size() && numbers[k].offset <= n.end; ++k)
                        if (numbers[k].offset == n.end && numbers[k].form == n.form)
                            atOffset = place(z, numbers[k].value, LengthPlace) || atOffset;
                    if (!atOffset && (exact || seenStart(n.end)))
                        place(z, n.end, exact ? LengthPlace : PaddedLengthPlace);
                }
            }
        }
        // At an offset a binary header states (an Int-32), for three or
        // four binary numbers: the largest that leave the data most of what
        // follows.
        if (!s.text && s.count >= 3) {
            std::vector<std::int64_t> fitting = slices;
            if (pair)
                fitting.push_back((size - s.end) / unit);
            for (const std::int64_t z : fitting) {
                std::int64_t data = 0;
                if (!mulFits(unit, z, size, data))
                    continue;
                const auto lo = std::lower_bound(offsets.begin(), offsets.end(), std::max<std::int64_t>(1, size - 2 * data));
                auto hi = std::upper_bound(offsets.begin(), offsets.end(), size - data);
                for (std::size_t k = 0; k < MaxStatedOffsets && hi != lo; ++k)
                    place(z, *--hi, StatedOffsetPlace);
            }
        }
    }
    // Best first (the earlier statement on a tie, then the one of more
    // numbers), each layout once.
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.first.credence != b.first.credence)
            return a.first.credence > b.first.credence;
        return a.second != b.second ? a.second < b.second : a.first.count > b.first.count;
    });
    for (std::size_t i = 0; i < found.size() && out.size() < maxPlaces; ++i) {
        const StatedPlace& p = found[i].first;
        if (std::none_of(out.begin(), out.end(), [&](const StatedPlace& o) {
                return o.dims == p.dims && o.volumes == p.volumes && o.header == p.header;
            }))
            out.push_back(p);
    }
    return out;
}

std::string statedWords(const StatedPlace& place)
{
    return "the header states " + std::to_string(place.said[0]) + " x " + std::to_string(place.said[1]);
}

void StatedLayouts::place(Sampler& sampler, const DataStart& start, bool voxelsFromStart)
{
    const HeaderStatements h = readHeaderStatements(sampler, start, voxelsFromStart);
    // The type the text states, in the same head and tail.
    const std::int64_t size = sampler.size();
    const std::int64_t headBytes = std::min(size, StatementBytes);
    m_types = statedTypes(sampler.head(headBytes), 0);
    if (const std::int64_t tailBytes = std::min(size - headBytes, StatementBytes); tailBytes > 0)
        for (const StatedType& t : statedTypes(sampler.tail(tailBytes), size - tailBytes))
            m_types.push_back(t);
    for (const int width : {1, 2, 4, 8}) {
        // A run of one byte value begins at h or a few bytes before it
        // (the end of a length field before data of one value, such as
        // an empty image).
        const auto edgeAt = [&](std::int64_t at) {
            const std::span<const std::uint8_t> b = sampler.bytes(at - EdgeSlack, EdgeSlack + EdgeRunBytes);
            if (at < EdgeSlack || b.size() < static_cast<std::size_t>(EdgeSlack + EdgeRunBytes))
                return false;
            const auto run = b.begin() + EdgeSlack;
            if (std::any_of(run, b.end(), [&](std::uint8_t v) { return v != *run; }))
                return false;
            return std::any_of(b.begin(), run, [&](std::uint8_t v) { return v != *run; });
        };
        // (Never where the data covers the header's text of a type: a
        // statement repeated for the next part of the file is no slice.)
        for (const StatedPlace& p :
             placeStatedDims(h.statements, h.numbers, sampler.size(), width, start, edgeAt, StatedPlacesPerWidth))
            if (!readsStatedType(m_types, placedLayout(p)))
                m_places.push_back(p);
    }
}

double StatedLayouts::credenceOf(const StatedPlace& p, const VolumeLayout& l)
{
    // A binary header's byte order is most often its data's.
    const bool big = p.form == NumberForm::U16Big || p.form == NumberForm::U32Big;
    if (p.form != NumberForm::Text && bytesPerVoxelOf(l.dataType) > 1 && big != (l.byteOrder == boBigEndian))
        return HeaderSilent + OtherOrderShare * (p.credence - HeaderSilent);
    return p.credence;
}

const StatedPlace* StatedLayouts::placeOf(const VolumeLayout& l) const
{
    const StatedPlace* found = nullptr;
    const int width = static_cast<int>(bytesPerVoxelOf(l.dataType));
    for (const StatedPlace& p : m_places)
        if (p.width == width && p.dims == l.dims && p.volumes == l.volumes && p.header == l.headerBytes &&
            (!found || p.credence > found->credence))
            found = &p;
    return found;
}

double StatedLayouts::unplacedEvidence(const VolumeLayout& l) const
{
    // The header's text or its counted dimensions are no voxels.
    const std::int64_t end = l.headerBytes + layoutDataBytes(l);
    const bool readsStatement = std::any_of(m_places.begin(), m_places.end(), [&](const StatedPlace& p) {
        return p.credence >= CredibleStatement && p.statedAt < end && p.statedEnd > l.headerBytes;
    });
    // (Voxels that begin a little before a header's text ends are data
    // whose first bytes happen to be printable.)
    const bool inText = std::any_of(m_places.begin(), m_places.end(), [&](const StatedPlace& p) {
        return p.credence >= CredibleStatement && p.form == NumberForm::Text && p.statedAt < l.headerBytes &&
               p.textEnd - l.headerBytes > PrintableDataBytes;
    });
    return readsStatement || inText || readsStatedType(m_types, l) ? HeaderReadAsVoxels : HeaderSilent;
}

std::vector<const StatedPlace*> statedLooks(const std::vector<StatedPlace>& places, std::size_t maxLooks)
{
    // Of places equally credible, each width's best comes before any
    // width's second: one width's many places never crowd out another's.
    struct Look
    {
        const StatedPlace* place;
        std::size_t rank; // among the places of its width, best first
    };
    std::vector<Look> looks;
    std::map<int, std::size_t> placesOfWidth;
    for (const StatedPlace& p : places)
        if (p.credence >= MinStatedCredence)
            looks.push_back({&p, placesOfWidth[p.width]++});
    std::stable_sort(looks.begin(), looks.end(), [](const Look& a, const Look& b) {
        return a.place->credence != b.place->credence ? a.place->credence > b.place->credence : a.rank < b.rank;
    });
    std::vector<const StatedPlace*> order;
    for (std::size_t i = 0; i < looks.size() && i < maxLooks; ++i)
        order.push_back(looks[i].place);
    return order;
}

// Each stated layout is scored by the same evidence as the bytes'
// candidates, all measured in the first StatedRegionBytes of its own data
// (in a small file the header and other parts would drown them): the row
// and slice periods where they can be measured, fair priors where not (data
// of one value).
std::vector<StatedCandidate> StatedLayouts::candidates(Sampler& sampler, const DataStart& start,
                                                       StatedPriors priors,
                                                       const std::vector<Decoding>* fileDecodings) const
{
    std::vector<StatedCandidate> out;
    const std::vector<const StatedPlace*> order = statedLooks(m_places, StatedLooks);
    // The decodings of each region, rated once (they rate every width).
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<Decoding>> rated;
    for (const StatedPlace* const place : order) {
        const StatedPlace& p = *place;
        VolumeLayout l = placedLayout(p);
        const std::int64_t bytes = std::min(layoutDataBytes(l), StatedRegionBytes);
        const std::span<const std::uint8_t> data = sampler.bytes(p.header, bytes);
        if (static_cast<std::int64_t>(data.size()) < bytes)
            continue;
        const std::vector<std::uint8_t> region(data.begin(), data.end());
        auto it = rated.find({p.header, bytes});
        if (it == rated.end()) {
            const MemoryLayoutSource source(region.data(), region.size());
            Sampler regionSampler(source);
            it = rated.emplace(std::make_pair(p.header, bytes), rateDecodings(regionSampler)).first;
        }
        // The decodings of its width, weighed by how the header's type
        // statement agrees with them (which alone decides between readings
        // of one value).
        struct Weighed
        {
            double score;
            double factor;
            const Decoding* decoding;
        };
        // (Only where the region's own bytes tell no decoding of the width
        // from another: of one value.)
        double regionBest = 0.0;
        for (const Decoding& d : it->second)
            if (d.width == p.width)
                regionBest = std::max(regionBest, d.score);
        const bool mostOfFile = 2 * layoutDataBytes(l) >= sampler.size() && regionBest < SilentRegion;
        const auto asInFile = [&](const Decoding& d) {
            Decoding scored = d;
            if (fileDecodings && mostOfFile)
                for (const Decoding& f : *fileDecodings)
                    if (f.type == d.type && f.order == d.order && f.phase == p.header % d.width)
                        scored.score = std::max(scored.score, f.score);
            return scored;
        };
        std::vector<Weighed> ofWidth;
        for (const Decoding& d : it->second)
            if (d.width == p.width && d.phase == 0) {
                l.dataType = d.type;
                l.byteOrder = d.order;
                const double factor = typeFactor(l);
                ofWidth.push_back({asInFile(d).score * factor, factor, &d});
            }
        std::stable_sort(ofWidth.begin(), ofWidth.end(), [](const Weighed& a, const Weighed& b) {
            return a.score != b.score ? a.score > b.score : a.factor > b.factor;
        });
        std::vector<const Decoding*> taken;
        for (const Weighed& w : ofWidth) {
            const Decoding& d = *w.decoding;
            if (taken.size() >= StatedDecodings)
                break;
            if (std::any_of(taken.begin(), taken.end(), [&](const Decoding* t) { return t->signTwinOf(d); }))
                continue;
            taken.push_back(&d);
            l.dataType = d.type;
            l.byteOrder = d.width == 1 ? boLittleEndian : d.order;
            const std::vector<double> values = decodeRun(region, 0, d, region.size());
            const double rowPeriod = statedPeriod(values, l.dims[0]);
            const double rowEvidence = measuredOr(rowPeriod, priors.unmeasured);
            // Slices seldom much taller or wider than 4:1, stated or not.
            double sliceEvidence = priors.singleSlice;
            double slicePeriod = std::nan("");
            if (l.dims[2] * l.volumes > 1) {
                slicePeriod = statedPeriod(values, l.dims[0] * l.dims[1]);
                sliceEvidence = measuredOr(slicePeriod, priors.unmeasured);
            }
            sliceEvidence *= singleSliceShape(l.dims[0], l.dims[1]);
            // Data that fills what follows the header fits best.
            const std::int64_t after = sampler.size() - l.headerBytes;
            const double filled = static_cast<double>(layoutDataBytes(l)) / static_cast<double>(after);
            const double fit = std::max(headerFit(l.headerBytes, start), StatedPlaceFit) *
                               (1.0 - StatedTrailingWeight * (1.0 - filled));
            StatedPlace ordered = p;
            ordered.credence = credenceOf(p, l);
            // Noise read in the wrong byte order jumps by the low byte's
            // noise times 256: the order whose neighbours differ far more
            // than in the other is no statement's data.
            if (d.width > 1) {
                Decoding other = d;
                other.order = d.bigEndian() ? boLittleEndian : boBigEndian;
                const double here = neighbourStep(values);
                const double there = neighbourStep(decodeRun(region, 0, other, region.size()));
                if (here > WrongOrderSteps * there)
                    ordered.credence = HeaderSilent + OtherOrderShare * (ordered.credence - HeaderSilent);
            }
            out.push_back({asInFile(d), l, rowEvidence, sliceEvidence, fit, l.volumes > 1 ? 1 : l.dims[2], ordered,
                           std::isfinite(rowPeriod), std::isfinite(slicePeriod)});
        }
    }
    return out;
}

} // namespace GuessDetail
