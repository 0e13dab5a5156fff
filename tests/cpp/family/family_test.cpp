#include "family/family.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "family/visit_family.hpp"

namespace pelun {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

struct FamilyRow {
    Family family;
    FamilyKind kind;
    const char* display;
    LinkKind link;
    ScaleKind scale;
};

TEST(Family, ConstructorsCarryKindLinkDisplayNameAndScale) {
    const FamilyRow rows[] = {
        {gaussian_identity(), FamilyKind::Gaussian, "Gaussian", LinkKind::Identity, ScaleKind::Estimated},
        {bernoulli_logit(), FamilyKind::Bernoulli, "Bernoulli", LinkKind::Logit, ScaleKind::Fixed},
        {quasibinomial_logit(), FamilyKind::QuasiBinomial, "QuasiBinomial", LinkKind::Logit, ScaleKind::Pearson},
        {poisson_log(), FamilyKind::Poisson, "Poisson", LinkKind::Log, ScaleKind::Fixed},
        {quasipoisson_log(), FamilyKind::QuasiPoisson, "QuasiPoisson", LinkKind::Log, ScaleKind::Pearson},
        {gamma_log(), FamilyKind::Gamma, "Gamma", LinkKind::Log, ScaleKind::Pearson},
        {inverse_gaussian_log(), FamilyKind::InverseGaussian, "InverseGaussian", LinkKind::Log, ScaleKind::Pearson},
        {negbin_log(2.0), FamilyKind::NegBin, "NegBin", LinkKind::Log, ScaleKind::FamilySpecific},
        {tdist_identity(5.0, 1.0), FamilyKind::TDist, "TDist", LinkKind::Identity, ScaleKind::FamilySpecific},
        {tweedie_log(1.5, 1.0), FamilyKind::Tweedie, "Tweedie", LinkKind::Log, ScaleKind::FamilySpecific},
        {ocat_identity(4), FamilyKind::Ocat, "Ocat", LinkKind::Identity, ScaleKind::FamilySpecific},
        {elf_identity(0.5, 0.0, 0.0), FamilyKind::Elf, "ELF", LinkKind::Identity, ScaleKind::FamilySpecific},
    };
    for (const FamilyRow& row : rows) {
        SCOPED_TRACE(row.display);
        EXPECT_EQ(row.family.kind, row.kind);
        EXPECT_EQ(display_name(row.kind), row.display);
        EXPECT_EQ(link_kind(row.kind), row.link);
        EXPECT_EQ(scale_kind(row.kind), row.scale);
    }
}

TEST(Family, ShapeConstructorsKeepTheirParameters) {
    EXPECT_EQ(negbin_log(3.5).theta, 3.5);
    const Family t = tdist_identity(7.0, 0.25);
    EXPECT_EQ(t.nu, 7.0);
    EXPECT_EQ(t.sigma2, 0.25);
    const Family tw = tweedie_log(1.3, 2.0);
    EXPECT_EQ(tw.power, 1.3);
    EXPECT_EQ(tw.phi, 2.0);
    EXPECT_EQ(ocat_identity(5).n_cats, 5u);
    const Family e = elf_identity(0.9, 0.2, 0.1);
    EXPECT_EQ(e.tau, 0.9);
    EXPECT_EQ(e.elf_sigma, 0.2);
    EXPECT_EQ(e.elf_lambda, 0.1);
}

struct ResponseCase {
    const char* name;
    Family family;
    std::vector<double> y;
    const char* message;  // nullptr: the response passes
};

TEST(Family, ResponseCheckReportsTheFirstFailingRow) {
    const ResponseCase cases[] = {
        {"poisson negative", poisson_log(), {0, 2, -1, -3}, "Poisson requires y \u2265 0; got y=-1 at row 2"},
        {"quasipoisson NaN passes", quasipoisson_log(), {nan_value, 0.5, -0.5},
         "QuasiPoisson requires y \u2265 0; got y=-0.5 at row 2"},
        {"poisson -inf", poisson_log(), {-inf_value}, "Poisson requires y \u2265 0; got y=-inf at row 0"},
        {"poisson counts", poisson_log(), {0, 1, 7.5, nan_value}, nullptr},
        {"bernoulli fractions", bernoulli_logit(), {0, 1, 0.5, 0.25}, nullptr},
        {"bernoulli NaN fails", bernoulli_logit(), {0, nan_value}, "Bernoulli requires y in [0, 1]; got y=NaN at row 1"},
        {"bernoulli below", bernoulli_logit(), {-2, 3}, "Bernoulli requires y in [0, 1]; got y=-2 at row 0"},
        {"quasibinomial above", quasibinomial_logit(), {1, 1.5}, "QuasiBinomial requires y in [0, 1]; got y=1.5 at row 1"},
        {"gamma zero", gamma_log(), {1, 0}, "Gamma requires y > 0; got y=0 at row 1"},
        {"inverse gaussian", inverse_gaussian_log(), {nan_value, 2, -1e-300},
         "InverseGaussian requires y > 0; got y=-1e-300 at row 2"},
        {"gamma positive", gamma_log(), {1e-300, 2, 1e300}, nullptr},
        {"gaussian unchecked", gaussian_identity(), {-inf_value, nan_value, -3}, nullptr},
        {"negbin", negbin_log(2.0), {-1}, "NegBin requires y \u2265 0; got y=-1 at row 0"},
        {"tweedie", tweedie_log(1.5, 1.0), {3, -2.5}, "Tweedie requires y \u2265 0; got y=-2.5 at row 1"},
        {"tdist unchecked", tdist_identity(5.0, 1.0), {-5}, nullptr},
        {"empty", poisson_log(), {}, nullptr},
    };
    for (const ResponseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<void> checked = check_response(c.family, VectorView(c.y));
        if (c.message == nullptr) {
            EXPECT_TRUE(checked.has_value()) << checked.error().text;
        } else {
            ASSERT_FALSE(checked.has_value());
            EXPECT_EQ(checked.error().kind, ErrorKind::InvalidParameter);
            EXPECT_EQ(checked.error().text, c.message);
        }
    }
}

TEST(Family, ResponseCheckCountsRowsOfAStridedView) {
    // Every other element, read backwards: rows are 6, 4, -2, 0.
    const std::vector<double> data = {0, 9, -2, 9, 4, 9, 6};
    const VectorView y(data.data() + 6, 4, -2 * static_cast<std::ptrdiff_t>(sizeof(double)));
    const Result<void> checked = check_response(poisson_log(), y);
    ASSERT_FALSE(checked.has_value());
    EXPECT_EQ(checked.error().text, "Poisson requires y \u2265 0; got y=-2 at row 2");
}

// Which traits a family value dispatches to.
enum class Traits { Gaussian, Bernoulli, Poisson, Gamma, InverseGaussian };

Traits traits_of(const Family& family) {
    return visit_family(family, [](const auto& traits) {
        using T = std::decay_t<decltype(traits)>;
        if constexpr (std::is_same_v<T, GaussianTraits>) return Traits::Gaussian;
        if constexpr (std::is_same_v<T, BernoulliTraits>) return Traits::Bernoulli;
        if constexpr (std::is_same_v<T, PoissonTraits>) return Traits::Poisson;
        if constexpr (std::is_same_v<T, GammaTraits>) return Traits::Gamma;
        if constexpr (std::is_same_v<T, InverseGaussianTraits>) return Traits::InverseGaussian;
    });
}

TEST(Family, QuasiFamiliesDispatchToTheirParentsTraits) {
    EXPECT_EQ(traits_of(gaussian_identity()), Traits::Gaussian);
    EXPECT_EQ(traits_of(bernoulli_logit()), Traits::Bernoulli);
    EXPECT_EQ(traits_of(quasibinomial_logit()), Traits::Bernoulli);
    EXPECT_EQ(traits_of(poisson_log()), Traits::Poisson);
    EXPECT_EQ(traits_of(quasipoisson_log()), Traits::Poisson);
    EXPECT_EQ(traits_of(gamma_log()), Traits::Gamma);
    EXPECT_EQ(traits_of(inverse_gaussian_log()), Traits::InverseGaussian);
    for (const Family& f : {gaussian_identity(), bernoulli_logit(), quasibinomial_logit(), poisson_log(),
                            quasipoisson_log(), gamma_log(), inverse_gaussian_log()})
        EXPECT_TRUE(has_family_traits(f.kind));
    for (const Family& f : {negbin_log(1), tdist_identity(5, 1), tweedie_log(1.5, 1), ocat_identity(3),
                            elf_identity(0.5, 0, 0)})
        EXPECT_FALSE(has_family_traits(f.kind));
    // The traits link is the family's link.
    visit_family(quasibinomial_logit(), [](const auto& traits) {
        EXPECT_EQ(std::decay_t<decltype(traits)>::Link::kind, link_kind(FamilyKind::QuasiBinomial));
    });
}

TEST(FamilyDeathTest, VisitingAFamilyWithoutTraitsAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(traits_of(ocat_identity(3)), "no traits");
}

// The Pearson statistic written out from its definition for each family:
// Σ w (y − μ̃)² / V(μ̃).
double direct_pearson(FamilyKind kind, const std::vector<double>& y, const std::vector<double>& mu,
                      const std::vector<double>& w) {
    double total = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        double m = std::max(mu[i], 1e-300), v = 0.0;
        switch (kind) {
            case FamilyKind::QuasiPoisson: v = m; break;
            case FamilyKind::Gamma: v = std::pow(m, 2.0); break;
            case FamilyKind::InverseGaussian: v = std::pow(m, 3.0); break;
            case FamilyKind::QuasiBinomial:
                m = std::min(std::max(mu[i], 1e-15), 0.999999999999999);
                v = m * (1.0 - m);
                break;
            default: ADD_FAILURE(); break;
        }
        total += w[i] * std::pow(y[i] - m, 2.0) / v;
    }
    return total;
}

TEST(Family, PearsonScaleMatchesTheDefinition) {
    const std::vector<double> w = {1.0, 0.5, 2.0, 1.5, 1.0};
    const std::vector<double> ones(5, 1.0);
    const double tau = 2.5;
    struct Case {
        Family family;
        std::vector<double> y;
        std::vector<double> mu;
    };
    const Case cases[] = {
        // μ = 0 meets the floor 1e-300.
        {quasipoisson_log(), {0.0, 3.0, 1.0, 6.0, 2.0}, {0.4, 2.5, 0.0, 5.0, 2.2}},
        {gamma_log(), {0.5, 3.0, 1.2, 6.0, 2.0}, {0.4, 2.5, 1e-3, 5.0, 2.2}},
        {inverse_gaussian_log(), {0.5, 3.0, 1.2, 6.0, 2.0}, {0.4, 2.5, 0.9, 5.0, 2.2}},
        // 0 and 1 meet the probability clamps.
        {quasibinomial_logit(), {0.0, 1.0, 1.0, 0.0, 1.0}, {0.2, 0.7, 1.0, 0.0, 0.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(display_name(c.family.kind));
        const double weighted = pearson_scale(c.family, VectorView(c.y), c.mu, w, tau);
        EXPECT_NEAR(weighted, direct_pearson(c.family.kind, c.y, c.mu, w) / (5.0 - tau),
                    1e-13 * std::abs(weighted));
        const double unweighted = pearson_scale(c.family, VectorView(c.y), c.mu, tau);
        EXPECT_NEAR(unweighted, direct_pearson(c.family.kind, c.y, c.mu, ones) / (5.0 - tau),
                    1e-13 * std::abs(unweighted));
        // No residual degrees of freedom left: NaN, not an error.
        EXPECT_TRUE(std::isnan(pearson_scale(c.family, VectorView(c.y), c.mu, 5.0)));
        EXPECT_TRUE(std::isnan(pearson_scale(c.family, VectorView(c.y), c.mu, w, 7.0)));
    }
}

}  // namespace
}  // namespace pelun
