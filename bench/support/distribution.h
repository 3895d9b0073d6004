#pragma once

#include <cstddef>
#include <vector>

// The spread of a set of measurements, as the results table shows it.
struct Distribution
{
    std::size_t count = 0;
    double median = 0;
    double p90 = 0; // nearest rank
    double p95 = 0; // nearest rank
    double max = 0;
};

Distribution distributionOf(std::vector<double> values);
