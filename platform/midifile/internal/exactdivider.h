// Division by a divisor fixed at run time, done as a multiplication: loading
// divides every event's position on the file's clock, and a hardware division
// per event would cost more than the rest of the parsing.
#pragma once

#include "wide.h"

#include <cstdint>

namespace music::internal {

class ExactDivider
{
public:
    // Dividends must stay below this bound.
    static constexpr std::uint64_t kLimit = std::uint64_t{1} << 62;

    // `divisor` lies between 1 and 2^32 - 1.
    explicit ExactDivider(std::uint32_t divisor) noexcept
    {
        if (divisor == 1)
            return; // the multiplier would need 65 bits
        unsigned bits = 0;
        while ((std::uint64_t{1} << bits) < divisor)
            ++bits;
        // With shift = 62 + bits (at least 64), ceil(2^shift / divisor) fits in 64
        // bits and the quotient is exact for every dividend below 2^62
        // (Granlund and Montgomery).
        const unsigned shift = bits < 2 ? 64 : 62 + bits;
        m_multiplier = static_cast<std::uint64_t>(((Wide{1} << shift) + divisor - 1) / divisor);
        m_highShift = shift - 64;
    }

    // floor(dividend / divisor) for dividend < kLimit.
    std::uint64_t divide(std::uint64_t dividend) const noexcept
    {
        if (m_multiplier == 0)
            return dividend;
        // Only the high half of the product is needed.
        return static_cast<std::uint64_t>((Wide{dividend} * m_multiplier) >> 64) >> m_highShift;
    }

private:
    std::uint64_t m_multiplier = 0; // 0: the divisor is 1
    unsigned m_highShift = 0;
};

} // namespace music::internal
