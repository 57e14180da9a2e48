// An ordered list that owns its entries: appended at the end, duplicates kept, iterated in the
// order of adding as const references.
#pragma once

#include <cstdint>
#include <iterator>
#include <list>
#include <memory>
#include <utility>

namespace form {

template <typename Entry>
class OwnedList {
    using Storage = std::list<std::unique_ptr<Entry>>;

  public:
    // Walks the entries as `const Entry&` rather than as the owning pointers.
    class const_iterator {
      public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using pointer = const Entry*;
        using reference = const Entry&;

        const_iterator() = default;
        explicit const_iterator(typename Storage::const_iterator at) : at_(at) {}
        reference operator*() const { return **at_; }
        pointer operator->() const { return at_->get(); }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(at_++); }
        const_iterator& operator--() {
            --at_;
            return *this;
        }
        const_iterator operator--(int) { return const_iterator(at_--); }
        bool operator==(const const_iterator& other) const { return at_ == other.at_; }
        bool operator!=(const const_iterator& other) const { return at_ != other.at_; }

      private:
        typename Storage::const_iterator at_;
    };

    // A null entry is not stored, so every stored entry can be dereferenced.
    void Append(std::unique_ptr<Entry> entry) {
        if (entry) entries_.push_back(std::move(entry));
    }
    void Clear() { entries_.clear(); }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(entries_.size()); }
    bool Empty() const { return entries_.empty(); }

    const_iterator begin() const { return const_iterator(entries_.cbegin()); }
    const_iterator end() const { return const_iterator(entries_.cend()); }

  private:
    Storage entries_;
};

}  // namespace form
