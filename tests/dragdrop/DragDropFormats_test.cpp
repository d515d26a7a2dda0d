// Clipboard formats and the conversion map: registration order, the DWORD
// formats' stream round trip and the stream adapter.

#include "dragdrop/DragDropFormats.h"

#include "ScriptedDataObject.h"

#include <gtest/gtest.h>

namespace {

// Classes of their own so the test registrations do not touch the file
// support's groups.
template <int N>
class TTestClipboardFormat final : public TCustomDWORDClipboardFormat
{
public:
    static const TClass& StaticClass()
    {
        static const char* const names[] = {"X", "Y", "Z"};
        static const TClass c{names[N], &TCustomDWORDClipboardFormat::StaticClass(), &create};
        return c;
    }
    const TClass& ClassType() const override { return StaticClass(); }
    CLIPFORMAT GetClipboardFormat() override { return 0; }

private:
    static TClipboardFormat* create() { return new TTestClipboardFormat; }
};

const TClass& DataClassA()
{
    static const TClass c{"A", &TCustomDataFormat::StaticClass()};
    return c;
}

std::vector<std::string> groupOf(const TClass& dataClass)
{
    std::vector<std::string> names;
    for (const TConversionMapEntry& e : DataFormatMap().Entries()) {
        if (e.DataClass == &dataClass) {
            names.push_back(e.ClipboardClass->ClassName + std::string(":") + std::to_string(e.Priority));
        }
    }
    return names;
}

TEST(ConversionMap, RegistrationOrderFollowsPriorityNewestFirst)
{
    const TConversionScopes target{TConversionScope::Target};
    const TDataDirections read{TDataDirection::Read};
    const TClass& a = DataClassA();
    RegisterConversion(a, TTestClipboardFormat<0>::StaticClass(), 2, target, read);
    RegisterConversion(a, TTestClipboardFormat<1>::StaticClass(), 2, target, read);
    EXPECT_EQ(groupOf(a), (std::vector<std::string>{"Y:2", "X:2"}));

    RegisterConversion(a, TTestClipboardFormat<2>::StaticClass(), 1, target, read);
    EXPECT_EQ(groupOf(a), (std::vector<std::string>{"Z:1", "Y:2", "X:2"}));

    // Registering an existing pair again moves it and widens its sets.
    RegisterConversion(a, TTestClipboardFormat<0>::StaticClass(), 0, TConversionScopes{TConversionScope::Source},
                       TDataDirections{TDataDirection::Write});
    EXPECT_EQ(groupOf(a), (std::vector<std::string>{"X:0", "Z:1", "Y:2"}));
    const auto& entries = DataFormatMap().Entries();
    const auto x = std::find_if(entries.begin(), entries.end(),
                                [](const TConversionMapEntry& e) { return std::string(e.ClipboardClass->ClassName) == "X"; });
    ASSERT_NE(x, entries.end());
    EXPECT_EQ(x->ConversionScopes, (TConversionScopes{TConversionScope::Source, TConversionScope::Target}));
    EXPECT_EQ(x->DataDirections, (TDataDirections{TDataDirection::Read, TDataDirection::Write}));

    UnregisterDataClass(a);
    EXPECT_TRUE(groupOf(a).empty());
}

TEST(DwordFormat, PerformedEffectReachesTheSourceAsAFourByteStream)
{
    auto source = ScriptedDataObject::make({});
    TPerformedDropEffectClipboardFormat format;
    format.DwordValue = DROPEFFECT_COPY;
    STGMEDIUM medium;
    ASSERT_TRUE(format.PutData(source.get(), format.FormatEtc, medium));
    ASSERT_EQ(source->written.size(), 1u);
    EXPECT_EQ(source->written[0].format, formatNamed("Performed DropEffect"));
    EXPECT_EQ(source->written[0].tymed, static_cast<DWORD>(TYMED_ISTREAM));
    EXPECT_EQ(source->written[0].bytes, le32(1));
}

TEST(DwordFormat, ShortBlocksAreRefused)
{
    TCustomDWORDClipboardFormat&& format = TPasteSuccededClipboardFormat();
    const char bytes[4] = {5, 0, 0, 0};
    EXPECT_FALSE(format.ReadData(bytes, 3));
    EXPECT_TRUE(format.ReadData(bytes, 4));
    EXPECT_EQ(format.DwordValue, 5u);
    char out[5];
    EXPECT_FALSE(format.WriteData(out, 5));
}

TEST(ClipboardFormat, NameIsReadOnlyAndTheBaseHasNoNumber)
{
    TPreferredDropEffectClipboardFormat format;
    EXPECT_EQ(format.GetClipboardFormatName(), "Preferred DropEffect");
    try {
        format.SetClipboardFormatName("x");
        FAIL();
    } catch (const DragDropError& e) {
        EXPECT_STREQ(e.what(), "TPreferredDropEffectClipboardFormat.ClipboardFormat is read-only");
    }
}

TEST(StreamReader, StatedSizeMustBeDeliveredAndFitThirtyTwoBits)
{
    auto takeStream = [](std::uint64_t stated) {
        TPerformedDropEffectClipboardFormat format;
        STGMEDIUM medium;
        medium.tymed = TYMED_ISTREAM;
        medium.pstm = new ShortStream(le32(DROPEFFECT_COPY), stated);
        return format.TakeMedium(nullptr, medium) && format.DwordValue == DROPEFFECT_COPY;
    };
    EXPECT_TRUE(takeStream(4));
    EXPECT_FALSE(takeStream(5));
    // A stream that claims far more than it sends costs only what it sends.
    EXPECT_FALSE(takeStream(1800000000));
    EXPECT_THROW(takeStream(std::uint64_t{1} << 31), std::range_error);
}

class Sink final : public RefCounted<IStream>
{
public:
    explicit Sink(ULONG accept) : m_accept(accept) {}
    std::string bytes;
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override
    {
        const ULONG n = std::min(cb, m_accept);
        bytes.append(static_cast<const char*>(pv), n);
        *written = n;
        return S_OK;
    }
    HRESULT Seek(std::int64_t, DWORD, std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT SetSize(std::uint64_t) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, std::int64_t, std::uint64_t*, std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

private:
    ULONG m_accept;
};

TEST(FixedStreamAdapter, CopyAllFromTheEndRewindsAndCopiesInChunks)
{
    std::vector<std::uint8_t> memory(TFixedStreamAdapter::CopyChunk + 10);
    for (std::size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<std::uint8_t>(i * 7);
    }
    auto stream = ComPtr<TFixedStreamAdapter>::adopt(new TFixedStreamAdapter(memory));
    stream->Seek(0, STREAM_SEEK_END, nullptr);
    auto sink = ComPtr<Sink>::adopt(new Sink(0xFFFFFFFF));
    std::uint64_t read = 0;
    std::uint64_t written = 0;
    EXPECT_EQ(stream->CopyTo(sink.get(), -1, &read, &written), S_OK);
    EXPECT_EQ(read, memory.size());
    EXPECT_EQ(written, memory.size());
    EXPECT_EQ(sink->bytes, std::string(memory.begin(), memory.end()));

    // A bounded copy from the middle does not rewind.
    stream->Seek(4, STREAM_SEEK_SET, nullptr);
    auto part = ComPtr<Sink>::adopt(new Sink(0xFFFFFFFF));
    EXPECT_EQ(stream->CopyTo(part.get(), 3, &read, &written), S_OK);
    EXPECT_EQ(part->bytes, std::string(memory.begin() + 4, memory.begin() + 7));
}

TEST(FixedStreamAdapter, DestinationTakingLessIsAFailure)
{
    auto stream = ComPtr<TFixedStreamAdapter>::adopt(new TFixedStreamAdapter({1, 2, 3, 4}));
    auto sink = ComPtr<Sink>::adopt(new Sink(2));
    std::uint64_t read = 0;
    std::uint64_t written = 0;
    EXPECT_EQ(stream->CopyTo(sink.get(), -1, &read, &written), E_FAIL);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(written, 2u);
}

} // namespace
