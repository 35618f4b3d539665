// The steps of composite elements as coroutines.  A composite converts its
// members before it is written, and a member may be a composite itself, to
// any depth the file holds.  The steps of these kinds are coroutines: a
// step that converts a member awaits the member's step, which the loop of
// runStepTask then resumes; when the member's step ends, the loop resumes
// the step that awaited it.  So the nesting lives in coroutine frames on the
// heap, one per composite being converted, and never in the call stack.
#pragma once

#include <coroutine>
#include <exception>
#include <utility>

namespace output_steps {

class StepTask {
 public:
  struct promise_type;
  using Handle = std::coroutine_handle<promise_type>;

  // The step the loop resumes next (null: the running loop's step is
  // done).
  static std::coroutine_handle<>& next() {
    static std::coroutine_handle<> handle;
    return handle;
  }

  struct promise_type {
    int result = 0;
    std::exception_ptr failure;
    std::coroutine_handle<> continuation;  // the step awaiting this one

    StepTask get_return_object() { return StepTask(Handle::from_promise(*this)); }
    // A step starts when it is awaited or run.
    std::suspend_always initial_suspend() noexcept { return {}; }
    struct Finished {
      bool await_ready() noexcept { return false; }
      void await_suspend(Handle h) noexcept { next() = h.promise().continuation; }
      void await_resume() noexcept {}
    };
    Finished final_suspend() noexcept { return {}; }
    void return_value(int r) { result = r; }
    void unhandled_exception() { failure = std::current_exception(); }
  };

  StepTask(StepTask&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  StepTask(const StepTask&) = delete;
  StepTask& operator=(const StepTask&) = delete;
  StepTask& operator=(StepTask&&) = delete;
  ~StepTask() {
    if (handle_) handle_.destroy();
  }

  // Awaiting a step: the awaiting step is suspended, the loop resumes the
  // awaited one.
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<> awaiting) noexcept {
    handle_.promise().continuation = awaiting;
    next() = handle_;
  }
  int await_resume() const { return take(); }

  // Runs the step and every step it awaits to the end; its result.
  int run() {
    std::coroutine_handle<>& pending = next();
    const std::coroutine_handle<> outer = std::exchange(pending, handle_);
    while (pending) std::exchange(pending, {}).resume();
    pending = outer;
    return take();
  }

 private:
  explicit StepTask(Handle handle) : handle_(handle) {}
  int take() const {
    if (handle_.promise().failure) std::rethrow_exception(handle_.promise().failure);
    return handle_.promise().result;
  }

  Handle handle_;
};

}  // namespace output_steps
