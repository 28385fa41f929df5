#pragma once
// The operator port as Qt dialogs. Notices are queued to the UI thread and shown one at
// a time, in the order they were posted, only while the event loop runs. The queue is
// bounded: a repeat of a waiting notice is not queued again, and past the bound notices
// are counted and summed up in one line instead.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <deque>

#include "shell/OperatorPort.h"

namespace hylo::app {

class QtOperator final : public QObject, public OperatorPort {
  Q_OBJECT
 public:
  static constexpr int kQueueBound = 20;

  explicit QtOperator(QObject* parent = nullptr);

  // Call just before the event loop runs, and when it has ended.
  void Open() { open_ = true; }
  void Close() { open_ = false; }
  void SetDialogParent(QWidget* parent) { dialogParent_ = parent; }

  void ShowNotice(std::string_view text) override;
  int Confirm(std::string_view title, std::string_view text, const std::vector<std::string>& buttons) override;
  std::optional<std::filesystem::path> ChooseFile(std::string_view title, const std::filesystem::path& folder,
                                                  std::string_view pattern, bool forSaving) override;
  std::optional<std::filesystem::path> ChooseFolder(std::string_view title,
                                                    const std::filesystem::path& folder) override;
  std::optional<std::string> PromptText(std::string_view title, std::string_view text,
                                        std::string_view initial) override;

 private:
  void Enqueue(QString text);
  void ShowPending();

  std::atomic<bool> open_{false};
  QPointer<QWidget> dialogParent_;
  std::deque<QString> pending_;  // UI thread only
  bool showing_ = false;
  std::atomic<int> queued_{0};   // posted and not yet shown
  std::atomic<int> dropped_{0};  // refused at the bound since the last summary
};

}  // namespace hylo::app
