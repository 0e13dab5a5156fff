#include "fit_functions.hpp"

#include <array>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "errors.hpp"
#include "fit/additive_fit.hpp"
#include "fit/fit_request.hpp"
#include "fit/single_smooth_fit.hpp"
#include "fitted_gam.hpp"
#include "numpy_bridge.hpp"
#include "util/format.hpp"

namespace pelun::py {

namespace {

constexpr std::array<const char*, 15> kFitParameters = {
    "family_name", "x",      "y",           "weights", "k",   "design",    "theta",      "nu",
    "sigma2",      "tweedie_p", "tweedie_phi", "r",    "tau", "elf_sigma", "elf_lambda",
};

constexpr std::array<const char*, 5> kFitAdditiveParameters = {
    "family_name", "x", "y", "terms", "weights",
};

const char* const kFitDoc =
    "fit(family_name, x, y, weights=None, k=10, design=\"cr\", theta=None, nu=None, sigma2=None, "
    "tweedie_p=None, tweedie_phi=None, r=None, tau=None, elf_sigma=None, elf_lambda=None)\n"
    "--\n"
    "\n"
    "Fit a pelun GAM. The only string-keyed entry into the typed core.\n"
    "\n"
    "family_name selects the family (defaults of its optional arguments in brackets):\n"
    "  \"gaussian\" -> gaussian_identity\n"
    "  \"bernoulli\", \"binomial\" -> bernoulli_logit\n"
    "  \"poisson\" -> poisson_log\n"
    "  \"quasipoisson\" -> quasipoisson_log\n"
    "  \"quasibinomial\" -> quasibinomial_logit\n"
    "  \"gamma\" -> gamma_log\n"
    "  \"inverse_gaussian\", \"inverse.gaussian\" -> inverse_gaussian_log\n"
    "  \"negbin\", \"nb\" -> negbin_log [theta=2.0, starting overdispersion]\n"
    "  \"tdist\", \"scat\" -> tdist_identity [nu=5, starting degrees of freedom; sigma2=1, starting scale]\n"
    "  \"tweedie\", \"tw\" -> tweedie_log [tweedie_p=1.5, starting power; tweedie_phi=1, starting "
    "dispersion]\n"
    "  \"ocat\" -> ocat_identity [r, the number of ordered categories, required]\n"
    "  \"elf\", \"quantile\" -> elf_identity [tau=0.5, quantile level; elf_sigma=0 and elf_lambda=0, where 0 "
    "selects the automatically tuned warm start]\n"
    "\n"
    "design accepts \"cr\" (default), \"re\" or \"cr_stable\".";

const char* const kFitAdditiveDoc =
    "fit_additive(family_name, x, y, terms, weights=None)\n"
    "--\n"
    "\n"
    "Fit a pelun GAM with several smooth terms, y ~ s(x[:, c0]) + s(x[:, c1]) + ...\n"
    "\n"
    "terms is a list of tuples, one per term:\n"
    "  (col, \"cr\") or (col, \"cr\", k): cubic regression spline of column col (k=10 when omitted)\n"
    "  (col, \"cr_stable\") or (col, \"cr_stable\", k): the same, stably reparameterised\n"
    "  (col, \"re\"): random effect over the distinct values of column col\n"
    "  ((col_a, col_b), \"te\") or ((col_a, col_b), \"te\", (k_a, k_b)): tensor-product smooth of two "
    "columns (k_a=k_b=10 when omitted)\n"
    "The basis names \"cr\", \"cr_stable\" and \"re\" (and \"te\") exist only at this boundary: the "
    "terms are parsed into typed TermSpec values, which flow into the core.\n"
    "\n"
    "family_name accepts the names of fit() except the single-smooth-only families (negbin, tdist, "
    "tweedie, ocat, elf and their aliases), which are refused with a message pointing back to fit().";

// Until the fit paths are built, a call that passes every check up to the
// point where a design is built stops here.
PyObject* raise_path_missing(std::string_view what) {
    const std::string message = std::string(what) + " is not implemented yet in this build of pelun";
    PyErr_SetString(PyExc_NotImplementedError, message.c_str());
    return nullptr;
}

// The arrays are read through their views only after every other argument
// is converted: a conversion may run Python code (__index__, __float__) that
// could reshape or reallocate an array viewed earlier.
bool bind_array_views(PyObject* x, PyObject* y, MatrixArgument& x_arg, VectorArgument& y_arg) {
    return convert_argument("x", [&] { return view_matrix(x, x_arg); }) &&
           convert_argument("y", [&] { return view_vector(y, y_arg); });
}

PyObject* fit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kFitParameters.size()> a{};
    if (!bind_arguments({"fit", kFitParameters, 3}, args, nargs, kwnames, a)) return nullptr;
    enum { FamilyArg, X, Y, Weights, K, Design, Theta, Nu, Sigma2, TweedieP, TweediePhi, R, Tau, ElfSigma, ElfLambda };

    FitRequest request;
    const auto present = [](PyObject* o) { return o != nullptr && o != Py_None; };
    if (!convert_argument("family_name", [&] { return convert_text(a[FamilyArg], request.family_name); }))
        return nullptr;
    if (!convert_argument("x", [&] { return check_float64_array(a[X], 2); })) return nullptr;
    if (!convert_argument("y", [&] { return check_float64_array(a[Y], 1); })) return nullptr;
    if (present(a[Weights])) {
        Vector weights;
        if (!convert_argument("weights", [&] { return copy_vector(a[Weights], weights); })) return nullptr;
        request.weights = std::move(weights);
    }
    if (present(a[K]) && !convert_argument("k", [&] { return convert_unsigned(a[K], request.k); }))
        return nullptr;
    if (present(a[Design]) && !convert_argument("design", [&] { return convert_text(a[Design], request.design); }))
        return nullptr;
    const std::array<std::pair<int, std::optional<double>*>, 5> shape_args = {{
        {Theta, &request.theta},
        {Nu, &request.nu},
        {Sigma2, &request.sigma2},
        {TweedieP, &request.tweedie_p},
        {TweediePhi, &request.tweedie_phi},
    }};
    for (const auto& [index, target] : shape_args)
        if (!convert_argument(kFitParameters[index], [&] { return convert_optional_double(a[index], *target); }))
            return nullptr;
    if (!convert_argument("r", [&] { return convert_optional_unsigned(a[R], request.r); })) return nullptr;
    const std::array<std::pair<int, std::optional<double>*>, 3> quantile_args = {{
        {Tau, &request.tau},
        {ElfSigma, &request.elf_sigma},
        {ElfLambda, &request.elf_lambda},
    }};
    for (const auto& [index, target] : quantile_args)
        if (!convert_argument(kFitParameters[index], [&] { return convert_optional_double(a[index], *target); }))
            return nullptr;

    MatrixArgument x;
    VectorArgument y;
    if (!bind_array_views(a[X], a[Y], x, y)) return nullptr;
    request.x = x.view;
    request.y = y.view;

    auto plan = plan_single_smooth_fit(request);
    if (!plan) return raise_error(std::move(plan.error()));
    if (!single_smooth_path_available(*plan))
        return raise_path_missing("fitting the family " + quote_name(request.family_name) + " with design " +
                                  quote_name(request.design));
    auto record = fit_single_smooth(request, *plan);
    if (!record) return raise_error(std::move(record.error()));
    return wrap_fitted_gam(std::move(*record));
}

// --- fit_additive -------------------------------------------------------

std::string repr_text(PyObject* object) {
    PyRef repr = PyRef::steal(PyObject_Repr(object));
    if (!repr) return {};
    const char* text = PyUnicode_AsUTF8(repr.get());
    return text == nullptr ? std::string() : std::string(text);
}

PyObject* raise_term_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return nullptr;
}

// Parses one term tuple into a TermSpec; false with an exception set.
bool parse_term(PyObject* item, std::size_t i, std::vector<TermSpec>& terms) {
    const std::string index = std::to_string(i);
    if (!PyTuple_Check(item)) {
        const std::string repr = repr_text(item);
        if (PyErr_Occurred()) return false;
        raise_term_error("fit_additive: term " + index + " must be a tuple; got " + repr);
        return false;
    }
    const Py_ssize_t size = PyTuple_GET_SIZE(item);
    if (size < 2) {
        raise_term_error("fit_additive: term " + index + " tuple must have at least 2 elements");
        return false;
    }
    std::string_view basis;
    if (!convert_text(PyTuple_GET_ITEM(item, 1), basis)) return false;

    if (basis == "te") {
        PyObject* cols = PyTuple_GET_ITEM(item, 0);
        if (!PyTuple_Check(cols)) {
            raise_term_error("fit_additive: tensor term " + index + " first element must be a (col_a, col_b) tuple");
            return false;
        }
        if (PyTuple_GET_SIZE(cols) != 2) {
            raise_term_error("fit_additive: tensor term " + index + " cols tuple must have exactly 2 elements");
            return false;
        }
        TensorTermSpec term;
        if (!convert_unsigned(PyTuple_GET_ITEM(cols, 0), term.col_a) ||
            !convert_unsigned(PyTuple_GET_ITEM(cols, 1), term.col_b))
            return false;
        if (size > 2) {
            PyObject* ks = PyTuple_GET_ITEM(item, 2);
            if (!PyTuple_Check(ks)) {
                raise_term_error("fit_additive: tensor term " + index + " k must be a (k_a, k_b) tuple");
                return false;
            }
            if (PyTuple_GET_SIZE(ks) != 2) {
                raise_term_error("fit_additive: tensor term " + index + " k tuple must have exactly 2 elements");
                return false;
            }
            if (!convert_unsigned(PyTuple_GET_ITEM(ks, 0), term.k_a) ||
                !convert_unsigned(PyTuple_GET_ITEM(ks, 1), term.k_b))
                return false;
        }
        terms.emplace_back(term);
        return true;
    }

    std::size_t col = 0;
    if (!convert_unsigned(PyTuple_GET_ITEM(item, 0), col)) {
        PyErr_Clear();  // the conversion's own exception is replaced
        raise_term_error("fit_additive: univariate term " + index +
                         " first element must be an integer column index");
        return false;
    }
    if (basis != "cr" && basis != "cr_stable" && basis != "re") {
        raise_term_error("fit_additive: term " + index + " basis must be 'cr', 'cr_stable', 're', or 'te'; got " +
                         quote_name(basis));
        return false;
    }
    if (basis == "re") {
        terms.emplace_back(ReTermSpec{col});
        return true;
    }
    std::size_t k = 10;
    if (size > 2 && !convert_unsigned(PyTuple_GET_ITEM(item, 2), k)) return false;
    if (basis == "cr")
        terms.emplace_back(CrTermSpec{col, k});
    else
        terms.emplace_back(CrStableTermSpec{col, k});
    return true;
}

PyObject* fit_additive(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kFitAdditiveParameters.size()> a{};
    if (!bind_arguments({"fit_additive", kFitAdditiveParameters, 4}, args, nargs, kwnames, a)) return nullptr;
    enum { FamilyArg, X, Y, Terms, Weights };

    AdditiveFitRequest request;
    if (!convert_argument("family_name", [&] { return convert_text(a[FamilyArg], request.family_name); }))
        return nullptr;
    if (!convert_argument("x", [&] { return check_float64_array(a[X], 2); })) return nullptr;
    if (!convert_argument("y", [&] { return check_float64_array(a[Y], 1); })) return nullptr;
    if (!convert_argument("terms", [&] {
            return PyList_Check(a[Terms]) ? true : raise_cast_error(short_type_name(a[Terms]), "list");
        }))
        return nullptr;
    if (a[Weights] != nullptr && a[Weights] != Py_None) {
        Vector weights;
        if (!convert_argument("weights", [&] { return copy_vector(a[Weights], weights); })) return nullptr;
        request.weights = std::move(weights);
    }

    // The list may be changed by Python code run during parsing (__index__),
    // so its length is read afresh and each item held while it is parsed.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(a[Terms]); ++i) {
        PyRef item = PyRef::borrow(PyList_GET_ITEM(a[Terms], i));
        if (!parse_term(item.get(), static_cast<std::size_t>(i), request.terms)) return nullptr;
    }
    if (request.terms.empty()) return raise_term_error("fit_additive: terms list must be non-empty");

    if (!lookup_additive_family_name(request.family_name)) {
        const std::string name = quote_name(request.family_name);
        return raise_term_error("fit_additive: family " + name +
                                " is shape-managed and restricted to single-smooth in 94b; use "
                                "pelun.fit(family=" + name +
                                ", …) or wait for multi-smooth shape-aware support. Supported additive "
                                "families: gaussian, bernoulli/binomial, poisson, quasipoisson, "
                                "quasibinomial, gamma, inverse_gaussian");
    }

    MatrixArgument x;
    VectorArgument y;
    if (!bind_array_views(a[X], a[Y], x, y)) return nullptr;
    request.x = x.view;
    request.y = y.view;
    auto record = fit_additive_model(request);
    if (!record) return raise_error(std::move(record.error()));
    return wrap_fitted_gam(std::move(*record));
}

PyMethodDef fit_methods[] = {
    {"fit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fit)), METH_FASTCALL | METH_KEYWORDS,
     kFitDoc},
    {"fit_additive", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fit_additive)),
     METH_FASTCALL | METH_KEYWORDS, kFitAdditiveDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* fit_function_table() { return fit_methods; }

}  // namespace pelun::py
