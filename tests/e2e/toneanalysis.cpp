#include "toneanalysis.h"

#include <algorithm>
#include <cmath>

namespace ToneAnalysis {

std::vector<double> firstChannel(const std::vector<std::int16_t> &stereo)
{
    std::vector<double> samples(stereo.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = stereo[2 * i] / 32768.0;
    return samples;
}

double rmsDbfs(const std::vector<double> &samples, Span span)
{
    if (span.size() == 0)
        return -200;
    double sum = 0;
    for (std::size_t i = span.begin; i < span.end; ++i)
        sum += samples[i] * samples[i];
    const double rms = std::sqrt(sum / static_cast<double>(span.size()));
    return rms > 1e-10 ? 20 * std::log10(rms) : -200;
}

Span loudSpan(const std::vector<double> &samples, int sampleRate, double thresholdDbfs)
{
    const auto block = static_cast<std::size_t>(sampleRate / 100);
    Span span;
    bool found = false;
    for (std::size_t at = 0; at + block <= samples.size(); at += block) {
        if (rmsDbfs(samples, {at, at + block}) <= thresholdDbfs)
            continue;
        if (!found)
            span.begin = at;
        found = true;
        span.end = at + block;
    }
    return span;
}

Span shrink(Span span, std::size_t margin)
{
    if (span.size() <= 2 * margin)
        return {span.begin, span.begin};
    return {span.begin + margin, span.end - margin};
}

Measurement measure(const std::vector<double> &samples, Span span, int sampleRate)
{
    Measurement result;
    result.rmsDbfs = rmsDbfs(samples, span);
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t i = span.begin + 1; i < span.end; ++i) {
        const double a = samples[i - 1];
        const double b = samples[i];
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(i - 1) + a / (a - b);
            if (crossings == 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings >= 2)
        result.frequencyHz = (crossings - 1) * sampleRate / (last - first);
    return result;
}

Blocks measureBlocks(const std::vector<double> &samples, Span span, int sampleRate)
{
    const auto block = static_cast<std::size_t>(sampleRate / 10);
    std::vector<Measurement> measured;
    for (std::size_t at = span.begin; at + block <= span.end; at += block)
        measured.push_back(measure(samples, {at, at + block}, sampleRate));
    Blocks result;
    result.count = static_cast<int>(measured.size());
    if (measured.empty())
        return result;
    const auto median = [&](double Measurement::*field) {
        std::vector<double> values;
        for (const Measurement &m : measured)
            values.push_back(m.*field);
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    result.median.frequencyHz = median(&Measurement::frequencyHz);
    result.median.rmsDbfs = median(&Measurement::rmsDbfs);
    for (const Measurement &m : measured)
        if (std::abs(m.frequencyHz - result.median.frequencyHz) >
                0.01 * result.median.frequencyHz ||
            std::abs(m.rmsDbfs - result.median.rmsDbfs) > 0.5)
            ++result.deviating;
    return result;
}

} // namespace ToneAnalysis
