"""Saving fits: serialize, deserialize and pickling, bit for bit."""

import copy
import json
import pickle
import struct

import numpy as np
import pytest

import pelun
from pelun import FittedGam

STANDARD = ["gaussian", "poisson", "quasipoisson", "bernoulli", "quasibinomial", "gamma", "inverse_gaussian"]
RECORD_KEYS = ["beta", "rho", "lambda", "scale", "edf_total", "edf_per_term", "n", "n_iters", "converged",
               "reml_value", "predictor", "vcov", "link_kind", "shape_params"]


def simulate(family, design, n=300, seed=3):
    rng = np.random.default_rng(seed)
    if design == "re":
        x = rng.integers(0, 8, size=(n, 1)) / 7.0
    else:
        x = rng.uniform(size=(n, 1))
    f = np.sin(2.0 * np.pi * x[:, 0])
    if family == "gaussian":
        y = f + rng.normal(scale=0.3, size=n)
    elif family in ("poisson", "quasipoisson"):
        y = rng.poisson(np.exp(1.0 + f)).astype(float)
    elif family in ("bernoulli", "quasibinomial"):
        y = (rng.uniform(size=n) < 1.0 / (1.0 + np.exp(-2.0 * f))).astype(float)
    elif family == "gamma":
        y = rng.gamma(4.0, np.exp(f) / 4.0)
    else:  # inverse_gaussian
        y = rng.wald(np.exp(0.5 * f), 8.0)
    return x, y


@pytest.fixture(scope="module", params=[(f, d) for f in STANDARD for d in ("cr", "re")],
                ids=lambda p: f"{p[0]}-{p[1]}")
def fitted(request):
    family, design = request.param
    x, y = simulate(family, design)
    return pelun.fit(family, x, y, k=8, design=design)


@pytest.fixture(scope="module")
def grid():
    # Inside and outside the knot range, the fitted levels and values that are no level.
    return np.concatenate([np.linspace(-0.2, 1.2, 41), np.arange(8) / 7.0])[:, None]


def same_bits(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def outputs(fit, grid):
    """Everything a fit gives, for bitwise comparison."""
    out = {name: getattr(fit, name) for name in ("beta", "rho", "lambda", "edf_per_term", "shape_params")}
    out.update(scale=np.float64(fit.scale), edf_total=np.float64(fit.edf_total),
               reml_value=np.float64(fit.reml_value), vcov=fit.vcov(), lpmatrix=fit.evaluate_lpmatrix(grid),
               link=fit.predict(grid), response=fit.predict_response(grid))
    for scale in ("link", "response"):
        for level in (0.5, 0.95):
            for i, part in enumerate(fit.predict_ci(grid, level=level, scale=scale)):
                out[f"ci-{scale}-{level}-{i}"] = part
    for i, part in enumerate(fit.predict_diff(grid, grid[:1])):
        out[f"diff-{i}"] = part
    return out


def assert_same_fit(a, b, grid):
    assert type(b) is FittedGam
    assert (a.n, a.n_iters, a.converged, a.term_col_ranges()) == (b.n, b.n_iters, b.converged, b.term_col_ranges())
    expected, actual = outputs(a, grid), outputs(b, grid)
    for name in expected:
        assert same_bits(expected[name], actual[name]), name


def split_frame(frame):
    version, length = struct.unpack("<IQ", frame[5:17])
    return frame[:5], version, length, frame[17:17 + length]


def make_frame(body, version=1):
    data = body.encode() if isinstance(body, str) else body
    return b"PELUN" + struct.pack("<IQ", version, len(data)) + data


def test_serialize_deserialize_serialize_gives_the_same_bytes_and_predictions(fitted, grid):
    frame = fitted.serialize()
    assert isinstance(frame, bytes)
    copy_ = FittedGam.deserialize(frame)
    assert copy_.serialize() == frame
    assert_same_fit(fitted, copy_, grid)


def test_frame_layout_read_by_an_independent_json_parser(fitted):
    frame = fitted.serialize()
    magic, version, length, body = split_frame(frame)
    assert (magic, version, len(frame)) == (b"PELUN", 1, 17 + length)
    assert b" " not in body and b"\n" not in body
    record = json.loads(body)
    assert list(record) == RECORD_KEYS
    for name in ("beta", "rho", "lambda", "edf_per_term", "shape_params"):
        array = record[name]
        assert list(array) == ["v", "dim", "data"] and array["v"] == 1
        assert same_bits(np.array(array["data"], dtype=float).reshape(array["dim"]), getattr(fitted, name))
    vcov = record["vcov"]
    assert same_bits(np.array(vcov["data"]).reshape(vcov["dim"]), fitted.vcov())  # row-major
    assert record["scale"] == fitted.scale and record["n"] == fitted.n
    assert record["link_kind"] in ("Identity", "Log", "Logit")
    predictor = record["predictor"]
    assert list(predictor)[0] == "kind"
    if predictor["kind"] == "cr":
        assert list(predictor) == ["kind", "knots", "centring"]
        k = predictor["knots"]["dim"][0]
        assert predictor["centring"]["dim"] == [k, k - 1] == [k, len(fitted.beta) - 1]
    else:
        assert list(predictor) == ["kind", "levels"]
        assert predictor["levels"] == list(np.arange(8) / 7.0)
    assert record["shape_params"] == {"v": 1, "dim": [0], "data": []}


def test_links_are_stored_by_name():
    x, y = simulate("poisson", "cr")
    body = split_frame(pelun.fit("poisson", x, y).serialize())[3]
    assert json.loads(body)["link_kind"] == "Log"
    x, y = simulate("bernoulli", "cr")
    assert json.loads(split_frame(pelun.fit("bernoulli", x, y).serialize())[3])["link_kind"] == "Logit"


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip(fitted, grid, protocol):
    stream = pickle.dumps(fitted, protocol=protocol)
    loaded = pickle.loads(stream)
    assert type(loaded) is FittedGam
    assert loaded.serialize() == fitted.serialize()
    assert_same_fit(fitted, loaded, grid)


def test_pickle_stream_holds_the_frame(fitted):
    frame = fitted.serialize()
    assert frame in pickle.dumps(fitted, protocol=pickle.HIGHEST_PROTOCOL)
    function, arguments = fitted.__reduce__()
    assert function == FittedGam.deserialize and function.__self__ is FittedGam
    assert arguments == (frame,) and type(arguments[0]) is bytes


def test_copy_and_deepcopy_go_through_the_frame(fitted, grid):
    for duplicate in (copy.copy(fitted), copy.deepcopy(fitted)):
        assert duplicate is not fitted
        assert duplicate.serialize() == fitted.serialize()
        assert_same_fit(fitted, duplicate, grid)


def test_fit_with_nan_scale_survives_pickling(grid):
    fit = pelun.fit("gaussian", np.array([[0.0], [1.0]]), np.array([1.0, 3.0]), k=3)
    assert np.isnan(fit.scale)
    frame = fit.serialize()
    assert b'"scale":null' in frame
    loaded = pickle.loads(pickle.dumps(fit))
    assert np.isnan(loaded.scale)
    assert loaded.serialize() == frame
    assert_same_fit(fit, loaded, grid)


def test_null_reads_as_nan_wherever_a_float_is_expected(grid):
    x, y = simulate("poisson", "cr")
    fit = pelun.fit("poisson", x, y, k=6)
    record = json.loads(split_frame(fit.serialize())[3])
    record["edf_total"] = None
    record["vcov"]["data"][1] = None
    loaded = FittedGam.deserialize(make_frame(json.dumps(record)))
    assert np.isnan(loaded.edf_total)
    v = loaded.vcov()
    assert np.isnan(v[0, 1]) and same_bits(np.delete(v.ravel(), 1), np.delete(fit.vcov().ravel(), 1))
    assert same_bits(loaded.predict(grid), fit.predict(grid))


def test_reads_frames_from_another_writer_with_keys_in_any_order(grid):
    x, y = simulate("gamma", "cr")
    fit = pelun.fit("gamma", x, y, k=7)
    record = json.loads(split_frame(fit.serialize())[3])
    # Reversed keys everywhere, an unknown key, indentation: json writes floats
    # by repr, which reads back exactly.
    reordered = {key: record[key] for key in reversed(RECORD_KEYS)}
    reordered["predictor"] = {k: v for k, v in reversed(list(record["predictor"].items()))}
    reordered["written_by"] = {"tool": "json", "version": [3, 1]}
    loaded = FittedGam.deserialize(make_frame(json.dumps(reordered, indent=2)))
    assert loaded.serialize() == fit.serialize()
    assert_same_fit(fit, loaded, grid)


def test_method_docstrings_and_order():
    assert FittedGam.serialize.__text_signature__ == "($self)"
    assert FittedGam.deserialize.__text_signature__ == "($cls, bytes)"
    assert FittedGam.__reduce__.__text_signature__ == "($self)"
    assert "pickling routes through serialize and deserialize" in FittedGam.__reduce__.__doc__
    assert "compact binary frame" in FittedGam.__reduce__.__doc__
    names = list(FittedGam.__dict__)
    order = [names.index(n) for n in ("predict_ci", "serialize", "deserialize", "__reduce__", "predict_diff")]
    assert order == sorted(order)


def test_deserialize_always_makes_the_modules_class(fitted):
    frame = fitted.serialize()
    for made in (FittedGam.deserialize(frame), fitted.deserialize(frame), type(fitted).deserialize(bytes=frame)):
        assert type(made) is FittedGam
    # The class cannot be subclassed, so deserialize is never reached through a subclass.
    with pytest.raises(TypeError):
        type("Sub", (FittedGam,), {})


FRAME_ERRORS = [
    (lambda f: b"", "FittedGam::deserialize: buffer too short (0 < 17 header bytes)"),
    (lambda f: f[:16], "FittedGam::deserialize: buffer too short (16 < 17 header bytes)"),
    (lambda f: b"pELUN" + f[5:],
     "FittedGam::deserialize: bad magic; expected [80, 69, 76, 85, 78], got [112, 69, 76, 85, 78]"),
    (lambda f: f[:5] + struct.pack("<I", 2) + f[9:],
     "FittedGam::deserialize: unsupported format_version=2 (this build expects 1). Re-serialize with a matching "
     "pelun release, or roll a migration."),
    (lambda f: f[:9] + struct.pack("<Q", 2**64 - 17) + f[17:], "FittedGam::deserialize: length overflow"),
    (lambda f: f[:-1], "FittedGam::deserialize: truncated body (have {m} bytes, header says {n} payload bytes "
                       "follow the 17-byte header)"),
    (lambda f: make_frame(f[17:] + b"\n#"), "FittedGam::deserialize: JSON decode failed at byte 1: trailing "
                                             "characters at line 2 column 1"),
    (lambda f: make_frame(f[17:].replace(b'"n":', b'"n":-', 1)), None),
]


@pytest.mark.parametrize("damage,message", FRAME_ERRORS)
def test_damaged_frames_raise_value_error(fitted, damage, message):
    frame = fitted.serialize()
    length = len(frame) - 17
    if message is None:  # a negative count, at the position of its number
        at = frame[17:].index(b'"n":') + 4
        message = (f"FittedGam::deserialize: JSON decode failed at byte {at + 1}: invalid type: number "
                   f"`-{fitted.n}`, expected an unsigned integer at line 1 column {at + 1}")
    with pytest.raises(ValueError) as error:
        FittedGam.deserialize(damage(frame))
    assert str(error.value) == message.format(m=length - 1, n=length)


def test_bytes_after_the_frame_are_ignored(fitted, grid):
    loaded = FittedGam.deserialize(fitted.serialize() + b"\x00trailing garbage")
    assert_same_fit(fitted, loaded, grid)


@pytest.mark.parametrize("args,kwargs,message", [
    (("abc",), {}, "argument 'bytes': 'str' object cannot be cast as 'bytes'"),
    ((None,), {}, "argument 'bytes': 'NoneType' object cannot be cast as 'bytes'"),
    ((1,), {}, "argument 'bytes': 'int' object cannot be cast as 'bytes'"),
    (("frame-as-bytearray",), {}, "argument 'bytes': 'bytearray' object cannot be cast as 'bytes'"),
    (("frame-as-memoryview",), {}, "argument 'bytes': 'memoryview' object cannot be cast as 'bytes'"),
    ((), {}, "deserialize() missing 1 required positional argument: 'bytes'"),
    (("frame", "frame"), {}, "deserialize() takes from 1 to 1 positional arguments but 2 were given"),
    ((), {"data": "frame"}, "deserialize() got an unexpected keyword argument 'data'"),
    (("frame",), {"bytes": "frame"}, "deserialize() got multiple values for argument 'bytes'"),
])
def test_deserialize_argument_errors(fitted, args, kwargs, message):
    frame = fitted.serialize()
    stand_in = {"frame": frame, "frame-as-bytearray": bytearray(frame), "frame-as-memoryview": memoryview(frame)}
    args = tuple(stand_in.get(a, a) if isinstance(a, str) else a for a in args)
    kwargs = {k: stand_in.get(v, v) for k, v in kwargs.items()}
    with pytest.raises(TypeError) as error:
        FittedGam.deserialize(*args, **kwargs)
    assert str(error.value) == message
    if message.startswith("argument 'bytes': "):
        assert isinstance(error.value.__cause__, TypeError)
        assert str(error.value.__cause__) == message[len("argument 'bytes': "):]


def test_serialize_takes_no_arguments(fitted):
    with pytest.raises(TypeError):
        fitted.serialize(1)
    with pytest.raises(TypeError):
        fitted.__reduce__(1)


def test_inconsistent_sizes_fail_with_value_errors(grid):
    x, y = simulate("gaussian", "cr")
    fit = pelun.fit("gaussian", x, y, k=6)
    record = json.loads(split_frame(fit.serialize())[3])

    short_beta = copy.deepcopy(record)
    short_beta["beta"] = {"v": 1, "dim": [5], "data": short_beta["beta"]["data"][:5]}
    loaded = FittedGam.deserialize(make_frame(json.dumps(short_beta)))  # only predicting needs consistency
    for predict in (loaded.predict, loaded.predict_response, loaded.evaluate_lpmatrix, loaded.predict_ci):
        with pytest.raises(ValueError, match="one column per coefficient"):
            predict(grid)

    small_vcov = copy.deepcopy(record)
    small_vcov["vcov"] = {"v": 1, "dim": [2, 2], "data": [1.0, 0.0, 0.0, 1.0]}
    with pytest.raises(ValueError, match="vcov must be p × p"):
        FittedGam.deserialize(make_frame(json.dumps(small_vcov))).predict(grid)

    bad_centring = copy.deepcopy(record)
    centring = bad_centring["predictor"]["centring"]
    centring["dim"] = [centring["dim"][0] - 1, centring["dim"][1]]
    centring["data"] = centring["data"][:centring["dim"][0] * centring["dim"][1]]
    with pytest.raises(ValueError, match=r"JSON decode failed at byte \d+: cr predictor: centring must be "
                                         r"k × \(k − 1\) for k = 6 knots; got 5 × 5"):
        FittedGam.deserialize(make_frame(json.dumps(bad_centring)))


def test_randomly_damaged_frames_raise_only_value_errors(grid):
    x, y = simulate("poisson", "cr")
    frames = [pelun.fit("poisson", x, y, k=5).serialize(),
              pelun.fit("gaussian", *simulate("gaussian", "re"), design="re").serialize()]
    rng = np.random.default_rng(17)
    outcomes = {"ValueError": 0, "read": 0}
    for _ in range(1500):
        frame = bytearray(frames[rng.integers(len(frames))])
        for _ in range(rng.integers(1, 4)):
            at = int(rng.integers(17, len(frame)))
            frame[at] ^= 1 << int(rng.integers(8))
        if rng.integers(4) == 0:
            frame = frame[:int(rng.integers(len(frame)))]
        try:
            fit = FittedGam.deserialize(bytes(frame))
        except ValueError as error:
            assert str(error).startswith("FittedGam::deserialize: ")
            outcomes["ValueError"] += 1
            continue
        outcomes["read"] += 1
        assert FittedGam.deserialize(fit.serialize()).serialize() == fit.serialize()
        try:
            fit.predict_ci(grid)
        except ValueError:
            pass
    assert outcomes["ValueError"] > 100 and outcomes["read"] > 10


ADDITIVE_MODELS = [
    ("cr_stable", lambda x, y: pelun.fit("poisson", x[:, :1], y, design="cr_stable")),
    ("additive", lambda x, y: pelun.fit_additive("poisson", x, y, [(0, "cr", 6), (1, "cr_stable", 5), (2, "re")])),
    ("tensor", lambda x, y: pelun.fit_additive("gaussian", x, np.log1p(y), [((0, 1), "te", (4, 5)), (2, "re")])),
]


@pytest.mark.parametrize("name, make", ADDITIVE_MODELS, ids=[m[0] for m in ADDITIVE_MODELS])
def test_every_predictor_kind_round_trips(name, make):
    rng = np.random.default_rng(51)
    x = np.column_stack([rng.uniform(size=(300, 2)), rng.integers(0, 4, 300).astype(float)])
    y = rng.poisson(np.exp(0.5 + np.sin(3 * x[:, 0]) + 0.3 * x[:, 1])).astype(float)
    fit = make(x, y)
    frame = fit.serialize()
    restored = pickle.loads(pickle.dumps(fit))
    assert restored.serialize() == frame
    assert_same_fit(fit, restored, x[::7])
