#pragma once

#include <vector>

// The middle value of a benchmark's rounds (the upper one of an even count); 0 for none.
double median(std::vector<double> values);
