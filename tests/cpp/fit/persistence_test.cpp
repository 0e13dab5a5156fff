#include "fit/persistence.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "design/cr_design.hpp"
#include "fit/prediction.hpp"
#include "util/json_writer.hpp"

namespace pelun {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// --- building records --------------------------------------------------------

// rows × cols with entries start, start + step, … in row-major order.
Matrix ramp(std::size_t rows, std::size_t cols, double start = 0.5, double step = -0.25) {
    Matrix m(rows, cols);
    for (std::size_t i = 0; i < m.size(); ++i) m.data()[i] = start + step * static_cast<double>(i);
    return m;
}

Vector knots(std::size_t k) {
    Vector t(k);
    for (std::size_t j = 0; j < k; ++j) t[j] = static_cast<double>(j * j) / 8.0;
    return t;
}

CrPredictor cr_predictor(std::size_t k) {
    Matrix z = ramp(k, k - 1);
    z(0, 0) = -0.0;
    z(k - 1, 0) = 5e-324;
    z(1, 0) = 1e16;
    return {knots(k), std::move(z)};
}

RePredictor re_predictor() { return {{-1.5, 0.0, 2.0, 1e300}}; }

CrStablePredictor cr_stable_predictor(std::size_t k) {
    return {knots(k), ramp(k, k - 1, 1.0, 0.125), ramp(k - 1, k - 1, -2.0, 0.5)};
}

TensorPredictor tensor_predictor(std::size_t col_a, std::size_t col_b, std::size_t k_a, std::size_t k_b) {
    TensorPredictor p;
    p.col_a = col_a;
    p.col_b = col_b;
    p.knots_a = knots(k_a);
    p.knots_b = knots(k_b);
    p.xp_a = Matrix::identity(k_a);
    p.xp_b = ramp(k_b, k_b, 0.0, 1.0 / 3.0);
    p.centring = ramp(k_a * k_b, k_a * k_b - 1, 0.1, 0.01);
    return p;
}

// Additive: cr of column 0, re of column 1, tensor of columns 0 and 2, and a
// nested additive term of column 1 holding a cr_stable and a tensor.
AdditivePredictor additive_predictor() {
    AdditivePredictor inner;
    inner.term_predictors = {Predictor{cr_stable_predictor(3)}, Predictor{tensor_predictor(0, 0, 3, 3)}};
    inner.cols_used = {{0}, {0, 0}};
    inner.term_col_ranges = {{1, 3}, {3, 11}};
    AdditivePredictor p;
    p.term_predictors = {Predictor{cr_predictor(4)}, Predictor{re_predictor()},
                         Predictor{tensor_predictor(0, 2, 3, 4)}, Predictor{std::move(inner)}};
    p.cols_used = {{0}, {1}, {0, 2}, {1}};
    p.term_col_ranges = {{1, 4}, {4, 8}, {8, 19}, {19, 29}};
    return p;
}

FittedGam record_with(Predictor predictor, std::size_t p = 4) {
    FittedGam fit;
    fit.beta = Vector(p);
    for (std::size_t i = 0; i < p; ++i) fit.beta[i] = 0.5 - 0.3 * static_cast<double>(i);
    fit.rho = {-1.25, 3.0};
    fit.lambda = {std::exp(-1.25), std::exp(3.0)};
    fit.scale = 0.7;
    fit.edf_total = 3.6;
    fit.edf_per_term = {1.1, 1.5};
    fit.n = 123;
    fit.n_iters = 7;
    fit.converged = true;
    fit.reml_value = -45.125;
    fit.predictor = std::move(predictor);
    fit.vcov = ramp(p, p, 1.0, 1e-3);
    fit.link_kind = LinkKind::Logit;
    fit.shape_params = {0.25};
    return fit;
}

std::vector<FittedGam> every_kind_of_record() {
    std::vector<FittedGam> records;
    records.push_back(record_with(Predictor{cr_predictor(5)}, 5));
    records.push_back(record_with(Predictor{re_predictor()}, 5));
    records.push_back(record_with(Predictor{cr_stable_predictor(4)}, 4));
    records.push_back(record_with(Predictor{tensor_predictor(1, 0, 3, 3)}, 9));
    records.push_back(record_with(Predictor{additive_predictor()}, 29));
    records.back().link_kind = LinkKind::Log;
    records.back().shape_params = {};
    records.back().converged = false;
    return records;
}

// --- comparing records bit for bit ---------------------------------------------

void append_bits(std::vector<std::uint64_t>& out, std::span<const double> values) {
    for (const double v : values) out.push_back(std::bit_cast<std::uint64_t>(v));
}

void collect_bits(std::vector<std::uint64_t>& out, const Predictor& predictor) {
    std::visit(
        [&](const auto& p) {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, CrPredictor>) {
                append_bits(out, p.knots);
                append_bits(out, p.centring.values());
            } else if constexpr (std::is_same_v<P, RePredictor>) {
                append_bits(out, p.levels);
            } else if constexpr (std::is_same_v<P, CrStablePredictor>) {
                append_bits(out, p.knots);
                append_bits(out, p.centring.values());
                append_bits(out, p.reparam_v.values());
            } else if constexpr (std::is_same_v<P, AdditivePredictor>) {
                for (const Predictor& term : p.term_predictors) collect_bits(out, term);
            } else {
                append_bits(out, p.knots_a);
                append_bits(out, p.knots_b);
                append_bits(out, p.xp_a.values());
                append_bits(out, p.xp_b.values());
                append_bits(out, p.centring.values());
            }
        },
        predictor.value);
}

// Every field equal, doubles by bit pattern (so −0.0 ≠ 0.0).
void expect_same_record(const FittedGam& a, const FittedGam& b) {
    const auto bits = [](const FittedGam& f) {
        std::vector<std::uint64_t> out;
        for (const Vector* v : {&f.beta, &f.rho, &f.lambda, &f.edf_per_term, &f.shape_params}) {
            out.push_back(v->size());
            append_bits(out, *v);
        }
        append_bits(out, std::vector<double>{f.scale, f.edf_total, f.reml_value});
        out.push_back(f.vcov.rows());
        out.push_back(f.vcov.cols());
        append_bits(out, f.vcov.values());
        collect_bits(out, f.predictor);
        return out;
    };
    EXPECT_EQ(bits(a), bits(b));
    EXPECT_EQ(a.n, b.n);
    EXPECT_EQ(a.n_iters, b.n_iters);
    EXPECT_EQ(a.converged, b.converged);
    EXPECT_EQ(a.link_kind, b.link_kind);
    // Tags, sizes and indices (the records compared here hold no NaN).
    EXPECT_TRUE(a.predictor == b.predictor);
}

// --- frames -----------------------------------------------------------------------

std::span<const unsigned char> bytes(const std::string& s) {
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

std::string serialized(const FittedGam& fit) {
    auto frame = serialize_fit(fit);
    EXPECT_TRUE(frame.has_value()) << frame.error().text;
    return frame ? *frame : std::string();
}

std::string body_of(const std::string& frame) { return frame.substr(frame_header_size); }

// A frame around `body` with the header's length set to `length` (the body's own by default).
std::string frame_of(const std::string& body, std::uint64_t length, std::uint32_t version = 1) {
    std::string frame = "PELUN";
    for (int i = 0; i < 4; ++i) frame += static_cast<char>((version >> (8 * i)) & 0xFF);
    for (int i = 0; i < 8; ++i) frame += static_cast<char>((length >> (8 * i)) & 0xFF);
    return frame + body;
}
std::string frame_of(const std::string& body) { return frame_of(body, body.size()); }

std::string read_error(const std::string& frame) {
    auto fit = deserialize_fit(bytes(frame));
    if (fit) return "(read without error)";
    EXPECT_EQ(fit.error().kind, ErrorKind::InvalidParameter);
    return fit.error().text;
}

// The decode message for an error at 0-based body offset `offset` (one line).
std::string decode_message(std::size_t offset, const std::string& text) {
    const std::string column = std::to_string(offset + 1);
    return "FittedGam::deserialize: JSON decode failed at byte " + column + ": " + text + " at line 1 column " +
           column;
}

// `text` with the first occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// --- the written form --------------------------------------------------------------

FittedGam small_re_record() {
    FittedGam fit;
    fit.beta = {1.0, -0.5, 0.25};
    fit.rho = {0.0};
    fit.lambda = {1.0};
    fit.scale = 2.5;
    fit.edf_total = 3.0;
    fit.edf_per_term = {2.0};
    fit.n = 10;
    fit.n_iters = 4;
    fit.converged = true;
    fit.reml_value = -12.25;
    fit.predictor = Predictor{RePredictor{{0.0, 1.5}}};
    fit.vcov = Matrix::from_rows({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    fit.link_kind = LinkKind::Log;
    return fit;
}

const std::string small_re_body =
    R"({"beta":{"v":1,"dim":[3],"data":[1.0,-0.5,0.25]},"rho":{"v":1,"dim":[1],"data":[0.0]},)"
    R"("lambda":{"v":1,"dim":[1],"data":[1.0]},"scale":2.5,"edf_total":3.0,)"
    R"("edf_per_term":{"v":1,"dim":[1],"data":[2.0]},"n":10,"n_iters":4,"converged":true,"reml_value":-12.25,)"
    R"("predictor":{"kind":"re","levels":[0.0,1.5]},)"
    R"("vcov":{"v":1,"dim":[3,3],"data":[1.0,2.0,3.0,4.0,5.0,6.0,7.0,8.0,9.0]},"link_kind":"Log",)"
    R"("shape_params":{"v":1,"dim":[0],"data":[]}})";

TEST(SerializeFit, WritesTheHeaderAndTheCompactBodyInFieldOrder) {
    const std::string frame = serialized(small_re_record());
    ASSERT_EQ(frame.size(), frame_header_size + small_re_body.size());
    const std::uint64_t length = small_re_body.size();
    const unsigned char header[17] = {'P', 'E', 'L', 'U', 'N', 1, 0, 0, 0,
                                      static_cast<unsigned char>(length & 0xFF),
                                      static_cast<unsigned char>((length >> 8) & 0xFF), 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(frame.data(), header, sizeof header), 0);
    EXPECT_EQ(body_of(frame), small_re_body);
}

std::string array_text(const std::string& dims, const Matrix& m) {
    std::string data;
    for (std::size_t i = 0; i < m.size(); ++i) data += (i ? "," : "") + json_number(m.data()[i]);
    return R"({"v":1,"dim":[)" + dims + R"(],"data":[)" + data + "]}";
}
std::string array_text(const Vector& v) {
    Matrix m(1, v.size());
    std::copy(v.begin(), v.end(), m.data());
    return array_text(std::to_string(v.size()), m);
}

TEST(SerializeFit, WritesEveryPredictorKindWithItsTagFirstAndFieldsInOrder) {
    const CrPredictor cr{{0.0, 0.5, 1.0}, Matrix::from_rows({{1, 0}, {0, 1}, {-1, -1}})};
    const CrStablePredictor stable{cr.knots, cr.centring, Matrix::from_rows({{0, 1}, {1, 0}})};
    TensorPredictor tensor = tensor_predictor(2, 0, 3, 3);
    const std::string cr_text = R"({"kind":"cr","knots":{"v":1,"dim":[3],"data":[0.0,0.5,1.0]},)"
                                R"("centring":{"v":1,"dim":[3,2],"data":[1.0,0.0,0.0,1.0,-1.0,-1.0]}})";
    const std::string stable_text = R"({"kind":"cr_stable","knots":{"v":1,"dim":[3],"data":[0.0,0.5,1.0]},)"
                                    R"("centring":{"v":1,"dim":[3,2],"data":[1.0,0.0,0.0,1.0,-1.0,-1.0]},)"
                                    R"("reparam_v":{"v":1,"dim":[2,2],"data":[0.0,1.0,1.0,0.0]}})";
    const std::string tensor_text = R"({"kind":"tensor","col_a":2,"col_b":0,"bs_a":"cr","bs_b":"cr","knots_a":)" +
                                    array_text(tensor.knots_a) + R"(,"knots_b":)" + array_text(tensor.knots_b) +
                                    R"(,"xp_a":)" + array_text("3,3", tensor.xp_a) + R"(,"xp_b":)" +
                                    array_text("3,3", tensor.xp_b) + R"(,"centring":)" +
                                    array_text("9,8", tensor.centring) + "}";
    AdditivePredictor inner;
    inner.term_predictors = {Predictor{cr}};
    inner.cols_used = {{0}};
    inner.term_col_ranges = {{1, 3}};
    AdditivePredictor outer;
    outer.term_predictors = {Predictor{stable}, Predictor{tensor}, Predictor{inner}};
    outer.cols_used = {{3}, {2, 0}, {1}};
    outer.term_col_ranges = {{1, 3}, {3, 11}, {11, 13}};
    const std::string additive_text = R"({"kind":"additive","term_predictors":[)" + stable_text + "," + tensor_text +
                                      R"(,{"kind":"additive","term_predictors":[)" + cr_text +
                                      R"(],"cols_used":[[0]],"term_col_ranges":[[1,3]]}],)"
                                      R"("cols_used":[[3],[2,0],[1]],"term_col_ranges":[[1,3],[3,11],[11,13]]})";
    const struct {
        Predictor predictor;
        std::string text;
    } cases[] = {
        {Predictor{cr}, cr_text},
        {Predictor{RePredictor{{-2.0, 1e-7, 3.5}}}, R"({"kind":"re","levels":[-2.0,1e-7,3.5]})"},
        {Predictor{RePredictor{}}, R"({"kind":"re","levels":[]})"},
        {Predictor{stable}, stable_text},
        {Predictor{tensor}, tensor_text},
        {Predictor{outer}, additive_text},
    };
    for (const auto& c : cases) {
        const std::string body = body_of(serialized(record_with(c.predictor)));
        const std::string expected = R"("predictor":)" + c.text + R"(,"vcov":)";
        EXPECT_NE(body.find(expected), std::string::npos) << body << "\nexpected:\n" << c.text;
    }
}

TEST(SerializeFit, WritesNonFiniteValuesAsNull) {
    FittedGam fit = small_re_record();
    fit.scale = nan;
    fit.edf_total = inf;
    fit.reml_value = -inf;
    fit.beta[1] = nan;
    fit.predictor = Predictor{RePredictor{{nan, 1.0}}};
    const std::string body = body_of(serialized(fit));
    EXPECT_NE(body.find(R"("scale":null,"edf_total":null,)"), std::string::npos);
    EXPECT_NE(body.find(R"("reml_value":null,)"), std::string::npos);
    EXPECT_NE(body.find(R"("data":[1.0,null,0.25])"), std::string::npos);
    EXPECT_NE(body.find(R"("levels":[null,1.0])"), std::string::npos);
}

// --- round trips -------------------------------------------------------------------

TEST(DeserializeFit, EveryPredictorKindRoundTripsBitForBit) {
    for (const FittedGam& fit : every_kind_of_record()) {
        const std::string frame = serialized(fit);
        auto back = deserialize_fit(bytes(frame));
        ASSERT_TRUE(back.has_value()) << back.error().text;
        expect_same_record(fit, *back);
        EXPECT_EQ(serialized(*back), frame);
    }
}

TEST(DeserializeFit, NonFiniteValuesReadBackAsNaN) {
    FittedGam fit = small_re_record();
    fit.scale = nan;
    fit.edf_total = inf;
    fit.reml_value = -inf;
    fit.vcov(1, 2) = nan;
    fit.predictor = Predictor{RePredictor{{nan, 1.0}}};
    auto back = deserialize_fit(bytes(serialized(fit)));
    ASSERT_TRUE(back.has_value()) << back.error().text;
    EXPECT_TRUE(std::isnan(back->scale));
    // ±inf cannot be written in JSON: they come back as NaN.
    EXPECT_TRUE(std::isnan(back->edf_total));
    EXPECT_TRUE(std::isnan(back->reml_value));
    EXPECT_TRUE(std::isnan(back->vcov(1, 2)));
    EXPECT_EQ(back->vcov(1, 1), 5.0);
    const auto& levels = std::get<RePredictor>(back->predictor.value).levels;
    EXPECT_TRUE(std::isnan(levels[0]));
    EXPECT_EQ(levels[1], 1.0);
}

TEST(DeserializeFit, PredictionsOfTheCopyEqualTheOriginalsBitForBit) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-0.2, 1.2);
    Matrix x(200, 1);
    for (std::size_t i = 0; i < x.rows(); ++i) x(i, 0) = u(rng);
    auto design = build_cr_design(x, 8);
    ASSERT_TRUE(design.has_value()) << design.error().text;
    FittedGam fit = record_with(design->predictor, design->x.cols());
    auto back = deserialize_fit(bytes(serialized(fit)));
    ASSERT_TRUE(back.has_value()) << back.error().text;
    auto a = predict_interval(fit, x, 0.9, true);
    auto b = predict_interval(*back, x, 0.9, true);
    ASSERT_TRUE(a && b);
    for (std::size_t i = 0; i < x.rows(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a->estimate[i]), std::bit_cast<std::uint64_t>(b->estimate[i]));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a->lower[i]), std::bit_cast<std::uint64_t>(b->lower[i]));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a->upper[i]), std::bit_cast<std::uint64_t>(b->upper[i]));
    }
    EXPECT_EQ(*lpmatrix(fit, x), *lpmatrix(*back, x));
}

TEST(DeserializeFit, AcceptsKeysInAnyOrderUnknownKeysAndWhitespace) {
    const FittedGam fit = small_re_record();
    // Record keys reversed, the predictor's tag last, array keys reordered,
    // unknown keys with nested values at the record and predictor levels.
    const std::string body =
        " {\n  \"shape_params\" : {\"data\":[],\"dim\":[0],\"v\":1},\n  \"link_kind\":\"Log\",\"vcov\":"
        R"({"dim":[3,3],"data":[1.0,2,3.0,4.0,5.0,6.0,7.0,8.0,9.0],"v":1},)"
        R"("extra":{"a":[1,{"b":null}],"s":"\u00e9"},"predictor":{"levels":[0.0,1.5],"note":[true],"kind":"re"},)"
        R"("reml_value":-12.25,"converged":true,"n_iters":4,"n":10,"edf_per_term":{"v":1,"dim":[1],"data":[2.0]},)"
        R"("edf_total":3,"scale":25e-1,"lambda":{"v":1,"dim":[1],"data":[1.0]},"rho":{"v":1,"dim":[1],"data":[0]},)"
        R"("beta":{"v":1,"dim":[3],"data":[1.0,-0.5,0.25]}} )"
        "\t\r\n";
    auto back = deserialize_fit(bytes(frame_of(body)));
    ASSERT_TRUE(back.has_value()) << back.error().text;
    expect_same_record(fit, *back);
    EXPECT_EQ(body_of(serialized(*back)), small_re_body);
}

TEST(DeserializeFit, ReadsPredictorsNestedUpToTheDepthLimitAndWritesNoDeeperOnes) {
    // J nested additive levels around a cr term: the innermost dim list sits
    // at JSON depth 2J + 4, so J = 62 is the deepest tree that fits in 128.
    const auto nested = [](std::size_t levels) {
        Predictor p{cr_predictor(3)};
        for (std::size_t j = 0; j < levels; ++j) {
            AdditivePredictor a;
            a.term_predictors.push_back(std::move(p));
            a.cols_used = {{0}};
            a.term_col_ranges = {{1, 3}};
            p = Predictor{std::move(a)};
        }
        return record_with(std::move(p), 3);
    };
    const FittedGam deepest = nested(62);
    const std::string frame = serialized(deepest);
    auto back = deserialize_fit(bytes(frame));
    ASSERT_TRUE(back.has_value()) << back.error().text;
    expect_same_record(deepest, *back);

    auto too_deep = serialize_fit(nested(63));
    ASSERT_FALSE(too_deep.has_value());
    EXPECT_EQ(too_deep.error().kind, ErrorKind::InvalidParameter);
    EXPECT_EQ(too_deep.error().text, "FittedGam::serialize: JSON encode failed: recursion limit exceeded");
}

// --- frame checks --------------------------------------------------------------------

TEST(DeserializeFit, ChecksTheFrameHeaderInOrder) {
    const std::string frame = serialized(small_re_record());
    const std::size_t length = small_re_body.size();
    std::string bad_magic = frame;
    bad_magic[0] = 'Q';
    std::string bad_magic_and_version = frame_of(small_re_body, length, 2);
    bad_magic_and_version[4] = '\xff';
    const struct {
        const char* name;
        std::string frame;
        std::string message;
    } cases[] = {
        {"16 bytes", frame.substr(0, 16), "FittedGam::deserialize: buffer too short (16 < 17 header bytes)"},
        {"empty", "", "FittedGam::deserialize: buffer too short (0 < 17 header bytes)"},
        {"bad magic", bad_magic,
         "FittedGam::deserialize: bad magic; expected [80, 69, 76, 85, 78], got [81, 69, 76, 85, 78]"},
        {"bad magic before bad version", bad_magic_and_version,
         "FittedGam::deserialize: bad magic; expected [80, 69, 76, 85, 78], got [80, 69, 76, 85, 255]"},
        {"version 2", frame_of(small_re_body, length, 2),
         "FittedGam::deserialize: unsupported format_version=2 (this build expects 1). Re-serialize with a "
         "matching pelun release, or roll a migration."},
        {"version 0x01000000", frame_of(small_re_body, length, 0x01000000),
         "FittedGam::deserialize: unsupported format_version=16777216 (this build expects 1). Re-serialize with a "
         "matching pelun release, or roll a migration."},
        {"length overflow", frame_of(small_re_body, std::numeric_limits<std::uint64_t>::max() - 16),
         "FittedGam::deserialize: length overflow"},
        {"largest length without overflow", frame_of(small_re_body, std::numeric_limits<std::uint64_t>::max() - 17),
         "FittedGam::deserialize: truncated body (have " + std::to_string(length) +
             " bytes, header says 18446744073709551598 payload bytes follow the 17-byte header)"},
        {"cut by one byte", frame.substr(0, frame.size() - 1),
         "FittedGam::deserialize: truncated body (have " + std::to_string(length - 1) + " bytes, header says " +
             std::to_string(length) + " payload bytes follow the 17-byte header)"},
        {"header only", frame.substr(0, 17),
         "FittedGam::deserialize: truncated body (have 0 bytes, header says " + std::to_string(length) +
             " payload bytes follow the 17-byte header)"},
        {"trailing non-whitespace inside the body", frame_of(small_re_body + " x"),
         decode_message(length + 1, "trailing characters")},
        {"empty body", frame_of(""), decode_message(0, "EOF while parsing a value")},
    };
    for (const auto& c : cases) EXPECT_EQ(read_error(c.frame), c.message) << c.name;
}

TEST(DeserializeFit, IgnoresBytesAfterTheBody) {
    const FittedGam fit = small_re_record();
    for (const std::string& extra : {std::string("x"), std::string("garbage}]\xff"), std::string(1000, '\0')}) {
        auto back = deserialize_fit(bytes(serialized(fit) + extra));
        ASSERT_TRUE(back.has_value()) << back.error().text;
        expect_same_record(fit, *back);
    }
}

// --- decode errors -------------------------------------------------------------------

TEST(DeserializeFit, ReportsDecodeErrorsWithTheirBytePosition) {
    const std::string& b = small_re_body;
    const std::string without_vcov = replaced(b, R"("vcov":{"v":1,"dim":[3,3],"data":[1.0,2.0,3.0,4.0,5.0,6.0,7.0,8.0,9.0]},)", "");
    const std::string duplicated = replaced(b, "{\"beta\"", "{\"n\":3,\"beta\"");
    const std::string no_kind = replaced(b, R"("kind":"re",)", "");
    const std::string deep_extra = replaced(b, "{\"beta\"", "{\"extra\":" + std::string(200, '[') + "1" +
                                                             std::string(200, ']') + ",\"beta\"");
    const struct {
        const char* name;
        std::string body;
        std::size_t offset;  // where the error is, found independently in `body`
        std::string text;
    } cases[] = {
        {"missing field", without_vcov, without_vcov.size() - 1, "missing field `vcov`"},
        {"duplicate field", duplicated, duplicated.find("\"n\":10"), "duplicate field `n`"},
        {"unknown variant", replaced(b, R"("kind":"re")", R"("kind":"spline")"), b.find(R"("re")"),
         R"(unknown variant "spline", expected one of `cr`, `re`, `cr_stable`, `additive`, `tensor`)"},
        {"missing kind", no_kind, no_kind.find("1.5]}") + 4, "missing field `kind`"},
        {"kind not a string", replaced(b, R"("kind":"re")", R"("kind":3)"), b.find(R"("re")"),
         "invalid type: number `3`, expected a string"},
        {"predictor not an object", replaced(b, R"({"kind":"re","levels":[0.0,1.5]})", "[]"),
         b.find(R"({"kind")"), "invalid type: array, expected a predictor object"},
        {"null unsigned", replaced(b, "\"n\":10", "\"n\":null"), b.find("\"n\":10") + 4,
         "invalid type: null, expected an unsigned integer"},
        {"negative unsigned", replaced(b, "\"n_iters\":4", "\"n_iters\":-4"), b.find("\"n_iters\":4") + 10,
         "invalid type: number `-4`, expected an unsigned integer"},
        {"unsigned too large", replaced(b, "\"n\":10", "\"n\":18446744073709551616"), b.find("\"n\":10") + 4,
         "number out of range"},
        {"boolean expected", replaced(b, "\"converged\":true", "\"converged\":1"), b.find("\"converged\"") + 12,
         "invalid type: number `1`, expected a boolean"},
        {"string for a number", replaced(b, "\"scale\":2.5", "\"scale\":\"2.5\""), b.find("\"scale\"") + 8,
         "invalid type: string, expected a number"},
        {"number out of range", replaced(b, "\"scale\":2.5", "\"scale\":1e999"), b.find("\"scale\"") + 8,
         "number out of range"},
        {"unknown link", replaced(b, "\"Log\"", "\"Probit\""), b.find("\"Log\""),
         R"(unknown variant "Probit", expected one of `Identity`, `Log`, `Logit`)"},
        {"unknown array version", replaced(b, R"("beta":{"v":1)", R"("beta":{"v":2)"), b.find(R"("v":1)") + 4,
         "unknown array version: 2"},
        {"array version not an integer", replaced(b, R"("beta":{"v":1)", R"("beta":{"v":1.0)"), b.find(R"("v":1)") + 4,
         "invalid type: number `1.0`, expected an unsigned integer"},
        {"too few data", replaced(b, R"("dim":[3],"data":[1.0,-0.5,0.25])", R"("dim":[4],"data":[1.0,-0.5,0.25])"),
         8, "data and dimension must match in size"},
        {"too many data", replaced(b, R"("dim":[3],"data":[1.0,-0.5,0.25])", R"("dim":[2],"data":[1.0,-0.5,0.25])"),
         8, "data and dimension must match in size"},
        {"too many data before dim", replaced(b, R"("dim":[3],"data":[1.0,-0.5,0.25]})", R"("data":[1.0,-0.5,0.25],"dim":[2]})"),
         8, "data and dimension must match in size"},
        {"dim with two entries for a vector", replaced(b, R"("dim":[3])", R"("dim":[3,1])"), b.find("[3]"),
         "dim of a 1-D array must have 1 entry"},
        {"dim with one entry for a matrix", replaced(b, R"("dim":[3,3])", R"("dim":[9])"), b.find("[3,3]"),
         "dim of a 2-D array must have 2 entries"},
        {"huge dim", replaced(b, R"("dim":[3])", R"("dim":[1000000000000])"), 8,
         "data and dimension must match in size"},
        {"unknown key in an array object", replaced(b, R"("data":[1.0,-0.5,0.25]})", R"("data":[1.0,-0.5,0.25],"x":0})"),
         b.find("]}") + 2, R"(unknown field "x", expected one of `v`, `dim`, `data`)"},
        {"missing data", replaced(b, R"(,"data":[1.0,-0.5,0.25])", ""), b.find(R"(,"data")"), "missing field `data`"},
        {"duplicate kind", replaced(b, R"("kind":"re")", R"("kind":"re","kind":"cr")"), b.find(R"("kind")") + 12,
         "duplicate field `kind`"},
        {"vcov not square", replaced(b, R"("dim":[3,3])", R"("dim":[1,9])"), b.find(R"("vcov")") + 7,
         "vcov must be square; got 1 × 9"},
        {"record not an object", "[]", 0, "invalid type: array, expected an object"},
        {"deep unknown value", deep_extra, 9 + 127, "recursion limit exceeded"},
        {"invalid UTF-8 in an unknown key", replaced(b, "{\"beta\"", "{\"\xc3\x28\":0,\"beta\""), 2,
         "invalid UTF-8 in string"},
        {"bad escape in a key", replaced(b, "{\"beta\"", "{\"\\q\":0,\"beta\""), 3, "invalid escape"},
        {"cut inside the body", b.substr(0, b.find("[1.0") + 1), b.find("[1.0") + 1, "EOF while parsing an array"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read_error(frame_of(c.body)), decode_message(c.offset, c.text)) << c.name;
    }
}

TEST(DeserializeFit, DimensionProductsThatOverflowNeverMatchTheData) {
    // 2³² · 2³² and 2⁶³ · 2 wrap to 0 in 64 bits, which an empty data list would match.
    for (const char* dim : {"4294967296,4294967296", "9223372036854775808,2", "18446744073709551615,18446744073709551615"}) {
        const std::string body = replaced(small_re_body, R"("dim":[3,3],"data":[1.0,2.0,3.0,4.0,5.0,6.0,7.0,8.0,9.0])",
                                          std::string(R"("dim":[)") + dim + R"(],"data":[])");
        const std::size_t at = small_re_body.find(R"("vcov")") + 7;
        EXPECT_EQ(read_error(frame_of(body)), decode_message(at, "data and dimension must match in size")) << dim;
    }
    // Zero rows with data present: the product is 0.
    const std::string body = replaced(small_re_body, R"("dim":[3],"data":[1.0,-0.5,0.25])", R"("dim":[0],"data":[1.0])");
    EXPECT_EQ(read_error(frame_of(body)), decode_message(8, "data and dimension must match in size"));
}

// --- predictor consistency -------------------------------------------------------------

TEST(DeserializeFit, RefusesPredictorsWhoseMatricesDisagree) {
    TensorPredictor bad_knots = tensor_predictor(0, 1, 3, 3);
    bad_knots.knots_a = {0.0, 0.0, 1.0};
    TensorPredictor nan_knots = tensor_predictor(0, 1, 3, 3);
    nan_knots.knots_b[1] = nan;
    TensorPredictor short_knots = tensor_predictor(0, 1, 3, 3);
    short_knots.knots_b = {0.0, 1.0};
    short_knots.xp_b = Matrix::identity(2);
    TensorPredictor bad_xp_a = tensor_predictor(0, 1, 3, 4);
    bad_xp_a.xp_a = ramp(3, 2);
    TensorPredictor bad_xp_b = tensor_predictor(0, 1, 3, 4);
    bad_xp_b.xp_b = ramp(4, 3);
    TensorPredictor bad_centring = tensor_predictor(0, 1, 3, 4);
    bad_centring.centring = ramp(12, 12);
    TensorPredictor empty_centring = tensor_predictor(0, 1, 3, 4);
    empty_centring.centring = Matrix();
    CrPredictor cr_bad = cr_predictor(4);
    cr_bad.centring = ramp(4, 2);
    CrPredictor cr_rows = cr_predictor(4);
    cr_rows.centring = ramp(5, 3);
    CrStablePredictor stable_bad_centring = cr_stable_predictor(4);
    stable_bad_centring.centring = ramp(3, 3);
    CrStablePredictor stable_bad_v = cr_stable_predictor(4);
    stable_bad_v.reparam_v = ramp(3, 5);
    AdditivePredictor too_few_cols = additive_predictor();
    too_few_cols.cols_used.pop_back();
    AdditivePredictor too_many_ranges = additive_predictor();
    too_many_ranges.term_col_ranges.emplace_back(29, 30);
    AdditivePredictor empty_cols = additive_predictor();
    empty_cols.cols_used[0].clear();
    AdditivePredictor tensor_one_col = additive_predictor();
    tensor_one_col.cols_used[2] = {0};
    AdditivePredictor nested_bad = additive_predictor();
    std::get<AdditivePredictor>(nested_bad.term_predictors[3].value).term_predictors[0] = Predictor{stable_bad_v};

    const struct {
        const char* name;
        Predictor predictor;
        std::string text;
        bool nested = false;
    } cases[] = {
        {"cr centring columns", Predictor{cr_bad},
         "cr predictor: centring must be k × (k − 1) for k = 4 knots; got 4 × 2"},
        {"cr centring rows", Predictor{cr_rows}, "cr predictor: centring must be k × (k − 1) for k = 4 knots; got 5 × 3"},
        {"cr without knots", Predictor{CrPredictor{}}, "cr predictor: centring must be k × (k − 1) for k = 0 knots; got 0 × 0"},
        {"cr_stable centring", Predictor{stable_bad_centring},
         "cr_stable predictor: centring must be k × (k − 1) for k = 4 knots; got 3 × 3"},
        {"cr_stable reparam_v", Predictor{stable_bad_v},
         "cr_stable predictor: reparam_v must be (k − 1) × (k − 1) for k = 4 knots; got 3 × 5"},
        {"tensor knots not increasing", Predictor{bad_knots},
         "tensor predictor: invalid knots_a: CR spline knots must be strictly increasing"},
        {"tensor NaN knot", Predictor{nan_knots},
         "tensor predictor: invalid knots_b: CR spline knots must be strictly increasing"},
        {"tensor two knots", Predictor{short_knots}, "tensor predictor: invalid knots_b: CR spline needs k ≥ 3 (got 2)"},
        {"tensor xp_a", Predictor{bad_xp_a}, "tensor predictor: xp_a must be k_a × k_a for k_a = 3 knots; got 3 × 2"},
        {"tensor xp_b", Predictor{bad_xp_b}, "tensor predictor: xp_b must be k_b × k_b for k_b = 4 knots; got 4 × 3"},
        {"tensor centring", Predictor{bad_centring},
         "tensor predictor: centring must be (k_a·k_b) × (k_a·k_b − 1) for k_a = 3 and k_b = 4 knots; got 12 × 12"},
        {"tensor without centring", Predictor{empty_centring},
         "tensor predictor: centring must be (k_a·k_b) × (k_a·k_b − 1) for k_a = 3 and k_b = 4 knots; got 0 × 0"},
        {"additive cols_used count", Predictor{too_few_cols},
         "additive predictor: 4 term predictors need as many cols_used and term_col_ranges entries; got 3 and 4"},
        {"additive ranges count", Predictor{too_many_ranges},
         "additive predictor: 4 term predictors need as many cols_used and term_col_ranges entries; got 4 and 5"},
        {"additive empty cols_used", Predictor{empty_cols},
         "additive predictor: term 0 must name 1 column in cols_used; got 0"},
        {"additive tensor with one column", Predictor{tensor_one_col},
         "additive predictor: term 2 must name 2 columns in cols_used; got 1"},
        {"nested term", Predictor{nested_bad},
         "cr_stable predictor: reparam_v must be (k − 1) × (k − 1) for k = 4 knots; got 3 × 5", true},
    };
    for (const auto& c : cases) {
        const std::string frame = serialized(record_with(c.predictor));
        const std::string body = body_of(frame);
        // The error is at the start of the offending predictor object.
        const std::size_t at = c.nested ? body.find(R"({"kind":"cr_stable")")
                                        : body.find(R"("predictor":)") + std::string(R"("predictor":)").size();
        EXPECT_EQ(read_error(frame), decode_message(at, c.text)) << c.name;
    }
}

TEST(DeserializeFit, SizesThatDisagreeWithBetaFailAtPredictionTime) {
    FittedGam fit = record_with(Predictor{cr_predictor(5)}, 5);
    fit.beta.pop_back();
    auto back = deserialize_fit(bytes(serialized(fit)));
    ASSERT_TRUE(back.has_value()) << back.error().text;
    const Matrix x(3, 1, 0.5);
    auto eta = predict_link(*back, x);
    ASSERT_FALSE(eta.has_value());
    EXPECT_EQ(eta.error().kind, ErrorKind::InvalidParameter);
}

// --- damaged frames --------------------------------------------------------------------

// Thousands of damaged copies of valid frames: each must fail with a decode
// error or read a record that writes and reads back stably and predicts or
// fails cleanly. Sanitizer builds turn any out-of-bounds access into a failure.
TEST(DeserializeFit, DamagedFramesFailCleanlyOrReadBackStably) {
    std::vector<std::string> seeds;
    for (const FittedGam& fit : every_kind_of_record()) seeds.push_back(serialized(fit));
    seeds.push_back(serialized(small_re_record()));

    const char* tokens[] = {"null", "-0.0", "1e308", "1e999", "\"x\"", "[]", "{}", "true", "0", "1", "2", "3",
                            "4294967296", "18446744073709551615", "18446744073709551616", "-1", "[0]", "[1,2]"};
    const char* dim_entries[] = {"0", "1", "2", "3", "4", "8", "9", "12", "4294967296", "9223372036854775808",
                                 "18446744073709551615", "18446744073709551616"};
    std::mt19937_64 rng(20240611);
    const auto below = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
    Matrix x(4, 4);
    for (std::size_t i = 0; i < x.size(); ++i) x.data()[i] = -0.5 + 0.4 * static_cast<double>(i % 5);

    std::size_t failed = 0, read = 0, predicted = 0;
    for (int iteration = 0; iteration < 6000; ++iteration) {
        std::string frame = seeds[below(seeds.size())];
        std::string body = frame.substr(frame_header_size);
        const int mutations = below(2) == 0 ? 1 : 1 + static_cast<int>(below(3));
        for (int m = 0; m < mutations; ++m) {
            switch (below(6)) {
                case 0: {  // flip bits
                    if (body.empty()) break;
                    const int flips = 1 + static_cast<int>(below(4));
                    for (int f = 0; f < flips; ++f) body[below(body.size())] ^= static_cast<char>(1u << below(8));
                    break;
                }
                case 1:  // cut
                    body.resize(below(body.size() + 1));
                    break;
                case 2: {  // splice a chunk of another frame in
                    const std::string& other = seeds[below(seeds.size())];
                    const std::size_t from = below(other.size()), length = below(64);
                    const std::size_t at = below(body.size() + 1);
                    body.replace(at, below(64), other.substr(from, length));
                    break;
                }
                case 3: {  // repeat a chunk
                    const std::size_t from = below(body.size()), length = below(200);
                    body.insert(below(body.size() + 1), body.substr(from, length));
                    break;
                }
                case 4: {  // change the first entry of one dim
                    std::vector<std::size_t> dims;
                    for (std::size_t at = body.find("\"dim\":["); at != std::string::npos;
                         at = body.find("\"dim\":[", at + 1))
                        dims.push_back(at + 7);
                    if (dims.empty()) break;
                    const std::size_t at = dims[below(dims.size())];
                    const std::size_t end = body.find_first_of(",]", at);
                    if (end == std::string::npos) break;
                    body.replace(at, end - at, dim_entries[below(std::size(dim_entries))]);
                    break;
                }
                default: {  // replace a number by another token
                    std::size_t at = below(body.size());
                    while (at < body.size() && !(body[at] >= '0' && body[at] <= '9')) ++at;
                    if (at >= body.size()) break;
                    const std::size_t end = body.find_first_not_of("0123456789.e+-", at);
                    body.replace(at, end == std::string::npos ? std::string::npos : end - at,
                                 tokens[below(std::size(tokens))]);
                    break;
                }
            }
        }
        // Mostly with a matching header length, sometimes with the old one.
        const std::string damaged = below(4) == 0 ? frame.substr(0, frame_header_size) + body : frame_of(body);
        auto fit = deserialize_fit(bytes(damaged));
        if (!fit) {
            ASSERT_EQ(fit.error().kind, ErrorKind::InvalidParameter);
            ASSERT_EQ(fit.error().text.rfind("FittedGam::deserialize: ", 0), 0u) << fit.error().text;
            ++failed;
            continue;
        }
        ++read;
        const std::string again = serialized(*fit);
        auto twice = deserialize_fit(bytes(again));
        ASSERT_TRUE(twice.has_value()) << twice.error().text;
        ASSERT_EQ(serialized(*twice), again);
        auto matrix = lpmatrix(*fit, x);
        if (matrix) {
            ASSERT_EQ(matrix->rows(), x.rows());
            ASSERT_EQ(matrix->cols(), fit->beta.size());
            ++predicted;
        } else {
            ASSERT_EQ(matrix.error().kind, ErrorKind::InvalidParameter) << matrix.error().text;
        }
    }
    EXPECT_GT(failed, 1000u);
    EXPECT_GT(read, 100u);
    EXPECT_GT(predicted, 100u);
}

}  // namespace
}  // namespace pelun
