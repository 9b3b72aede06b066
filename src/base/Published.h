#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tarn {

// Keeps a subscription alive; dropping it ends the subscription.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::shared_ptr<void> token) : token(std::move(token)) {}

    void cancel() { token.reset(); }

private:
    std::shared_ptr<void> token;
};

// An observable value. A new subscriber is called with the current value at once; every assignment
// stores the value, calls each live subscriber synchronously, in subscription order, with the new
// value, and then the owner's change notifier (which redraws the screens). Main thread only.
template <typename T>
class Published {
public:
    using Handler = std::function<void(const T&)>;

    explicit Published(T initial = T{}) : current(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& value() const { return current; }
    const T& operator()() const { return current; }

    void set(T newValue) {
        current = std::move(newValue);
        // Copy first: a handler may subscribe or unsubscribe while we deliver.
        const T delivered = current;
        const auto handlers = state->handlers;
        for (const auto& entry : handlers) {
            if (const auto handler = entry.handler.lock()) {
                (*handler)(delivered);
            }
        }
        if (changeNotifier) {
            changeNotifier();
        }
    }

    Published& operator=(T newValue) {
        set(std::move(newValue));
        return *this;
    }

    // Changes the current value in place, then publishes it like an assignment.
    template <typename Mutation>
    void modify(Mutation&& mutation) {
        T copy = current;
        std::forward<Mutation>(mutation)(copy);
        set(std::move(copy));
    }

    [[nodiscard]] Subscription subscribe(Handler handler) {
        auto shared = std::make_shared<Handler>(std::move(handler));
        state->handlers.push_back({shared});
        prune();
        (*shared)(current);
        return Subscription(shared);
    }

    // Called after every assignment, once the subscribers have run.
    void setChangeNotifier(std::function<void()> notifier) { changeNotifier = std::move(notifier); }

private:
    struct Entry {
        std::weak_ptr<Handler> handler;
    };
    struct State {
        std::vector<Entry> handlers;
    };

    void prune() {
        std::erase_if(state->handlers, [](const Entry& entry) { return entry.handler.expired(); });
    }

    T current;
    std::shared_ptr<State> state = std::make_shared<State>();
    std::function<void()> changeNotifier;
};

} // namespace tarn
