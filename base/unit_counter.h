// Every unit's initialisation and finalisation does its work once, however
// often it is called: init works when it takes the counter from 0 to -1,
// fini when it brings it back from -1 to 0.
#pragma once

namespace sv {

class UnitCounter {
 public:
  bool begin_init() { return --count_ == -1; }
  bool begin_fini() { return ++count_ == 0; }
  int value() const { return count_; }

 private:
  int count_ = 0;
};

}  // namespace sv
