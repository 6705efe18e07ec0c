// SVList: an owning object list and a list of extended values with simple
// statistics.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace sv {

class TObject {
 public:
  virtual ~TObject() = default;
};

// Owns its elements. Clearing destroys them from the last to the first.
class TObjectList {
 public:
  TObjectList() = default;
  virtual ~TObjectList();
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  std::size_t Count() const { return items_.size(); }
  TObject* Items(std::size_t index) const { return items_.at(index).get(); }
  void Add(std::unique_ptr<TObject> item);
  void Clear();

 private:
  std::vector<std::unique_ptr<TObject>> items_;
};

class TExtended : public TObject {
 public:
  explicit TExtended(long double value) : Value(value) {}
  long double Value;
};

// Holds only TExtended elements, so the object list's Add is not offered.
class TExtendedList : protected TObjectList {
 public:
  using TObjectList::Clear;
  using TObjectList::Count;

  long double Items(std::size_t index) const;
  void Add(long double value);

  // Statistics in extended precision. They run with the FPU's exceptions
  // masked; a condition whose trap the caller has on is raised as the
  // matching FloatError afterwards instead of faulting.
  long double MinimumValue() const;  // 1e30 when empty
  long double MaximumValue() const;  // -1e30 when empty
  long double Average() const;       // 0 when empty
  long double Stdeviation() const;   // sample deviation; 0 below two elements

  // Replaces the elements by copies of the source's; from itself this
  // empties the list, since it is cleared first.
  void Assign(const TExtendedList& source);
};

}  // namespace sv
