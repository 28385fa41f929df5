#pragma once
// Work handed from another thread to a QObject's thread through Qt's event queue.
//
// Qt orders the hand-off with its own locks, inside Qt's libraries, where ThreadSanitizer cannot
// see them: the posting thread's writes (the captures) and the receiving thread's reads look
// unordered to it. The release/acquire pair below states the same order in our own code, so
// the race checker sees the edge Qt already gives, and a real race next to it still shows.
#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <utility>

namespace hylo::app {

template <class F>
class UiCall {
 public:
  explicit UiCall(F f) : f_(std::move(f)) { Publish(); }
  UiCall(UiCall&& other) noexcept : f_(std::move(other.f_)) { Publish(); }
  UiCall(const UiCall& other) : f_(other.f_) { Publish(); }
  UiCall& operator=(const UiCall&) = delete;
  UiCall& operator=(UiCall&&) = delete;
  // Qt frees the call on whichever thread lets go of it last: the poster, after the receiver
  // has run it, or the receiver, when the call is dropped with its receiver.
  ~UiCall() { (void)published_.load(std::memory_order_acquire); }

  void operator()() {
    (void)published_.load(std::memory_order_acquire);
    f_();
    Publish();  // what the call did is seen by the thread that frees it
  }

 private:
  void Publish() { published_.store(true, std::memory_order_release); }

  F f_;
  std::atomic<bool> published_{false};
};

// Runs call on context's thread (at once when that is this thread, unless type says queued).
// Dropped if context is destroyed first, as QMetaObject::invokeMethod does.
template <class F>
void PostToUi(QObject* context, F call, Qt::ConnectionType type = Qt::AutoConnection) {
  QMetaObject::invokeMethod(context, UiCall<F>(std::move(call)), type);
}

}  // namespace hylo::app
