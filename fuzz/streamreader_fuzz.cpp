// The stream reader of simple clipboard formats: streams that state one size,
// deliver another, in odd chunks or with failures, never make the reader
// write or read outside its buffer.
//
// Input: stated size (2 bytes), chunk size (1 byte), fail-after (1 byte),
// then the stream's bytes.

#include "dragdrop/DragDropFile.h"
#include "dragdrop/DragDropPIDL.h"
#include "platform/ComPtr.h"
#include "platform/Ole.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

class FuzzStream final : public RefCounted<IStream>
{
public:
    FuzzStream(std::string bytes, std::uint64_t stated, ULONG chunk, int failAfter)
        : m_bytes(std::move(bytes)), m_stated(stated), m_chunk(chunk), m_failAfter(failAfter)
    {
    }
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (m_failAfter-- == 0) {
            return E_FAIL;
        }
        const auto n = static_cast<ULONG>(std::min<std::size_t>({cb, m_chunk, m_bytes.size() - m_pos}));
        std::memcpy(pv, m_bytes.data() + m_pos, n);
        m_pos += n;
        *pcbRead = n;
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(std::int64_t, DWORD, std::uint64_t*) override
    {
        m_pos = 0;
        return S_OK;
    }
    HRESULT SetSize(std::uint64_t) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, std::int64_t, std::uint64_t*, std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT Stat(STATSTG* st, DWORD) override
    {
        *st = STATSTG{};
        st->cbSize = m_stated;
        return S_OK;
    }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

private:
    std::string m_bytes;
    std::uint64_t m_stated;
    std::size_t m_chunk;
    int m_failAfter;
    std::size_t m_pos = 0;
};

template <class Format>
void readThrough(const std::string& bytes, std::uint64_t stated, ULONG chunk, int failAfter)
{
    Format format;
    STGMEDIUM medium;
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = new FuzzStream(bytes, stated, chunk, failAfter);
    format.TakeMedium(nullptr, medium);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    const std::uint64_t stated = data[0] | (data[1] << 8);
    const ULONG chunk = data[2] == 0 ? 1 : data[2];
    const int failAfter = data[3] == 0xFF ? -1 : data[3];
    const std::string bytes(reinterpret_cast<const char*>(data + 4), size - 4);
    readThrough<TFileClipboardFormat>(bytes, stated, chunk, failAfter);
    readThrough<TFilenameWClipboardFormat>(bytes, stated, chunk, failAfter);
    readThrough<TPIDLClipboardFormat>(bytes, stated, chunk, failAfter);
    readThrough<TPerformedDropEffectClipboardFormat>(bytes, stated, chunk, failAfter);
    return 0;
}
