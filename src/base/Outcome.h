#pragma once

#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace tarn {

// How an awaited task ended: with its value, or with the failure it threw, held as a value so that the
// caller decides what a failure means after it has checked what changed while it waited.
template <typename T>
struct Outcome {
    std::optional<T> value; // absent exactly when `failure` is set
    std::exception_ptr failure;

    bool failed() const { return failure != nullptr; }
};

template <>
struct Outcome<void> {
    std::exception_ptr failure;

    bool failed() const { return failure != nullptr; }
};

// Awaits `task` and answers how it ended; nothing it throws escapes.
template <typename T>
QCoro::Task<Outcome<T>> outcomeOf(QCoro::Task<T> task) {
    Outcome<T> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
        } else {
            outcome.value.emplace(co_await task);
        }
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    co_return outcome;
}

// The same for a task that several callers await.
inline QCoro::Task<Outcome<void>> outcomeOf(std::shared_ptr<QCoro::Task<>> task) {
    Outcome<void> outcome;
    try {
        co_await *task;
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    co_return outcome;
}

} // namespace tarn
