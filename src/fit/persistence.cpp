#include "fit/persistence.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "basis/cr_spline.hpp"
#include "util/format.hpp"
#include "util/json_reader.hpp"
#include "util/json_writer.hpp"

namespace pelun {

namespace {

constexpr std::array<unsigned char, 5> magic = {'P', 'E', 'L', 'U', 'N'};
constexpr std::uint64_t array_format_version = 1;

// --- writing ----------------------------------------------------------------

void write_array(JsonWriter& w, std::span<const std::uint64_t> dim, std::span<const double> data) {
    w.begin_object();
    w.key("v");
    w.unsigned_value(array_format_version);
    w.key("dim");
    w.begin_array();
    for (const std::uint64_t d : dim) w.unsigned_value(d);
    w.end_array();
    w.key("data");
    w.begin_array();
    for (const double x : data) w.number(x);
    w.end_array();
    w.end_object();
}

void write_vector(JsonWriter& w, std::span<const double> v) {
    const std::array<std::uint64_t, 1> dim = {v.size()};
    write_array(w, dim, v);
}

// Row-major, which is the storage order of Matrix.
void write_matrix(JsonWriter& w, const Matrix& m) {
    const std::array<std::uint64_t, 2> dim = {m.rows(), m.cols()};
    write_array(w, dim, m.values());
}

void write_predictor(JsonWriter& w, const Predictor& predictor);

void write_payload(JsonWriter& w, const CrPredictor& p) {
    w.key("kind");
    w.string("cr");
    w.key("knots");
    write_vector(w, p.knots);
    w.key("centring");
    write_matrix(w, p.centring);
}

void write_payload(JsonWriter& w, const RePredictor& p) {
    w.key("kind");
    w.string("re");
    w.key("levels");
    w.begin_array();
    for (const double level : p.levels) w.number(level);
    w.end_array();
}

void write_payload(JsonWriter& w, const CrStablePredictor& p) {
    w.key("kind");
    w.string("cr_stable");
    w.key("knots");
    write_vector(w, p.knots);
    w.key("centring");
    write_matrix(w, p.centring);
    w.key("reparam_v");
    write_matrix(w, p.reparam_v);
}

void write_payload(JsonWriter& w, const AdditivePredictor& p) {
    w.key("kind");
    w.string("additive");
    w.key("term_predictors");
    w.begin_array();
    for (const Predictor& term : p.term_predictors) write_predictor(w, term);
    w.end_array();
    w.key("cols_used");
    w.begin_array();
    for (const auto& cols : p.cols_used) {
        w.begin_array();
        for (const std::size_t c : cols) w.unsigned_value(c);
        w.end_array();
    }
    w.end_array();
    w.key("term_col_ranges");
    w.begin_array();
    for (const auto& [first, last] : p.term_col_ranges) {
        w.begin_array();
        w.unsigned_value(first);
        w.unsigned_value(last);
        w.end_array();
    }
    w.end_array();
}

void write_payload(JsonWriter& w, const TensorPredictor& p) {
    w.key("kind");
    w.string("tensor");
    w.key("col_a");
    w.unsigned_value(p.col_a);
    w.key("col_b");
    w.unsigned_value(p.col_b);
    w.key("bs_a");
    w.string("cr");  // MarginBasis has the one member Cr
    w.key("bs_b");
    w.string("cr");
    w.key("knots_a");
    write_vector(w, p.knots_a);
    w.key("knots_b");
    write_vector(w, p.knots_b);
    w.key("xp_a");
    write_matrix(w, p.xp_a);
    w.key("xp_b");
    write_matrix(w, p.xp_b);
    w.key("centring");
    write_matrix(w, p.centring);
}

void write_predictor(JsonWriter& w, const Predictor& predictor) {
    w.begin_object();
    std::visit([&](const auto& payload) { write_payload(w, payload); }, predictor.value);
    w.end_object();
}

void put_le(std::string& out, std::size_t at, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t get_le(std::span<const unsigned char> in, std::size_t at, std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(in[at + i]) << (8 * i);
    return value;
}

// --- reading ----------------------------------------------------------------

template <class T>
std::unexpected<JsonError> propagate(JsonResult<T>& result) {
    return std::unexpected(std::move(result.error()));
}

// A user-supplied string for a message: quoted, escaped, and cut to a
// readable length at a character boundary.
std::string quoted(std::string_view text) {
    constexpr std::size_t limit = 64;
    if (text.size() <= limit) return quote_name(text);
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return quote_name(text.substr(0, cut)) + "...";
}

std::string name_list(std::span<const std::string_view> names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ", ";
        out += "`";
        out += names[i];
        out += "`";
    }
    return out;
}

std::string shape_text(const Matrix& m) { return std::to_string(m.rows()) + " × " + std::to_string(m.cols()); }

bool has_shape(const Matrix& m, std::size_t rows, std::size_t cols) { return m.rows() == rows && m.cols() == cols; }

// An array object's contents, before they become a Vector or a Matrix.
struct ArrayData {
    std::array<std::uint64_t, 2> dim{};
    std::vector<double> data;
};

class RecordReader {
public:
    explicit RecordReader(std::string_view body) : r_(body) {}

    JsonResult<FittedGam> read_record();

private:
    template <class ReadField>
    JsonResult<std::size_t> walk_object(std::span<const std::string_view> names, bool skip_unknown,
                                        ReadField&& read_field);
    JsonResult<double> read_float();
    JsonResult<ArrayData> read_array(std::size_t ndim);
    JsonResult<void> read_vector(Vector& out);
    JsonResult<void> read_matrix(Matrix& out);
    JsonResult<void> read_float_list(std::vector<double>& out);
    JsonResult<void> read_index(std::size_t& out);
    JsonResult<void> read_cols_used(std::vector<std::vector<std::size_t>>& out);
    JsonResult<void> read_ranges(std::vector<std::pair<std::size_t, std::size_t>>& out);
    JsonResult<void> read_margin_basis(MarginBasis& out);
    JsonResult<void> read_link_kind(LinkKind& out);
    JsonResult<Predictor> read_predictor();
    JsonResult<CrPredictor> read_cr(std::size_t start);
    JsonResult<RePredictor> read_re();
    JsonResult<CrStablePredictor> read_cr_stable(std::size_t start);
    JsonResult<AdditivePredictor> read_additive(std::size_t start);
    JsonResult<TensorPredictor> read_tensor(std::size_t start);

    std::unexpected<JsonError> fail_at(std::size_t offset, std::string_view message) const {
        return std::unexpected(r_.error_at(offset, message));
    }

    JsonReader r_;
};

// Reads the members of the object at the reader: `read_field(i)` reads the
// value of the key names[i]. Other keys are skipped when `skip_unknown`, an
// error otherwise. Every name is required and may appear once. Returns the
// offset of the closing brace.
template <class ReadField>
JsonResult<std::size_t> RecordReader::walk_object(std::span<const std::string_view> names, bool skip_unknown,
                                                  ReadField&& read_field) {
    if (auto begun = r_.begin_object(); !begun) return propagate(begun);
    std::array<bool, 16> seen{};
    while (true) {
        auto key = r_.next_key();
        if (!key) return propagate(key);
        if (!*key) break;
        const std::size_t key_offset = r_.token_offset();
        const auto found = std::find(names.begin(), names.end(), **key);
        if (found == names.end()) {
            if (!skip_unknown)
                return fail_at(key_offset, "unknown field " + quoted(**key) + ", expected one of " + name_list(names));
            if (auto skipped = r_.skip_value(); !skipped) return propagate(skipped);
            continue;
        }
        const auto index = static_cast<std::size_t>(found - names.begin());
        if (seen[index]) return fail_at(key_offset, "duplicate field `" + std::string(names[index]) + "`");
        seen[index] = true;
        if (auto read = read_field(index); !read) return propagate(read);
    }
    const std::size_t end = r_.token_offset();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!seen[i]) return fail_at(end, "missing field `" + std::string(names[i]) + "`");
    return end;
}

JsonResult<double> RecordReader::read_float() {
    // A fit may hold NaN (or ±inf, written as null too); null reads as NaN.
    auto null = r_.try_null();
    if (!null) return propagate(null);
    if (*null) return std::numeric_limits<double>::quiet_NaN();
    return r_.read_double();
}

JsonResult<ArrayData> RecordReader::read_array(std::size_t ndim) {
    static constexpr std::array<std::string_view, 3> names = {"v", "dim", "data"};
    auto kind = r_.peek();
    if (!kind) return propagate(kind);
    if (*kind != JsonKind::Object) return std::unexpected(r_.type_error("an array object"));
    const std::size_t start = r_.token_offset();
    const std::string dim_message = "dim of a " + std::to_string(ndim) + "-D array must have " +
                                    std::to_string(ndim) + (ndim == 1 ? " entry" : " entries");

    ArrayData out;
    bool dim_known = false;
    std::optional<std::uint64_t> size;  // product of dim; none when it overflows
    auto end = walk_object(names, false, [&](std::size_t field) -> JsonResult<void> {
        if (field == 0) {
            auto version = r_.read_unsigned();
            if (!version) return propagate(version);
            if (*version != array_format_version)
                return fail_at(r_.token_offset(), "unknown array version: " + std::to_string(*version));
            return {};
        }
        if (field == 1) {
            if (auto begun = r_.begin_array(); !begun) return begun;
            const std::size_t dim_start = r_.token_offset();
            std::size_t count = 0;
            while (true) {
                auto more = r_.next_element();
                if (!more) return propagate(more);
                if (!*more) break;
                if (count == ndim) return fail_at(dim_start, dim_message);
                auto d = r_.read_unsigned();
                if (!d) return propagate(d);
                out.dim[count++] = *d;
            }
            if (count != ndim) return fail_at(dim_start, dim_message);
            std::uint64_t product = 1;
            bool overflow = false;
            for (std::size_t i = 0; i < ndim; ++i) overflow |= __builtin_mul_overflow(product, out.dim[i], &product);
            if (!overflow) size = product;
            dim_known = true;
            return {};
        }
        if (auto begun = r_.begin_array(); !begun) return begun;
        while (true) {
            auto more = r_.next_element();
            if (!more) return propagate(more);
            if (!*more) return {};
            // With dim read first, too many elements are caught as they come.
            if (dim_known && (!size || out.data.size() == *size))
                return fail_at(start, "data and dimension must match in size");
            auto x = read_float();
            if (!x) return propagate(x);
            out.data.push_back(*x);
        }
    });
    if (!end) return propagate(end);
    if (!size || *size != out.data.size()) return fail_at(start, "data and dimension must match in size");
    return out;
}

JsonResult<void> RecordReader::read_vector(Vector& out) {
    auto array = read_array(1);
    if (!array) return propagate(array);
    out = std::move(array->data);
    return {};
}

JsonResult<void> RecordReader::read_matrix(Matrix& out) {
    auto array = read_array(2);
    if (!array) return propagate(array);
    // The element count was checked against the data read, so this allocates
    // no more than what the text held.
    out = Matrix(array->dim[0], array->dim[1]);
    std::copy(array->data.begin(), array->data.end(), out.data());
    return {};
}

JsonResult<void> RecordReader::read_float_list(std::vector<double>& out) {
    if (auto begun = r_.begin_array(); !begun) return begun;
    while (true) {
        auto more = r_.next_element();
        if (!more) return propagate(more);
        if (!*more) return {};
        auto x = read_float();
        if (!x) return propagate(x);
        out.push_back(*x);
    }
}

JsonResult<void> RecordReader::read_index(std::size_t& out) {
    auto value = r_.read_unsigned();
    if (!value) return propagate(value);
    out = static_cast<std::size_t>(*value);
    return {};
}

JsonResult<void> RecordReader::read_cols_used(std::vector<std::vector<std::size_t>>& out) {
    if (auto begun = r_.begin_array(); !begun) return begun;
    while (true) {
        auto more = r_.next_element();
        if (!more) return propagate(more);
        if (!*more) return {};
        if (auto begun = r_.begin_array(); !begun) return begun;
        std::vector<std::size_t>& cols = out.emplace_back();
        while (true) {
            auto more_cols = r_.next_element();
            if (!more_cols) return propagate(more_cols);
            if (!*more_cols) break;
            if (auto read = read_index(cols.emplace_back()); !read) return read;
        }
    }
}

JsonResult<void> RecordReader::read_ranges(std::vector<std::pair<std::size_t, std::size_t>>& out) {
    if (auto begun = r_.begin_array(); !begun) return begun;
    while (true) {
        auto more = r_.next_element();
        if (!more) return propagate(more);
        if (!*more) return {};
        if (auto begun = r_.begin_array(); !begun) return begun;
        const std::size_t pair_start = r_.token_offset();
        std::array<std::size_t, 2> bounds{};
        std::size_t count = 0;
        while (true) {
            auto more_bounds = r_.next_element();
            if (!more_bounds) return propagate(more_bounds);
            if (!*more_bounds) break;
            if (count == 2) return fail_at(pair_start, "a column range must be a pair [first, last_exclusive]");
            if (auto read = read_index(bounds[count++]); !read) return read;
        }
        if (count != 2) return fail_at(pair_start, "a column range must be a pair [first, last_exclusive]");
        out.emplace_back(bounds[0], bounds[1]);
    }
}

JsonResult<void> RecordReader::read_margin_basis(MarginBasis& out) {
    auto name = r_.read_string();
    if (!name) return propagate(name);
    if (*name != "cr") return fail_at(r_.token_offset(), "unknown variant " + quoted(*name) + ", expected `cr`");
    out = MarginBasis::Cr;
    return {};
}

JsonResult<void> RecordReader::read_link_kind(LinkKind& out) {
    auto name = r_.read_string();
    if (!name) return propagate(name);
    const auto link = link_kind_from_name(*name);
    if (!link)
        return fail_at(r_.token_offset(),
                       "unknown variant " + quoted(*name) + ", expected one of `Identity`, `Log`, `Logit`");
    out = *link;
    return {};
}

// The tag may come anywhere in the object, so the object is read twice: once
// for "kind" (checking its syntax and skipping the rest), then for the fields
// of the variant it names.
JsonResult<Predictor> RecordReader::read_predictor() {
    static constexpr std::array<std::string_view, 5> tags = {"cr", "re", "cr_stable", "additive", "tensor"};
    static constexpr std::array<std::string_view, 1> kind_only = {"kind"};
    auto kind = r_.peek();
    if (!kind) return propagate(kind);
    if (*kind != JsonKind::Object) return std::unexpected(r_.type_error("a predictor object"));
    const std::size_t start = r_.token_offset();
    const JsonReader::Mark mark = r_.mark();

    std::string tag;
    std::size_t tag_offset = 0;
    if (auto begun = r_.begin_object(); !begun) return propagate(begun);
    bool tag_seen = false;
    while (true) {
        auto key = r_.next_key();
        if (!key) return propagate(key);
        if (!*key) break;
        if (**key != kind_only[0]) {
            if (auto skipped = r_.skip_value(); !skipped) return propagate(skipped);
            continue;
        }
        if (tag_seen) return fail_at(r_.token_offset(), "duplicate field `kind`");
        tag_seen = true;
        auto value = r_.read_string();
        if (!value) return propagate(value);
        tag = std::move(*value);
        tag_offset = r_.token_offset();
    }
    if (!tag_seen) return fail_at(r_.token_offset(), "missing field `kind`");
    const auto found = std::find(tags.begin(), tags.end(), tag);
    if (found == tags.end())
        return fail_at(tag_offset, "unknown variant " + quoted(tag) + ", expected one of " + name_list(tags));

    r_.rewind(mark);
    const auto wrap = [](auto result) -> JsonResult<Predictor> {
        if (!result) return propagate(result);
        return Predictor{std::move(*result)};
    };
    switch (found - tags.begin()) {
        case 0: return wrap(read_cr(start));
        case 1: return wrap(read_re());
        case 2: return wrap(read_cr_stable(start));
        case 3: return wrap(read_additive(start));
        default: return wrap(read_tensor(start));
    }
}

JsonResult<CrPredictor> RecordReader::read_cr(std::size_t start) {
    static constexpr std::array<std::string_view, 3> names = {"kind", "knots", "centring"};
    CrPredictor p;
    auto end = walk_object(names, true, [&](std::size_t field) -> JsonResult<void> {
        switch (field) {
            case 0: return r_.skip_value();
            case 1: return read_vector(p.knots);
            default: return read_matrix(p.centring);
        }
    });
    if (!end) return propagate(end);
    const std::size_t k = p.knots.size();
    if (k == 0 || !has_shape(p.centring, k, k - 1))
        return fail_at(start, "cr predictor: centring must be k × (k − 1) for k = " + std::to_string(k) +
                                  " knots; got " + shape_text(p.centring));
    return p;
}

JsonResult<RePredictor> RecordReader::read_re() {
    static constexpr std::array<std::string_view, 2> names = {"kind", "levels"};
    RePredictor p;
    auto end = walk_object(names, true, [&](std::size_t field) -> JsonResult<void> {
        if (field == 0) return r_.skip_value();
        return read_float_list(p.levels);
    });
    if (!end) return propagate(end);
    return p;
}

JsonResult<CrStablePredictor> RecordReader::read_cr_stable(std::size_t start) {
    static constexpr std::array<std::string_view, 4> names = {"kind", "knots", "centring", "reparam_v"};
    CrStablePredictor p;
    auto end = walk_object(names, true, [&](std::size_t field) -> JsonResult<void> {
        switch (field) {
            case 0: return r_.skip_value();
            case 1: return read_vector(p.knots);
            case 2: return read_matrix(p.centring);
            default: return read_matrix(p.reparam_v);
        }
    });
    if (!end) return propagate(end);
    const std::size_t k = p.knots.size();
    if (k == 0 || !has_shape(p.centring, k, k - 1))
        return fail_at(start, "cr_stable predictor: centring must be k × (k − 1) for k = " + std::to_string(k) +
                                  " knots; got " + shape_text(p.centring));
    if (!has_shape(p.reparam_v, k - 1, k - 1))
        return fail_at(start, "cr_stable predictor: reparam_v must be (k − 1) × (k − 1) for k = " +
                                  std::to_string(k) + " knots; got " + shape_text(p.reparam_v));
    return p;
}

JsonResult<AdditivePredictor> RecordReader::read_additive(std::size_t start) {
    static constexpr std::array<std::string_view, 4> names = {"kind", "term_predictors", "cols_used",
                                                              "term_col_ranges"};
    AdditivePredictor p;
    auto end = walk_object(names, true, [&](std::size_t field) -> JsonResult<void> {
        switch (field) {
            case 0: return r_.skip_value();
            case 1: {
                if (auto begun = r_.begin_array(); !begun) return begun;
                while (true) {
                    auto more = r_.next_element();
                    if (!more) return propagate(more);
                    if (!*more) return {};
                    auto term = read_predictor();
                    if (!term) return propagate(term);
                    p.term_predictors.push_back(std::move(*term));
                }
            }
            case 2: return read_cols_used(p.cols_used);
            default: return read_ranges(p.term_col_ranges);
        }
    });
    if (!end) return propagate(end);
    const std::size_t terms = p.term_predictors.size();
    if (p.cols_used.size() != terms || p.term_col_ranges.size() != terms)
        return fail_at(start, "additive predictor: " + std::to_string(terms) + " term predictors need as many "
                              "cols_used and term_col_ranges entries; got " + std::to_string(p.cols_used.size()) +
                              " and " + std::to_string(p.term_col_ranges.size()));
    for (std::size_t i = 0; i < terms; ++i) {
        // A tensor term reads its two columns itself; any other term is
        // evaluated on the single column it names.
        const std::size_t expected = std::holds_alternative<TensorPredictor>(p.term_predictors[i].value) ? 2 : 1;
        if (p.cols_used[i].size() != expected)
            return fail_at(start, "additive predictor: term " + std::to_string(i) + " must name " +
                                      std::to_string(expected) + (expected == 1 ? " column" : " columns") +
                                      " in cols_used; got " + std::to_string(p.cols_used[i].size()));
    }
    return p;
}

JsonResult<TensorPredictor> RecordReader::read_tensor(std::size_t start) {
    static constexpr std::array<std::string_view, 10> names = {"kind",    "col_a",   "col_b", "bs_a", "bs_b",
                                                               "knots_a", "knots_b", "xp_a",  "xp_b", "centring"};
    TensorPredictor p;
    auto end = walk_object(names, true, [&](std::size_t field) -> JsonResult<void> {
        switch (field) {
            case 0: return r_.skip_value();
            case 1: return read_index(p.col_a);
            case 2: return read_index(p.col_b);
            case 3: return read_margin_basis(p.bs_a);
            case 4: return read_margin_basis(p.bs_b);
            case 5: return read_vector(p.knots_a);
            case 6: return read_vector(p.knots_b);
            case 7: return read_matrix(p.xp_a);
            case 8: return read_matrix(p.xp_b);
            default: return read_matrix(p.centring);
        }
    });
    if (!end) return propagate(end);
    // Evaluation needs valid margin knots and takes them as given; a
    // damaged frame is refused here instead.
    if (auto valid = validate_knots(p.knots_a); !valid)
        return fail_at(start, "tensor predictor: invalid knots_a: " + valid.error().text);
    if (auto valid = validate_knots(p.knots_b); !valid)
        return fail_at(start, "tensor predictor: invalid knots_b: " + valid.error().text);
    const std::size_t k_a = p.knots_a.size(), k_b = p.knots_b.size();
    if (!has_shape(p.xp_a, k_a, k_a))
        return fail_at(start, "tensor predictor: xp_a must be k_a × k_a for k_a = " + std::to_string(k_a) +
                                  " knots; got " + shape_text(p.xp_a));
    if (!has_shape(p.xp_b, k_b, k_b))
        return fail_at(start, "tensor predictor: xp_b must be k_b × k_b for k_b = " + std::to_string(k_b) +
                                  " knots; got " + shape_text(p.xp_b));
    std::size_t m = 0;
    if (__builtin_mul_overflow(k_a, k_b, &m) || !has_shape(p.centring, m, m - 1))
        return fail_at(start, "tensor predictor: centring must be (k_a·k_b) × (k_a·k_b − 1) for k_a = " +
                                  std::to_string(k_a) + " and k_b = " + std::to_string(k_b) + " knots; got " +
                                  shape_text(p.centring));
    return p;
}

JsonResult<FittedGam> RecordReader::read_record() {
    static constexpr std::array<std::string_view, 14> names = {
        "beta", "rho",       "lambda",  "scale", "edf_total", "edf_per_term", "n",
        "n_iters", "converged", "reml_value", "predictor", "vcov", "link_kind", "shape_params"};
    FittedGam fit;
    const auto read_into = [this](double& out) -> JsonResult<void> {
        auto x = read_float();
        if (!x) return propagate(x);
        out = *x;
        return {};
    };
    auto end = walk_object(names, true, [&](std::size_t field) -> JsonResult<void> {
        switch (field) {
            case 0: return read_vector(fit.beta);
            case 1: return read_vector(fit.rho);
            case 2: return read_vector(fit.lambda);
            case 3: return read_into(fit.scale);
            case 4: return read_into(fit.edf_total);
            case 5: return read_vector(fit.edf_per_term);
            case 6: return read_index(fit.n);
            case 7: return read_index(fit.n_iters);
            case 8: {
                auto flag = r_.read_bool();
                if (!flag) return propagate(flag);
                fit.converged = *flag;
                return {};
            }
            case 9: return read_into(fit.reml_value);
            case 10: {
                auto predictor = read_predictor();
                if (!predictor) return propagate(predictor);
                fit.predictor = std::move(*predictor);
                return {};
            }
            case 11: {
                auto kind = r_.peek();
                if (!kind) return propagate(kind);
                const std::size_t at = r_.token_offset();
                if (auto read = read_matrix(fit.vcov); !read) return read;
                if (!fit.vcov.is_square()) return fail_at(at, "vcov must be square; got " + shape_text(fit.vcov));
                return {};
            }
            case 12: return read_link_kind(fit.link_kind);
            default: return read_vector(fit.shape_params);
        }
    });
    if (!end) return propagate(end);
    if (auto finished = r_.finish(); !finished) return propagate(finished);
    return fit;
}

}  // namespace

Result<std::string> serialize_fit(const FittedGam& fit) {
    JsonWriter w;
    w.begin_object();
    w.key("beta");
    write_vector(w, fit.beta);
    w.key("rho");
    write_vector(w, fit.rho);
    w.key("lambda");
    write_vector(w, fit.lambda);
    w.key("scale");
    w.number(fit.scale);
    w.key("edf_total");
    w.number(fit.edf_total);
    w.key("edf_per_term");
    write_vector(w, fit.edf_per_term);
    w.key("n");
    w.unsigned_value(fit.n);
    w.key("n_iters");
    w.unsigned_value(fit.n_iters);
    w.key("converged");
    w.bool_value(fit.converged);
    w.key("reml_value");
    w.number(fit.reml_value);
    w.key("predictor");
    write_predictor(w, fit.predictor);
    w.key("vcov");
    write_matrix(w, fit.vcov);
    w.key("link_kind");
    w.string(link_kind_name(fit.link_kind));
    w.key("shape_params");
    write_vector(w, fit.shape_params);
    w.end_object();
    auto body = std::move(w).finish();
    if (!body) return fail_invalid("FittedGam::serialize: JSON encode failed: " + body.error());

    std::string frame(frame_header_size + body->size(), '\0');
    std::memcpy(frame.data(), magic.data(), magic.size());
    put_le(frame, 5, frame_format_version, 4);
    put_le(frame, 9, body->size(), 8);
    std::memcpy(frame.data() + frame_header_size, body->data(), body->size());
    return frame;
}

Result<FittedGam> deserialize_fit(std::span<const unsigned char> frame) {
    const auto byte_list = [](std::span<const unsigned char> bytes) {
        std::string out = "[";
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0) out += ", ";
            out += std::to_string(bytes[i]);
        }
        return out + "]";
    };
    if (frame.size() < frame_header_size)
        return fail_invalid("FittedGam::deserialize: buffer too short (" + std::to_string(frame.size()) + " < " +
                            std::to_string(frame_header_size) + " header bytes)");
    if (!std::equal(magic.begin(), magic.end(), frame.begin()))
        return fail_invalid("FittedGam::deserialize: bad magic; expected " + byte_list(magic) + ", got " +
                            byte_list(frame.first(magic.size())));
    const auto version = static_cast<std::uint32_t>(get_le(frame, 5, 4));
    if (version != frame_format_version)
        return fail_invalid("FittedGam::deserialize: unsupported format_version=" + std::to_string(version) +
                            " (this build expects " + std::to_string(frame_format_version) +
                            "). Re-serialize with a matching pelun release, or roll a migration.");
    const std::uint64_t length = get_le(frame, 9, 8);
    if (length > std::numeric_limits<std::uint64_t>::max() - frame_header_size)
        return fail_invalid("FittedGam::deserialize: length overflow");
    if (frame.size() - frame_header_size < length)
        return fail_invalid("FittedGam::deserialize: truncated body (have " +
                            std::to_string(frame.size() - frame_header_size) + " bytes, header says " +
                            std::to_string(length) + " payload bytes follow the " +
                            std::to_string(frame_header_size) + "-byte header)");

    const std::string_view body(reinterpret_cast<const char*>(frame.data()) + frame_header_size,
                                static_cast<std::size_t>(length));
    RecordReader reader(body);
    auto fit = reader.read_record();
    if (!fit)
        return fail_invalid("FittedGam::deserialize: JSON decode failed at byte " +
                            std::to_string(fit.error().column) + ": " + fit.error().text);
    return std::move(*fit);
}

}  // namespace pelun
