// Read-only strided views of caller-owned float64 data (for example NumPy
// arrays of any layout). Strides are in bytes and may be negative or zero.
#pragma once

#include <cstddef>
#include <span>

#include "linalg/matrix.hpp"

namespace pelun {

class VectorView {
public:
    VectorView() = default;
    VectorView(const void* base, std::size_t size, std::ptrdiff_t stride_bytes)
        : base_(static_cast<const char*>(base)), size_(size), stride_(stride_bytes) {}
    // A contiguous view of a vector (the vector must outlive the view).
    VectorView(std::span<const double> values)  // NOLINT: implicit by design
        : VectorView(values.data(), values.size(), sizeof(double)) {}
    VectorView(const Vector& values)  // NOLINT: implicit by design
        : VectorView(std::span<const double>(values)) {}

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    double operator[](std::size_t i) const {
        return *reinterpret_cast<const double*>(base_ + static_cast<std::ptrdiff_t>(i) * stride_);
    }
    bool is_contiguous() const { return stride_ == static_cast<std::ptrdiff_t>(sizeof(double)); }
    // Pointer to element 0; only meaningful for contiguous views.
    const double* contiguous_data() const { return reinterpret_cast<const double*>(base_); }

private:
    const char* base_ = nullptr;
    std::size_t size_ = 0;
    std::ptrdiff_t stride_ = sizeof(double);
};

class MatrixView {
public:
    MatrixView() = default;
    MatrixView(const void* base, std::size_t rows, std::size_t cols, std::ptrdiff_t row_stride_bytes,
               std::ptrdiff_t col_stride_bytes)
        : base_(static_cast<const char*>(base)),
          rows_(rows),
          cols_(cols),
          row_stride_(row_stride_bytes),
          col_stride_(col_stride_bytes) {}
    // A view of a row-major matrix (the matrix must outlive the view).
    MatrixView(const Matrix& m)  // NOLINT: implicit by design
        : MatrixView(m.data(), m.rows(), m.cols(),
                     static_cast<std::ptrdiff_t>(m.cols() * sizeof(double)), sizeof(double)) {}

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    double operator()(std::size_t i, std::size_t j) const {
        return *reinterpret_cast<const double*>(base_ + static_cast<std::ptrdiff_t>(i) * row_stride_ +
                                                static_cast<std::ptrdiff_t>(j) * col_stride_);
    }
    VectorView column(std::size_t j) const {
        return {base_ + static_cast<std::ptrdiff_t>(j) * col_stride_, rows_, row_stride_};
    }
    VectorView row(std::size_t i) const {
        return {base_ + static_cast<std::ptrdiff_t>(i) * row_stride_, cols_, col_stride_};
    }

private:
    const char* base_ = nullptr;
    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    std::ptrdiff_t row_stride_ = 0;
    std::ptrdiff_t col_stride_ = sizeof(double);
};

// Contiguous copies of views.
Vector to_vector(VectorView v);
Matrix to_matrix(MatrixView m);

}  // namespace pelun
