"""The extension module as Python sees it: contents, docstrings, signatures, loading."""

import ctypes
import inspect
import pathlib
import shutil
import subprocess

import pytest

import pelun
import pelun._pelun_native as native


def test_module_registers_class_then_functions_in_order():
    own = [name for name in vars(native) if not name.startswith("__")]
    assert own == ["FittedGam", "fit", "fit_additive"]
    assert native.__doc__ == ""


def test_package_reexports_the_native_names():
    assert pelun.__all__ == ["FittedGam", "fit", "fit_additive", "__version__"]
    assert pelun.fit is native.fit
    assert pelun.fit_additive is native.fit_additive
    assert pelun.FittedGam is native.FittedGam
    assert isinstance(pelun.__version__, str)


def test_package_ships_type_stubs():
    package_dir = pathlib.Path(pelun.__file__).parent
    assert (package_dir / "py.typed").exists()
    assert (package_dir / "_pelun_native.pyi").exists()


def test_fitted_gam_class():
    assert native.FittedGam.__module__ == "pelun._pelun_native"
    assert native.FittedGam.__doc__ == ""
    with pytest.raises(TypeError):
        native.FittedGam()


def test_signatures_are_visible_to_inspect():
    assert str(inspect.signature(pelun.fit)) == (
        "(family_name, x, y, weights=None, k=10, design='cr', theta=None, nu=None, sigma2=None, "
        "tweedie_p=None, tweedie_phi=None, r=None, tau=None, elf_sigma=None, elf_lambda=None)"
    )
    assert str(inspect.signature(pelun.fit_additive)) == "(family_name, x, y, terms, weights=None)"


def test_fit_docstring_lists_families_and_designs():
    doc = pelun.fit.__doc__
    assert doc.startswith("Fit a pelun GAM. The only string-keyed entry into the typed core.")
    for constructor in ["gaussian_identity", "bernoulli_logit", "poisson_log", "quasipoisson_log",
                        "quasibinomial_logit", "gamma_log", "inverse_gaussian_log", "negbin_log",
                        "tdist_identity", "tweedie_log", "ocat_identity", "elf_identity"]:
        assert constructor in doc
    assert doc.rstrip().endswith('design accepts "cr" (default), "re" or "cr_stable".')


def test_reinitialisation_returns_the_same_module():
    library = ctypes.PyDLL(native.__file__)
    init = library.PyInit__pelun_native
    init.restype = ctypes.py_object
    assert init() is native


def test_import_from_a_sub_interpreter_fails_with_import_error():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError, match="ImportError"):
            interpreters.run_string(interp, "import pelun._pelun_native")
    finally:
        interpreters.destroy(interp)


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")
def test_only_the_module_entry_is_exported():
    exported = subprocess.run(["nm", "-D", "--defined-only", native.__file__],
                              capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in exported.splitlines()] == ["PyInit__pelun_native"]
    imported = subprocess.run(["nm", "-D", "--undefined-only", native.__file__],
                              capture_output=True, text=True, check=True).stdout
    # products and factorizations go to the BLAS/LAPACK library
    for routine in ["dgemm_", "dsyrk_", "dpotrf_", "dsyev_", "dgetrf_", "dgetrs_"]:
        assert routine in imported
