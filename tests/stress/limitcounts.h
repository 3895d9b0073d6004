#pragma once

#include <QString>

class RateLimits;

// One line of what each limit let through and refused, for a test's report:
// "Mute per sender 9/1991, Mute overall 5/4, Quality 6/30, newcomers 16/480".
QString limitCounts(const RateLimits &limits);
