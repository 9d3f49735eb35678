// A plug point: a function that one part of the system calls and another
// installs. Every plug point of the tool is a Hook, whether the core calls up
// into a layer above it (the receive handler, the response application, the
// remote answer receiver, the RTS box), a front end wires a page button or
// start-up step, or a test stands in for the serial device or a dialog.
//
//   Hook<int32_t()> applyResponse;
//   applyResponse = [&page] { return applyCommandResponse(page); };
//   if (applyResponse) applyResponse();   // or just call: none installed
//                                         // gives R{} and does nothing
//
// Threading contract: installing (assignment, reset) and calling may happen
// on any threads at the same time. A call runs the function that was
// installed when it began and keeps that function alive until it returns, so
// replacing a hook never waits for a call and never frees one in progress.
// What the function refers to is the installer's to keep alive: before it
// goes away, remove the hook and stop the threads that may still be calling
// (the serial link's close, for the receive handler).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace kx {

template <typename Signature>
class Hook;

template <typename R, typename... Args>
class Hook<R(Args...)> {
 public:
  using Function = std::function<R(Args...)>;

  Hook() = default;
  explicit Hook(Function f) { set(std::move(f)); }
  Hook(const Hook& other) : fn_(other.current()) {}
  Hook& operator=(const Hook& other) {
    if (this != &other) install(other.current());
    return *this;
  }
  Hook& operator=(Function f) {
    set(std::move(f));
    return *this;
  }
  Hook& operator=(std::nullptr_t) {
    install(nullptr);
    return *this;
  }

  void set(Function f) {
    install(f ? std::make_shared<const Function>(std::move(f)) : nullptr);
  }
  void reset() { install(nullptr); }

  explicit operator bool() const { return current() != nullptr; }

  // Calls the installed function; with none installed, returns R{}.
  R operator()(Args... args) const {
    const std::shared_ptr<const Function> fn = current();
    if (!fn) {
      if constexpr (!std::is_void_v<R>) return R{};
      else return;
    }
    return (*fn)(std::forward<Args>(args)...);
  }

  // Calls the installed function, if any, and says whether one ran: true or
  // false for a void hook, the result or nothing otherwise.
  using TryResult = std::conditional_t<std::is_void_v<R>, bool, std::optional<R>>;
  TryResult tryCall(Args... args) const {
    const std::shared_ptr<const Function> fn = current();
    if constexpr (std::is_void_v<R>) {
      if (!fn) return false;
      (*fn)(std::forward<Args>(args)...);
      return true;
    } else {
      if (!fn) return std::nullopt;
      return (*fn)(std::forward<Args>(args)...);
    }
  }

 private:
  std::shared_ptr<const Function> current() const {
    std::lock_guard lock(mutex_);
    return fn_;
  }
  void install(std::shared_ptr<const Function> fn) {
    std::shared_ptr<const Function> old;
    {
      std::lock_guard lock(mutex_);
      old = std::exchange(fn_, std::move(fn));
    }
    // `old` is released here, outside the lock: its captures may own
    // objects whose destruction takes locks of their own.
  }

  mutable std::mutex mutex_;
  std::shared_ptr<const Function> fn_;
};

}  // namespace kx
