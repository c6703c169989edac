#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

// A set of enumeration members held in a fixed-width word, member n in bit n.
// The component's sets (line events, modem signals, line errors, store groups)
// are stored and compared by their bits, so the width is part of the type.
template <typename E, typename Bits>
class TComSet {
    static_assert(std::is_enum_v<E>);
    static_assert(std::is_unsigned_v<Bits>);

public:
    constexpr TComSet() = default;
    constexpr TComSet(std::initializer_list<E> members)
    {
        for (E m : members)
            bits_ |= Bit(m);
    }

    static constexpr TComSet FromBits(Bits bits)
    {
        TComSet s;
        s.bits_ = bits;
        return s;
    }

    constexpr Bits ToBits() const { return bits_; }
    constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(E m) { bits_ |= Bit(m); }
    constexpr void Exclude(E m) { bits_ &= static_cast<Bits>(~Bit(m)); }

    friend constexpr bool operator==(TComSet, TComSet) = default;
    friend constexpr TComSet operator|(TComSet a, TComSet b) { return FromBits(static_cast<Bits>(a.bits_ | b.bits_)); }
    friend constexpr TComSet operator&(TComSet a, TComSet b) { return FromBits(static_cast<Bits>(a.bits_ & b.bits_)); }

private:
    static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }

    Bits bits_ = 0;
};
