// TObject: the common root of objects that the module's containers may own and free.
//
// A container created to own its objects deletes them through this virtual destructor.
// Carries no state; thread safety is that of the derived class.
#pragma once

namespace kiv {

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;

 protected:
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
};

}  // namespace kiv
