// Dense row-major matrix of doubles and the vector type of the core.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <vector>

namespace pelun {

using Vector = std::vector<double>;

// A dense matrix stored row by row: element (i, j) is data()[i * cols() + j].
class Matrix {
public:
    Matrix() = default;
    Matrix(std::size_t rows, std::size_t cols, double fill = 0.0)
        : rows_(rows), cols_(cols), values_(rows * cols, fill) {}

    // Rows given as nested lists; every row must have the same length.
    static Matrix from_rows(std::initializer_list<std::initializer_list<double>> rows);
    static Matrix identity(std::size_t n);

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t size() const { return values_.size(); }
    bool is_square() const { return rows_ == cols_; }
    bool empty() const { return values_.empty(); }

    double& operator()(std::size_t i, std::size_t j) { return values_[i * cols_ + j]; }
    double operator()(std::size_t i, std::size_t j) const { return values_[i * cols_ + j]; }

    double* data() { return values_.data(); }
    const double* data() const { return values_.data(); }
    std::span<double> row(std::size_t i) { return {values_.data() + i * cols_, cols_}; }
    std::span<const double> row(std::size_t i) const { return {values_.data() + i * cols_, cols_}; }
    const std::vector<double>& values() const { return values_; }

    bool operator==(const Matrix&) const = default;

private:
    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    std::vector<double> values_;
};

Matrix transpose(const Matrix& a);

}  // namespace pelun
