// The common base of every object registered in an interface database.
#pragma once

// An implementation object registered under an interface name. Its first
// virtual operation answers the implementation's own name; a name manager
// keeps its implementations sorted by it and selects by it.
//
// Objects never die through this base: their owner (usually a static
// registration in the providing image) unregisters and destroys them.
class IInterfaceImpl {
 public:
  virtual const char* GetImplName() const = 0;

 protected:
  IInterfaceImpl() = default;
  IInterfaceImpl(const IInterfaceImpl&) = default;
  IInterfaceImpl& operator=(const IInterfaceImpl&) = default;
  ~IInterfaceImpl() = default;
};
