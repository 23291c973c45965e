// The guard every export runs its work in: no exception leaves an export, whatever a module or a
// host callback throws. Running out of memory is one of those: plug-in code allocates the ordinary
// way and the guard answers the failure value (the policy in XelInterProcessMessagesManager.h).
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

namespace orvanta {

// Writes the one log line of an export that failed: the export's name and the exception's what()
// (null for an exception of another kind than std::exception). Never throws: when the log line
// cannot be made, a fixed text goes to the standard error stream instead. Any thread.
void logExportFailure(const char* exportName, const char* what) noexcept;

// Answers what `call` answers. When it throws, the exception stops here: logExportFailure() tells
// of it, and the answer is `fallback`, the export's documented failure value. Any thread.
template <typename Call>
std::invoke_result_t<Call> guarded(const char* exportName, std::invoke_result_t<Call> fallback,
                                   Call&& call) noexcept {
    try {
        return std::forward<Call>(call)();
    } catch (const std::exception& error) {
        logExportFailure(exportName, error.what());
    } catch (...) {
        logExportFailure(exportName, nullptr);
    }
    return fallback;
}

// The same for an export without an answer, which just returns when `call` throws.
template <typename Call>
void guarded(const char* exportName, Call&& call) noexcept {
    static_assert(std::is_void_v<std::invoke_result_t<Call>>, "an answer needs its failure value");
    try {
        std::forward<Call>(call)();
    } catch (const std::exception& error) {
        logExportFailure(exportName, error.what());
    } catch (...) {
        logExportFailure(exportName, nullptr);
    }
}

}  // namespace orvanta
