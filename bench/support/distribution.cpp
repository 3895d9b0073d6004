#include "distribution.h"

#include <algorithm>
#include <cmath>

Distribution distributionOf(std::vector<double> values)
{
    Distribution result;
    result.count = values.size();
    if (values.empty())
        return result;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    result.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const auto nearestRank = [&](double share) {
        const auto rank = std::size_t(std::ceil(share * double(n)));
        return values[std::max<std::size_t>(rank, 1) - 1];
    };
    result.p90 = nearestRank(0.9);
    result.p95 = nearestRank(0.95);
    result.max = values.back();
    return result;
}
