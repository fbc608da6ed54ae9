#pragma once
// Qt widgets, layouts and actions are owned by their Qt parent, which deletes them with
// itself. Own() creates one and hands it straight to that parent, so no raw new appears in
// the windows' code and nothing is ever deleted by hand.
#include <memory>
#include <utility>

namespace qv {

template <class T, class... Args>
T* Own(Args&&... args)
{
    auto object = std::make_unique<T>(std::forward<Args>(args)...);
    // The last constructor argument is the parent; from here on it owns the object.
    return object.release();
}

}  // namespace qv
