#pragma once
// The one error guard: every command and event handler of the editor runs inside it. An
// exception ends the handler, its message is shown through the dialog seam, and the program
// goes on with whatever state the handler had reached. Nothing escapes into Qt's event loop.
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "app/Dialogs.h"

namespace qv {

// The text shown for an exception caught by the guard.
std::string ErrorText(const std::exception_ptr& error);

// Shows the message; never throws (a failing message box must not take the program down).
void ShowError(IDialogs& dialogs, const std::exception_ptr& error) noexcept;

template <class F>
void Guarded(IDialogs& dialogs, F&& handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (...) {
        ShowError(dialogs, std::current_exception());
    }
}

}  // namespace qv
