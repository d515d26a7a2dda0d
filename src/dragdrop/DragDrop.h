#pragma once

// Foundations of the drag-and-drop components: small sets, shift states and
// drag types, the errors they raise, the component base with a COM identity
// (TInterfacedComponent) and the component with a list of data formats
// (TDragDropComponent).

#include "platform/WinTypes.h"

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

// A set of the members of a small enumeration, one bit per member.
template <class Enum>
class TSet
{
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<Enum> members)
    {
        for (Enum m : members) {
            m_bits |= bit(m);
        }
    }

    static constexpr TSet fromBits(std::uint32_t bits)
    {
        TSet s;
        s.m_bits = bits;
        return s;
    }

    constexpr bool contains(Enum m) const { return (m_bits & bit(m)) != 0; }
    constexpr void include(Enum m) { m_bits |= bit(m); }
    constexpr void exclude(Enum m) { m_bits &= ~bit(m); }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr std::uint32_t bits() const { return m_bits; }
    constexpr TSet operator|(TSet other) const { return fromBits(m_bits | other.m_bits); }
    constexpr TSet operator&(TSet other) const { return fromBits(m_bits & other.m_bits); }
    friend constexpr bool operator==(TSet, TSet) = default;

private:
    static constexpr std::uint32_t bit(Enum m) { return std::uint32_t{1} << static_cast<unsigned>(m); }
    std::uint32_t m_bits = 0;
};

// Shift state of a drag, bits 0 to 6 in this order.
enum class ShiftKey { Shift, Alt, Ctrl, LeftButton, RightButton, MiddleButton, DoubleClick };
using TShiftState = TSet<ShiftKey>;

// Drop effects a target accepts; the set's bits equal the DROPEFFECT bits.
enum TDragType { dtCopy, dtMove, dtLink };
using TDragTypes = TSet<TDragType>;

inline DWORD DragTypesToEffect(TDragTypes types)
{
    return types.bits() & 7;
}

// Errors of the drag-and-drop support. They carry the message shown to the
// user should one ever escape to the top-level handler.
class DragDropError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A failed platform call, with its result code.
class OleError : public DragDropError
{
public:
    explicit OleError(HRESULT code);
    HRESULT ErrorCode() const { return m_code; }

private:
    HRESULT m_code;
};

// Raises OleError for a failure code.
void OleCheck(HRESULT hr);

// printf-style formatting of the components' messages and trace line.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Class identity for the class references the conversion map records.
class TClipboardFormat;
struct TClass
{
    const char* ClassName;
    const TClass* Parent;
    // Argument-less constructor of a clipboard format class (null otherwise).
    TClipboardFormat* (*Create)() = nullptr;

    bool InheritsFrom(const TClass& other) const
    {
        for (const TClass* c = this; c != nullptr; c = c->Parent) {
            if (c == &other) {
                return true;
            }
        }
        return false;
    }
};

// The minimal component of the framework: an owner, a class name and the
// loading / designing states.
class TComponent
{
public:
    explicit TComponent(TComponent* AOwner) : m_owner(AOwner) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    virtual const char* ClassName() const = 0;
    TComponent* Owner() const { return m_owner; }

    bool Loading() const { return m_loading; }
    bool Designing() const { return m_designing; }
    // Set while the window's layout is applied to the component.
    void SetLoading(bool loading) { m_loading = loading; }

private:
    TComponent* m_owner;
    bool m_loading = false;
    bool m_designing = false;
};

// A component with a COM identity. Its lifetime follows its owner: reference
// counts are forwarded to the owner's IUnknown when it has one and are
// otherwise not counted (-1); nothing is freed when a count falls. Every
// QueryInterface writes one trace line to the debugger output.
class TInterfacedComponent : public TComponent, public IUnknown
{
public:
    explicit TInterfacedComponent(TComponent* AOwner) : TComponent(AOwner) {}
    ~TInterfacedComponent() override = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

protected:
    // The interfaces this class implements; S_OK and *ppv set (without a
    // reference added) when it has iid.
    virtual bool GetInterface(REFIID iid, void** ppv);
};

class TCustomDataFormat;

// The data formats of a component, in order; it does not own them.
class TDataFormats
{
public:
    // Index of the format, appending it when it is not yet there.
    int Add(TCustomDataFormat* format);
    void Remove(TCustomDataFormat* format);
    int Count() const { return static_cast<int>(m_formats.size()); }
    TCustomDataFormat* operator[](int index) const { return m_formats.at(static_cast<std::size_t>(index)); }

private:
    std::vector<TCustomDataFormat*> m_formats;
};

enum class TDragDropRole { Other, MultiSource, MultiTarget };

class TDragDropComponent : public TInterfacedComponent
{
public:
    explicit TDragDropComponent(TComponent* AOwner) : TInterfacedComponent(AOwner) {}

    TDataFormats FormatList;

    // What kind of owner this is for data formats.
    virtual TDragDropRole Role() const { return TDragDropRole::Other; }
};
