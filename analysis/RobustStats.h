// Robust figures of a sample: median, the scaled median absolute deviation, percentiles.
// Factory data holds outliers (a bad panel among good ones); these ignore a few.
#pragma once

#include <vector>

namespace analysis {

// The middle value (mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> v);
// 1.4826 x the median absolute deviation from the median: the standard deviation of
// normal data, unmoved by a few outliers.
double RobustSigma(const std::vector<double>& v);
// The p-th percentile (0..100), linear between the order statistics; 0 for none.
double Percentile(std::vector<double> v, double p);
// The share of a normal distribution outside mean +- k sigma (two-sided).
double NormalTwoSidedTail(double k);
// The standard normal quantile: z with a share p (0 < p < 1) of the distribution below it.
double NormalQuantile(double p);

}  // namespace analysis
