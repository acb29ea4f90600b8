// Objects that outlive the process's static destructors.
#pragma once

#include <new>

namespace quelto::backend {

/// The one `T` of `Tag`, made in static room at its first use and never
/// destroyed: threads may still log or configure while the process exits,
/// after static destructors ran. `Tag` is a type of the caller's own, so
/// that two uses of one `T` never share an object.
template <class T, class Tag>
T& lasting() {
  alignas(T) static unsigned char room[sizeof(T)];
  static T* const made = new (room) T;
  return *made;
}

}  // namespace quelto::backend
