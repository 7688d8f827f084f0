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
        unsigned bits = 0;
        while ((std::uint64_t{1} << bits) < divisor)
            ++bits;
        m_shift = 62 + bits;
        // ceil(2^shift / divisor) is at most 2^63 + 1, and with it the quotient is
        // exact for every dividend below 2^62 (Granlund and Montgomery).
        m_multiplier = static_cast<std::uint64_t>(((Wide{1} << m_shift) + divisor - 1) / divisor);
    }

    // floor(dividend / divisor) for dividend < kLimit.
    std::uint64_t divide(std::uint64_t dividend) const noexcept
    {
        return static_cast<std::uint64_t>((Wide{dividend} * m_multiplier) >> m_shift);
    }

private:
    std::uint64_t m_multiplier = 0;
    unsigned m_shift = 0;
};

} // namespace music::internal
