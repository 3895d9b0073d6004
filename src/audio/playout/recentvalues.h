#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

// The last `capacity` values of a measurement, with their smallest and a quantile, both
// brought up to date at each add. Fixed storage: adding never allocates. One thread, or its
// owner locks.
template <int capacity> class RecentValues
{
public:
    void clear()
    {
        count = 0;
        oldest = 0;
        smallest = 0;
        quantileValue = 0;
    }

    // Adds a value, forgetting the oldest once full; the quantile is the value that `share`
    // of the values remembered do not exceed.
    void add(std::int64_t value, double share)
    {
        if (count < capacity) {
            values[std::size_t(count++)] = value;
        } else {
            values[std::size_t(oldest)] = value;
            oldest = (oldest + 1) % capacity;
        }
        const auto end = scratch.begin() + count;
        std::copy(values.begin(), values.begin() + count, scratch.begin());
        smallest = *std::min_element(scratch.begin(), end);
        const auto rank = scratch.begin() + std::ptrdiff_t(std::ceil(share * count)) - 1;
        std::nth_element(scratch.begin(), rank, end);
        quantileValue = *rank;
    }

    bool empty() const { return count == 0; }
    std::int64_t minimum() const { return smallest; }
    std::int64_t quantile() const { return quantileValue; }

private:
    std::array<std::int64_t, capacity> values{};
    std::array<std::int64_t, capacity> scratch{};
    int count = 0;
    int oldest = 0; // where the next value goes once full
    std::int64_t smallest = 0;
    std::int64_t quantileValue = 0;
};
