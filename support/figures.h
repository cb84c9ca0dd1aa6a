// The median the programs that measure print: hostsim's summary and both benchmarks.
#ifndef QAV_SUPPORT_FIGURES_H
#define QAV_SUPPORT_FIGURES_H

#include <algorithm>
#include <vector>

// The middle value (the upper one of an even count), 0 for none.
template <typename T> T median_of(std::vector<T> values)
{
    if (values.empty()) return T();
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

#endif
