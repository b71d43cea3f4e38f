// CDllList<T>: a doubly linked list of values, the list type of the codec's classes. CBlobList:
// DER values in order (the certificates of a token ...).
#pragma once

#include <list>

#include "codec/corekit/blob.h"

namespace Velmora {

template <typename T>
class CDllList {
 public:
  using value_type = T;
  using const_iterator = typename std::list<T>::const_iterator;
  using iterator = typename std::list<T>::iterator;

  const_iterator begin() const noexcept { return m_items.begin(); }
  const_iterator end() const noexcept { return m_items.end(); }
  iterator begin() noexcept { return m_items.begin(); }
  iterator end() noexcept { return m_items.end(); }
  // The first item; the list must not be empty.
  const T& front() const { return m_items.front(); }
  T& front() { return m_items.front(); }
  void push_back(const T& item) { m_items.push_back(item); }
  void push_back(T&& item) { m_items.push_back(std::move(item)); }
  void clear() noexcept { m_items.clear(); }
  bool empty() const noexcept { return m_items.empty(); }
  std::size_t size() const noexcept { return m_items.size(); }

  friend bool operator==(const CDllList&, const CDllList&) = default;

 private:
  std::list<T> m_items;
};

using CBlobList = CDllList<CBlob>;

}  // namespace Velmora
