// A ring of at most N values, oldest first, that never allocates. Pushing
// onto a full ring drops its oldest value.
#pragma once

#include <array>
#include <cstddef>

template <typename T, std::size_t N>
class Ring {
 public:
  static constexpr std::size_t CAPACITY = N;

  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == N; }
  std::size_t size() const { return count_; }

  // The i-th value from the oldest; i < size().
  const T& operator[](std::size_t i) const { return values_[(head_ + i) % N]; }
  const T& front() const { return (*this)[0]; }
  const T& back() const { return (*this)[count_ - 1]; }

  void push(const T& value) {
    if (full()) {
      pop();
    }
    values_[(head_ + count_) % N] = value;
    ++count_;
  }
  // Drops the oldest value; only when !empty().
  void pop() {
    head_ = (head_ + 1) % N;
    --count_;
  }

 private:
  std::array<T, N> values_{};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};
