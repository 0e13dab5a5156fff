// Private to src/linalg: the Fortran BLAS and LAPACK prototypes of the library
// in use. Every routine is named through PELUN_FORTRAN, which maps a name to
// the library's symbol (the scipy-openblas build prefixes "scipy_").
// Integers are 32-bit (LP64); character arguments carry hidden lengths at the end.
#pragma once

#include <cstddef>

#if defined(PELUN_LAPACK_SCIPY_OPENBLAS)
#define PELUN_FORTRAN(name) scipy_##name##_
#else
#define PELUN_FORTRAN(name) name##_
#endif

namespace pelun::fortran {
using Int = int;
using StrLen = std::size_t;
}  // namespace pelun::fortran

// Declared at global scope: these are C-linkage symbols of the library.
extern "C" {
using pelun::fortran::Int;
using pelun::fortran::StrLen;

void PELUN_FORTRAN(dgemm)(const char* transa, const char* transb, const Int* m, const Int* n,
                          const Int* k, const double* alpha, const double* a, const Int* lda,
                          const double* b, const Int* ldb, const double* beta, double* c,
                          const Int* ldc, StrLen transa_len, StrLen transb_len);

void PELUN_FORTRAN(dgemv)(const char* trans, const Int* m, const Int* n, const double* alpha,
                          const double* a, const Int* lda, const double* x, const Int* incx,
                          const double* beta, double* y, const Int* incy, StrLen trans_len);

void PELUN_FORTRAN(dsyrk)(const char* uplo, const char* trans, const Int* n, const Int* k,
                          const double* alpha, const double* a, const Int* lda, const double* beta,
                          double* c, const Int* ldc, StrLen uplo_len, StrLen trans_len);

void PELUN_FORTRAN(dpotrf)(const char* uplo, const Int* n, double* a, const Int* lda, Int* info,
                           StrLen uplo_len);

void PELUN_FORTRAN(dsyev)(const char* jobz, const char* uplo, const Int* n, double* a,
                          const Int* lda, double* w, double* work, const Int* lwork, Int* info,
                          StrLen jobz_len, StrLen uplo_len);

void PELUN_FORTRAN(dgetrf)(const Int* m, const Int* n, double* a, const Int* lda, Int* ipiv,
                           Int* info);

void PELUN_FORTRAN(dgetrs)(const char* trans, const Int* n, const Int* nrhs, const double* a,
                           const Int* lda, const Int* ipiv, double* b, const Int* ldb, Int* info,
                           StrLen trans_len);

#if defined(PELUN_LAPACK_SCIPY_OPENBLAS)
void scipy_openblas_set_num_threads(int num_threads);
#else
// Present only when the system BLAS is OpenBLAS.
void openblas_set_num_threads(int num_threads) __attribute__((weak));
#endif

}  // extern "C"
