// The texts of one command as the stand-in passes them on.
#ifndef QUV_SRC_TEXTS_H
#define QUV_SRC_TEXTS_H

#include <cstddef>
#include <iterator>
#include <string>

namespace quvimpl {

// The texts of one command (name first), as the wrapper received them: a view
// of the wrapper's own parameters, so that passing a command on copies and
// allocates nothing.
class Texts {
 public:
  Texts(const std::string* const* texts, std::size_t count) : texts_(texts), count_(count) {}

  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string*;
    using reference = const std::string&;
    explicit Iterator(const std::string* const* at) : at_(at) {}
    reference operator*() const { return **at_; }
    pointer operator->() const { return *at_; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    Iterator operator++(int) { return Iterator(at_++); }
    Iterator operator+(difference_type n) const { return Iterator(at_ + n); }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }

   private:
    const std::string* const* at_;
  };

  Iterator begin() const { return Iterator(texts_); }
  Iterator end() const { return Iterator(texts_ + count_); }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const std::string& operator[](std::size_t i) const { return *texts_[i]; }

 private:
  const std::string* const* texts_;
  std::size_t count_;
};

}  // namespace quvimpl

#endif
