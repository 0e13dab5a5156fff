#include "fitted_gam.hpp"

#include <array>
#include <memory>
#include <new>

#include "arguments.hpp"
#include "errors.hpp"
#include "fit/prediction.hpp"
#include "numpy_bridge.hpp"
#include "persistence_methods.hpp"
#include "util/format.hpp"

namespace pelun::py {

namespace {

struct FittedGamObject {
    PyObject_HEAD
    FittedGam* record;  // owned; never changed after creation
};

PyTypeObject* fitted_gam_type = nullptr;  // kept alive by the module

const FittedGam& record_of(PyObject* self) { return *reinterpret_cast<FittedGamObject*>(self)->record; }

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<FittedGamObject*>(self)->record;
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

// --- properties -------------------------------------------------------------

PyObject* get_beta(PyObject* self, void*) { return new_array(record_of(self).beta); }
PyObject* get_rho(PyObject* self, void*) { return new_array(record_of(self).rho); }
PyObject* get_lambda(PyObject* self, void*) { return new_array(record_of(self).lambda); }
PyObject* get_edf_per_term(PyObject* self, void*) { return new_array(record_of(self).edf_per_term); }
PyObject* get_scale(PyObject* self, void*) { return PyFloat_FromDouble(record_of(self).scale); }
PyObject* get_edf_total(PyObject* self, void*) { return PyFloat_FromDouble(record_of(self).edf_total); }
PyObject* get_n(PyObject* self, void*) { return PyLong_FromSize_t(record_of(self).n); }
PyObject* get_n_iters(PyObject* self, void*) { return PyLong_FromSize_t(record_of(self).n_iters); }
PyObject* get_converged(PyObject* self, void*) { return PyBool_FromLong(record_of(self).converged); }
PyObject* get_reml_value(PyObject* self, void*) { return PyFloat_FromDouble(record_of(self).reml_value); }
PyObject* get_shape_params(PyObject* self, void*) { return new_array(record_of(self).shape_params); }

PyGetSetDef properties[] = {
    {"beta", get_beta, nullptr, nullptr, nullptr},
    {"rho", get_rho, nullptr,
     "fitted log smoothing parameters, one per term; length 1 for single-smooth fits, T for additive fits",
     nullptr},
    {"lambda", get_lambda, nullptr, "fitted smoothing parameters, one per term", nullptr},
    {"edf_per_term", get_edf_per_term, nullptr,
     "per-term effective degrees of freedom, summing to edf_total - 1 (intercept excluded)", nullptr},
    {"scale", get_scale, nullptr, nullptr, nullptr},
    {"edf_total", get_edf_total, nullptr, nullptr, nullptr},
    {"n", get_n, nullptr, nullptr, nullptr},
    {"n_iters", get_n_iters, nullptr, nullptr, nullptr},
    {"converged", get_converged, nullptr, nullptr, nullptr},
    {"reml_value", get_reml_value, nullptr, nullptr, nullptr},
    {"shape_params", get_shape_params, nullptr,
     "family-specific fitted shape parameters, empty for families without any", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- methods ----------------------------------------------------------------

PyObject* vcov(PyObject* self, PyObject*) { return new_array(record_of(self).vcov); }

PyObject* term_col_ranges(PyObject* self, PyObject*) {
    const FittedGam& fit = record_of(self);
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    if (const auto* additive = std::get_if<AdditivePredictor>(&fit.predictor.value))
        ranges = additive->term_col_ranges;
    else
        ranges.emplace_back(1, fit.beta.size());
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(ranges.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        PyObject* pair = Py_BuildValue("(nn)", static_cast<Py_ssize_t>(ranges[i].first),
                                       static_cast<Py_ssize_t>(ranges[i].second));
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return list.release();
}

// Binds and views the single array argument of a prediction method.
bool single_x_argument(const char* method, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       MatrixArgument& x) {
    static constexpr std::array<const char*, 1> names = {"x_new"};
    std::array<PyObject*, 1> bound{};
    if (!bind_arguments({method, names, 1}, args, nargs, kwnames, bound)) return false;
    return convert_argument("x_new", [&] { return view_matrix(bound[0], x); });
}

PyObject* evaluate_lpmatrix(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    MatrixArgument x;
    if (!single_x_argument("evaluate_lpmatrix", args, nargs, kwnames, x)) return nullptr;
    auto matrix = lpmatrix(record_of(self), x.view);
    if (!matrix) return raise_error(std::move(matrix.error()));
    return new_array(*matrix);
}

PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    MatrixArgument x;
    if (!single_x_argument("predict", args, nargs, kwnames, x)) return nullptr;
    auto eta = predict_link(record_of(self), x.view);
    if (!eta) return raise_error(std::move(eta.error()));
    return new_array(*eta);
}

PyObject* predict_response(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    MatrixArgument x;
    if (!single_x_argument("predict_response", args, nargs, kwnames, x)) return nullptr;
    const FittedGam& fit = record_of(self);
    auto eta = predict_link(fit, x.view);
    if (!eta) return raise_error(std::move(eta.error()));
    return new_array(inverse_link_values(fit.link_kind, std::move(*eta)));
}

PyObject* interval_tuple(const IntervalPrediction& interval) {
    PyRef estimate = PyRef::steal(new_array(interval.estimate));
    PyRef lower = PyRef::steal(new_array(interval.lower));
    PyRef upper = PyRef::steal(new_array(interval.upper));
    if (!estimate || !lower || !upper) return nullptr;
    return PyTuple_Pack(3, estimate.get(), lower.get(), upper.get());
}

PyObject* predict_ci(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<const char*, 3> names = {"x_new", "level", "scale"};
    std::array<PyObject*, 3> a{};
    if (!bind_arguments({"predict_ci", names, 1}, args, nargs, kwnames, a)) return nullptr;
    MatrixArgument x;
    if (!convert_argument("x_new", [&] { return check_float64_array(a[0], 2); })) return nullptr;
    std::optional<double> level;
    if (!convert_argument("level", [&] { return convert_optional_double(a[1], level); })) return nullptr;
    std::string_view scale = "response";
    if (a[2] != nullptr && !convert_argument("scale", [&] { return convert_text(a[2], scale); })) return nullptr;
    if (!convert_argument("x_new", [&] { return view_matrix(a[0], x); })) return nullptr;

    if (scale != "link" && scale != "response") {
        const std::string message = "scale must be 'link' or 'response', got " + quote_name(scale);
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return nullptr;
    }
    auto interval = predict_interval(record_of(self), x.view, level.value_or(0.95), scale == "response");
    if (!interval) return raise_error(std::move(interval.error()));
    return interval_tuple(*interval);
}

PyObject* predict_diff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<const char*, 3> names = {"x_a", "x_b", "level"};
    std::array<PyObject*, 3> a{};
    if (!bind_arguments({"predict_diff", names, 2}, args, nargs, kwnames, a)) return nullptr;
    if (!convert_argument("x_a", [&] { return check_float64_array(a[0], 2); })) return nullptr;
    if (!convert_argument("x_b", [&] { return check_float64_array(a[1], 2); })) return nullptr;
    std::optional<double> level;
    if (!convert_argument("level", [&] { return convert_optional_double(a[2], level); })) return nullptr;
    MatrixArgument x_a, x_b;
    if (!convert_argument("x_a", [&] { return view_matrix(a[0], x_a); })) return nullptr;
    if (!convert_argument("x_b", [&] { return view_matrix(a[1], x_b); })) return nullptr;
    auto interval = predict_difference(record_of(self), x_a.view, x_b.view, level.value_or(0.95));
    if (!interval) return raise_error(std::move(interval.error()));
    return interval_tuple(*interval);
}

#define PELUN_FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&function))

PyMethodDef methods[] = {
    {"vcov", vcov, METH_NOARGS,
     "vcov($self)\n--\n\nPosterior covariance of β̂, σ̂² · A⁻¹ (the scale times the inverse penalized "
     "Hessian), returned as a (p, p) float64 array."},
    {"term_col_ranges", term_col_ranges, METH_NOARGS,
     "term_col_ranges($self)\n--\n\nColumn ranges (first, last_exclusive) into the lpmatrix, which is laid "
     "out as the intercept followed by the term blocks: one pair per term for an additive fit, the single "
     "pair (1, p) for a single-smooth fit. The intercept, column 0, lies outside every range."},
    {"evaluate_lpmatrix", PELUN_FASTCALL(evaluate_lpmatrix), METH_FASTCALL | METH_KEYWORDS,
     "evaluate_lpmatrix($self, x_new)\n--\n\nThe model matrix rebuilt at x_new, a (n_new, p) float64 array: "
     "column 0 is the intercept, then the term blocks. Multiply column blocks by the matching entries of "
     "beta for partial predictions, or combine with vcov() to sample from the posterior."},
    {"predict", PELUN_FASTCALL(predict), METH_FASTCALL | METH_KEYWORDS,
     "predict($self, x_new)\n--\n\nThe linear predictor eta = X_new @ beta. x_new is a 2-D float64 array of "
     "shape (n_new, n_input_dims); the result is a 1-D float64 array of length n_new."},
    {"predict_response", PELUN_FASTCALL(predict_response), METH_FASTCALL | METH_KEYWORDS,
     "predict_response($self, x_new)\n--\n\nThe mean mu = g^-1(eta) on the response scale. x_new is a 2-D "
     "float64 array of shape (n_new, n_input_dims); the result is a 1-D float64 array of length n_new."},
    {"predict_ci", PELUN_FASTCALL(predict_ci), METH_FASTCALL | METH_KEYWORDS,
     "predict_ci($self, x_new, level=0.95, scale=\"response\")\n--\n\nWald-style interval for predictions at "
     "x_new, returned as three 1-D float64 arrays (mean, lo, hi) on the requested scale; scale accepts "
     "\"link\" (eta) or \"response\" (mu)."},
    {"serialize", serialize_method, METH_NOARGS,
     "serialize($self)\n--\n\nThe fit as one compact binary frame, a bytes object: the 17-byte header (magic "
     "b\"PELUN\", format version 1, body length) followed by every field of the fit as JSON. "
     "FittedGam.deserialize reads it back into a fit whose predictions are identical bit for bit."},
    {"deserialize", PELUN_FASTCALL(deserialize_method), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "deserialize($cls, bytes)\n--\n\nA new FittedGam read from a frame written by serialize. Raises "
     "ValueError, naming the first problem, when the frame is damaged, truncated or of another format version; "
     "bytes after the frame are ignored."},
    {"__reduce__", reduce_method, METH_NOARGS,
     "__reduce__($self)\n--\n\nPickling support: pickling routes through serialize and deserialize, so the "
     "pickle stream holds the same compact binary frame and unpickling calls FittedGam.deserialize on it."},
    {"predict_diff", PELUN_FASTCALL(predict_diff), METH_FASTCALL | METH_KEYWORDS,
     "predict_diff($self, x_a, x_b, level=0.95)\n--\n\nWald interval for the contrast predict(x_a) - "
     "predict(x_b) on the eta scale, as three 1-D float64 arrays (diff, lo, hi); broadcasts when one of "
     "the arrays has a single row."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_getset, properties},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_description = {
    "pelun._pelun_native.FittedGam",
    sizeof(FittedGamObject),
    0,
    // Instances come only from the fit functions and deserialize, never from
    // calling the class.
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

PyObject* create_fitted_gam_type() {
    PyObject* type = PyType_FromSpec(&type_description);
    if (type == nullptr) return nullptr;
    fitted_gam_type = reinterpret_cast<PyTypeObject*>(type);
    return type;
}

PyObject* fitted_gam_class() { return reinterpret_cast<PyObject*>(fitted_gam_type); }

const FittedGam& fitted_gam_record(PyObject* self) { return record_of(self); }

PyObject* wrap_fitted_gam(FittedGam&& record) {
    auto owned = std::unique_ptr<FittedGam>(new (std::nothrow) FittedGam(std::move(record)));
    if (!owned) return PyErr_NoMemory();
    allocfunc alloc = fitted_gam_type->tp_alloc != nullptr ? fitted_gam_type->tp_alloc : PyType_GenericAlloc;
    PyObject* self = alloc(fitted_gam_type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<FittedGamObject*>(self)->record = owned.release();
    return self;
}

}  // namespace pelun::py
