// Timings of the inner fit's hot spots on a large single-smooth problem: the
// weighted cross-products XᵀWX and one complete Poisson PIRLS fit.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "design/cr_design.hpp"
#include "family/family.hpp"
#include "inner/penalized_solve.hpp"
#include "inner/pirls.hpp"
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

}  // namespace

int main() {
    using namespace pelun;
    set_blas_single_threaded();  // as inside the Python module

    const std::size_t n = 1'000'000, k = 10;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    Matrix covariate(n, 1);
    Vector y(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = uniform(rng);
        covariate(i, 0) = t;
        y[i] = std::poisson_distribution<int>(std::exp(1.0 + std::sin(6.0 * t)))(rng);
    }
    auto design = build_cr_design(covariate, k);
    if (!design) {
        std::printf("design failed: %s\n", design.error().text.c_str());
        return 1;
    }
    const Matrix& x = design->x;
    const std::size_t p = x.cols();

    Vector w(n), z(n);
    for (std::size_t i = 0; i < n; ++i) {
        w[i] = 0.5 + uniform(rng);
        z[i] = uniform(rng);
    }
    Matrix scratch;
    double checksum = 0.0;
    const double cross_time = median_seconds(7, [&] {
        const WeightedCrossproducts cross = weighted_crossproducts(x, w, z, scratch);
        checksum += cross.xtwx(0, 0);
    });

    const PirlsProblem problem{.penalties = design->penalties, .x = x, .y = y};
    const std::vector<double> rho = {0.0};
    std::size_t iterations = 0;
    bool converged = false, failed = false;
    const double fit_time = median_seconds(5, [&] {
        auto fit = pirls(poisson_log(), problem, rho);
        if (!fit) {
            failed = true;
            return;
        }
        iterations = fit->iterations;
        converged = fit->converged;
        checksum += fit->deviance;
    });
    if (failed) {
        std::printf("PIRLS failed\n");
        return 1;
    }

    std::printf("n = %zu, p = %zu\n", n, p);
    std::printf("weighted_crossproducts: %.2f ms (median of 7)\n", cross_time * 1e3);
    std::printf("Poisson PIRLS fit:      %.2f ms (median of 5), %zu iterations, converged = %s\n",
                fit_time * 1e3, iterations, converged ? "true" : "false");
    std::printf("per iteration:          %.2f ms\n", fit_time * 1e3 / static_cast<double>(iterations));
    std::printf("(checksum %.6g)\n", checksum);
    return 0;
}
