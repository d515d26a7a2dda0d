#include "layout/GuessKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace GuessDetail
{
// Shown where a variant's sums differ from the plain ones.
void PrintTo(const RatingSums& s, std::ostream* os)
{
    *os << std::setprecision(17) << "values " << s.values << ", near " << s.nearSum << " / " << s.nearCount
        << ", far " << s.farSum << " / " << s.farCount << ", mean " << s.mean << ", deviation " << s.deviation;
}
} // namespace GuessDetail

namespace
{

using GuessDetail::KernelVariant;

// Values about a smooth ramp with noise, every seventh a NaN, some far off.
std::vector<double> testValues(std::size_t n, std::uint32_t seed)
{
    std::vector<double> v(n);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        v[i] = 0.01 * static_cast<double>(i) + static_cast<double>(x >> 20) / 4096.0;
        if (i % 7 == 3)
            v[i] = std::numeric_limits<double>::quiet_NaN();
        if (i % 11 == 5)
            v[i] += (x & 1) ? 40000.0 : -40000.0;
    }
    return v;
}

// The kernels in one variant against the plain variant (bit for bit) and
// against the rule written plainly here (exactly where the order of the
// additions is the same, closely where the kernel sums in four parts).
class GuessKernelVariant : public testing::TestWithParam<KernelVariant>
{
protected:
    void SetUp() override
    {
        m_default = GuessDetail::kernelsInUse();
        if (!GuessDetail::canRunKernels(GetParam()))
            GTEST_SKIP() << "the processor cannot run this variant";
    }
    void TearDown() override { GuessDetail::useKernels(m_default); }

    // Runs f under the plain loops and under the variant.
    template<typename F>
    void both(F&& f)
    {
        ASSERT_TRUE(GuessDetail::useKernels(KernelVariant::Plain));
        f(true);
        ASSERT_TRUE(GuessDetail::useKernels(GetParam()));
        f(false);
    }

private:
    KernelVariant m_default = KernelVariant::Plain;
};

TEST_P(GuessKernelVariant, WrapJumpsAreCountedAlike)
{
    // Int-16 noise about 0 (the unsigned reading wraps), then about 32767
    // (the signed one wraps), a NaN now and then.
    std::vector<double> s(1003);
    std::uint32_t x = 5;
    for (std::size_t k = 0; k < s.size(); ++k) {
        x = x * 1664525u + 1013904223u;
        const double noise = static_cast<double>(x >> 29) - 3.5;
        const double v = k < 500 ? noise : 32767.0 + noise;
        s[k] = k % 13 == 0 ? std::nan("") : v > 32767.0 ? v - 65536.0 : v;
    }
    std::vector<double> u(s.size());
    for (std::size_t k = 0; k < s.size(); ++k)
        u[k] = s[k] + 65536.0 * static_cast<double>(s[k] < 0.0);
    // The rule: steps longer than half the range both ways in one reading
    // while the other moves less than a sixteenth.
    std::int64_t wantSigned = 0, wantUnsigned = 0;
    const auto back = [](const std::vector<double>& r, std::size_t k) {
        const double a = r[k + 1] - r[k], b = r[k + 2] - r[k + 1];
        return std::fabs(a) > 32768.0 && std::fabs(b) > 32768.0 && a * b < 0.0;
    };
    const auto small = [](const std::vector<double>& r, std::size_t k) {
        return std::fabs(r[k + 1] - r[k]) < 4096.0 && std::fabs(r[k + 2] - r[k + 1]) < 4096.0;
    };
    for (std::size_t k = 0; k + 2 < s.size(); ++k) {
        wantSigned += back(s, k) && small(u, k);
        wantUnsigned += back(u, k) && small(s, k);
    }
    ASSERT_GT(wantSigned, 10);
    ASSERT_GT(wantUnsigned, 10);
    both([&](bool) {
        std::int64_t signedJumps = 1, unsignedJumps = 2; // added to
        GuessDetail::countWrapJumps(s.data(), u.data(), s.size(), 65536.0, signedJumps, unsignedJumps);
        EXPECT_EQ(signedJumps, wantSigned + 1);
        EXPECT_EQ(unsignedJumps, wantUnsigned + 2);
    });
}

TEST_P(GuessKernelVariant, UnsignedReadingsFollowTheRule)
{
    // Signed values of each integer width, many of them at or near 0 and
    // the ends of the range, an odd count (the loop's tail).
    for (const double range : {256.0, 65536.0, 4294967296.0}) {
        std::vector<double> s(1003);
        std::uint32_t x = 11;
        for (std::size_t k = 0; k < s.size(); ++k) {
            x = x * 1664525u + 1013904223u;
            const double offset = static_cast<double>(x >> 29); // 0 .. 7
            switch (k % 5) {
            case 0: s[k] = -range / 2 + offset; break;
            case 1: s[k] = range / 2 - 1 - offset; break;
            case 2: s[k] = offset - 4.0; break;
            default: s[k] = std::floor(static_cast<double>(x) / 4294967296.0 * range) - range / 2; break;
            }
        }
        std::int64_t wantNegatives = 0, wantNear = 0;
        for (const double v : s) {
            wantNegatives += v < 0.0;
            wantNear += std::fabs(v) <= 2.0 || std::fabs(v) >= range / 2 - 2.0;
        }
        both([&](bool) {
            std::vector<double> u(s.size(), -1.0);
            std::int64_t negatives = 1, nearEnds = 2; // added to
            GuessDetail::unsignedReading(s.data(), u.data(), s.size(), range, negatives, nearEnds);
            for (std::size_t k = 0; k < s.size(); ++k)
                ASSERT_EQ(u[k], s[k] < 0.0 ? s[k] + range : s[k]) << "range " << range << " at " << k;
            EXPECT_EQ(negatives, wantNegatives + 1) << "range " << range;
            EXPECT_EQ(nearEnds, wantNear + 2) << "range " << range;
        });
    }
}

// NaN filled with 0 and weighed 0, in runs of every length up to a few
// vectors, the NaN at every place; whole numbers counted at every edge.
TEST_P(GuessKernelVariant, NaNsAreFilledAndWholeNumbersCountedByTheRule)
{
    for (std::size_t n = 0; n <= 37; ++n)
        for (std::size_t nanAt = 0; nanAt <= n; ++nanAt) {
            std::vector<double> v(n);
            for (std::size_t k = 0; k < n; ++k)
                v[k] = k == nanAt ? std::nan("") : static_cast<double>(k) - 10.5;
            both([&](bool) {
                std::vector<double> filled = v, weights(n, -1.0);
                const bool complete = GuessDetail::fillNaNs(filled.data(), weights.data(), static_cast<std::int64_t>(n));
                EXPECT_EQ(complete, nanAt == n) << "n " << n;
                for (std::size_t k = 0; k < n; ++k) {
                    ASSERT_EQ(filled[k], k == nanAt ? 0.0 : v[k]) << "n " << n << " at " << k;
                    ASSERT_EQ(weights[k], k == nanAt ? 0.0 : 1.0) << "n " << n << " at " << k;
                }
            });
        }
    const double limit = 4294967296.0;
    const auto whole = [&](double x) {
        return std::fabs(x) < limit && static_cast<double>(static_cast<std::int64_t>(x)) == x;
    };
    const std::vector<double> edges{0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1.5, 2.5, -2.5, 3.0000000000000004, 1e-300,
                                    4e-324, limit - 1.0, -(limit - 1.0), limit - 0.5, limit, -limit, 2147483648.5,
                                    4503599627370496.0, std::numeric_limits<double>::infinity(), std::nan(""),
                                    -123456789.25};
    std::int64_t want = 0;
    for (const double x : edges)
        want += !whole(x);
    both([&](bool) {
        EXPECT_EQ(GuessDetail::countNonWhole(edges.data(), static_cast<std::int64_t>(edges.size()), limit), want);
        for (std::size_t k = 0; k < edges.size(); ++k)
            EXPECT_EQ(GuessDetail::countNonWhole(edges.data() + k, 1, limit), whole(edges[k]) ? 0 : 1) << edges[k];
    });
}

TEST_P(GuessKernelVariant, RatingSumsEqualThePlainSums)
{
    const std::vector<double> values = testValues(1021, 2);
    const std::vector<std::size_t> from{0, 250, 251, 600, 1021}; // one part of a single value
    GuessDetail::RatingSums plain;
    both([&](bool isPlain) {
        std::vector<double> v = values, w(v.size());
        const GuessDetail::RatingSums r = GuessDetail::ratingSums(v.data(), w.data(), from.data(), from.size() - 1, true);
        if (isPlain) {
            plain = r;
            // The rule: values, neighbours within a part, values half the
            // sample apart (around the end), the mean absolute deviation.
            const std::size_t n = values.size(), half = n / 2;
            double count = 0, nearSum = 0, nearCount = 0, farSum = 0, farCount = 0, sum = 0;
            for (std::size_t i = 0; i < n; ++i) {
                count += !std::isnan(values[i]);
                sum += std::isnan(values[i]) ? 0.0 : values[i];
                const double a = values[i], b = values[(i + half) % n];
                if (!std::isnan(a) && !std::isnan(b)) {
                    farSum += std::fabs(a - b);
                    ++farCount;
                }
            }
            for (std::size_t p = 0; p + 1 < from.size(); ++p)
                for (std::size_t i = from[p]; i + 1 < from[p + 1]; ++i)
                    if (!std::isnan(values[i]) && !std::isnan(values[i + 1])) {
                        nearSum += std::fabs(values[i] - values[i + 1]);
                        ++nearCount;
                    }
            double deviation = 0;
            for (const double x : values)
                deviation += std::fabs((std::isnan(x) ? 0.0 : x) - sum / static_cast<double>(n));
            EXPECT_EQ(r.values, count);
            EXPECT_EQ(r.nearCount, nearCount);
            EXPECT_EQ(r.farCount, farCount);
            EXPECT_NEAR(r.nearSum, nearSum, 1e-9 * nearSum);
            EXPECT_NEAR(r.farSum, farSum, 1e-9 * farSum);
            EXPECT_NEAR(r.mean, sum / static_cast<double>(n), 1e-9 * std::fabs(r.mean));
            EXPECT_NEAR(r.deviation, deviation / static_cast<double>(n), 1e-9 * r.deviation);
            return;
        }
        EXPECT_EQ(r, plain);
    });
}

TEST_P(GuessKernelVariant, LagDifferencesEqualThePlainSums)
{
    const std::vector<double> values = testValues(777, 3);
    std::vector<float> v(values.size()), w(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        w[i] = std::isnan(values[i]) ? 0.0f : 1.0f;
        v[i] = std::isnan(values[i]) ? 0.0f : static_cast<float>(values[i] - 500.0);
    }
    const std::int64_t lags = 700;
    const float clip = 2.0f;
    std::vector<float> want(lags + 1, 0.5f), wantCount(lags + 1, 0.25f);
    for (std::int64_t l = 1; l <= lags; ++l) {
        const float e = std::fabs(v[3] - v[static_cast<std::size_t>(3 + l)]);
        want[static_cast<std::size_t>(l)] += w[static_cast<std::size_t>(3 + l)] * (e < clip ? e : clip);
        wantCount[static_cast<std::size_t>(l)] += w[static_cast<std::size_t>(3 + l)];
    }
    both([&](bool) {
        std::vector<float> sum(lags + 1, 0.5f), count(lags + 1, 0.25f);
        GuessDetail::addLagDifferences(v[3], v.data() + 3, w.data() + 3, lags, clip, sum.data(), count.data());
        EXPECT_EQ(sum, want);
        EXPECT_EQ(count, wantCount);
    });
}

// Positions whose last lags fall at, before and after the end of every
// stretch of lags a variant sums at once (16, 32 or 64 lags), one long, one of
// a single lag, two at the same place: the sums of each position in turn.
TEST_P(GuessKernelVariant, LagDifferencesOfManyPositionsAreThoseOfEachInTurn)
{
    const std::vector<double> values = testValues(2400, 5);
    std::vector<float> v(values.size()), w(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        w[i] = std::isnan(values[i]) ? 0.0f : 1.0f;
        v[i] = std::isnan(values[i]) ? 0.0f : static_cast<float>(values[i] - 500.0);
    }
    std::vector<std::int64_t> at, lags;
    for (const std::int64_t lag : {15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 1, 2000, 64}) {
        at.push_back(static_cast<std::int64_t>(at.size()) * 29 % 300);
        lags.push_back(lag);
    }
    const std::int64_t most = 2000;
    const float clip = 30000.0f; // (far differences kept apart: the order of the sums shows)
    std::vector<float> want(most + 1, 0.5f), wantCount(most + 1, 0.25f);
    for (std::size_t p = 0; p < at.size(); ++p)
        for (std::int64_t l = 1; l <= lags[p]; ++l) {
            const auto i = static_cast<std::size_t>(at[p]), j = static_cast<std::size_t>(at[p] + l);
            const float e = std::fabs(v[i] - v[j]);
            want[static_cast<std::size_t>(l)] += w[j] * (e < clip ? e : clip);
            wantCount[static_cast<std::size_t>(l)] += w[j];
        }
    both([&](bool) {
        std::vector<float> sum(most + 1, 0.5f), count(most + 1, 0.25f);
        GuessDetail::addLagDifferencesAt(v.data(), w.data(), at.data(), lags.data(), at.size(), clip, sum.data(),
                                         count.data());
        EXPECT_EQ(sum, want);
        EXPECT_EQ(count, wantCount);
    });
}

// Rows of fewer columns than RowColumns, and of RowColumns (all values: two
// lags at a time, an odd lag last), with and without weights.
TEST_P(GuessKernelVariant, RowDifferencesEqualThePlainSums)
{
    constexpr std::int64_t Rows = 92;
    for (const std::int64_t columns : {std::int64_t{23}, GuessDetail::RowColumns}) {
        const std::vector<double> raw = testValues(static_cast<std::size_t>(columns * Rows), 4);
        std::vector<double> values(raw.size()), weights(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            weights[i] = std::isnan(raw[i]) ? 0.0 : 1.0;
            values[i] = std::isnan(raw[i]) ? 0.0 : raw[i];
        }
        const std::vector<std::int64_t> baseAt{0, 7 * columns, 19 * columns, 30 * columns};
        const double clip = 3.0;
        for (const std::int64_t maxLag : {60, 61})
        for (const bool withWeights : {true, false}) {
            // The rule: per lag and column the clipped differences summed
            // over the base rows, the columns' sums then added in order (to
            // what the sums held).
            const auto lags = static_cast<std::size_t>(maxLag + 1);
            std::vector<double> want(lags, 0.5);
            std::vector<std::int64_t> wantCount(lags, 3);
            for (std::int64_t lag = 1; lag <= maxLag; ++lag)
                for (std::int64_t c = 0; c < columns; ++c) {
                    double sum = 0.0, count = 0.0;
                    for (const std::int64_t b : baseAt) {
                        const auto at = static_cast<std::size_t>(b + c);
                        const auto other = at + static_cast<std::size_t>(lag * columns);
                        const double weight = withWeights ? weights[at] * weights[other] : 1.0;
                        sum += weight * std::min(std::fabs(values[at] - values[other]), clip);
                        count += weight;
                    }
                    want[static_cast<std::size_t>(lag)] += sum;
                    wantCount[static_cast<std::size_t>(lag)] += static_cast<std::int64_t>(count);
                }
            both([&](bool) {
                std::vector<double> sums(lags, 0.5);
                std::vector<std::int64_t> counts(lags, 3);
                GuessDetail::addRowDifferences(values.data(), withWeights ? weights.data() : nullptr, columns,
                                               baseAt.data(), static_cast<std::int64_t>(baseAt.size()), maxLag, clip,
                                               sums.data(), counts.data());
                EXPECT_EQ(sums, want) << (withWeights ? "weighted" : "complete") << ", columns " << columns
                                      << ", lags " << maxLag;
                EXPECT_EQ(counts, wantCount);
            });
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, GuessKernelVariant,
                         testing::Values(KernelVariant::Plain, KernelVariant::Avx2, KernelVariant::Avx512),
                         [](const auto& info) { return std::string(GuessDetail::kernelVariantName(info.param)); });

} // namespace
