#include "app/ErrorGuard.h"

#include <cstdio>

namespace qv {

std::string ErrorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return "Not enough memory for this operation.";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error.";
    }
}

void ShowError(IDialogs& dialogs, const std::exception_ptr& error) noexcept
{
    std::string text;
    try {
        text = ErrorText(error);
        dialogs.ShowMessage(text);
    } catch (...) {
        // Last resort: the message box itself failed (no memory, no display).
        std::fprintf(stderr, "quorvalin: %s\n", text.empty() ? "error" : text.c_str());
    }
}

}  // namespace qv
