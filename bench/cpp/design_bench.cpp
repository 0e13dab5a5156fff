// Timings of the additive design build: four cr terms at two sizes and one
// tensor-product term with small and large margins, plus rebuilding the
// model matrix from the predictor.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "design/additive_design.hpp"
#include "design/predictor_evaluate.hpp"
#include "linalg/blas.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Median wall time in seconds of `repeats` runs of fn.
template <class Fn>
double median_seconds(int repeats, Fn&& fn) {
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        fn();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

pelun::Matrix uniform_covariates(std::size_t n, std::size_t cols) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    pelun::Matrix x(n, cols);
    for (std::size_t i = 0; i < x.size(); ++i) x.data()[i] = uniform(rng);
    return x;
}

// Prints the median build and evaluation times; false if the build fails.
bool time_case(const char* label, const std::vector<pelun::TermSpec>& terms, const pelun::Matrix& x) {
    double checksum = 0.0;
    bool failed = false;
    std::size_t p = 0;
    const double build = median_seconds(5, [&] {
        auto design = pelun::build_additive_design(terms, x);
        if (!design) {
            failed = true;
            return;
        }
        p = design->x.cols();
        checksum += design->x(x.rows() - 1, p - 1);
    });
    if (failed) {
        std::printf("%s: design failed\n", label);
        return false;
    }
    const auto design = pelun::build_additive_design(terms, x);
    const double rebuild = median_seconds(5, [&] {
        auto rows = pelun::evaluate(design->predictor, x);
        if (rows) checksum += (*rows)(0, p - 1);
    });
    std::printf("%-28s n = %7zu, p = %4zu: build %8.2f ms, evaluate %8.2f ms (medians of 5; checksum %.3g)\n",
                label, x.rows(), p, build * 1e3, rebuild * 1e3, checksum);
    return true;
}

}  // namespace

int main() {
    using namespace pelun;
    set_blas_single_threaded();  // as inside the Python module

    const std::vector<TermSpec> four_cr{CrTermSpec{0, 10}, CrTermSpec{1, 10}, CrTermSpec{2, 10}, CrTermSpec{3, 10}};
    const std::vector<TermSpec> tensor_5{TensorTermSpec{0, 1, 5, 5}};
    const std::vector<TermSpec> tensor_10{TensorTermSpec{0, 1, 10, 10}};

    bool ok = true;
    ok &= time_case("four cr terms, k = 10", four_cr, uniform_covariates(10'000, 4));
    ok &= time_case("four cr terms, k = 10", four_cr, uniform_covariates(100'000, 4));
    ok &= time_case("tensor term, 5 x 5", tensor_5, uniform_covariates(10'000, 2));
    ok &= time_case("tensor term, 10 x 10", tensor_10, uniform_covariates(10'000, 2));
    return ok ? 0 : 1;
}
