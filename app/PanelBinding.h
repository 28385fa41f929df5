#pragma once
// Renders a panel model's changes on the UI thread, whichever thread made them.
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

#include "UiPost.h"
#include "shell/PanelModel.h"

namespace hylo::app {

class PanelBinding {
 public:
  using Render = std::function<void(const std::string& controlId)>;
  PanelBinding(PanelModel& model, QObject* owner, Render render) : model_(model) {
    QPointer<QObject> guard(owner);
    token_ = model_.Subscribe([guard, render](const std::string& id) {
      if (!guard) return;
      PostToUi(
          guard.data(),
          [guard, render, id] {
            if (guard) render(id);
          },
          Qt::QueuedConnection);
    });
  }
  ~PanelBinding() { model_.Unsubscribe(token_); }
  PanelBinding(const PanelBinding&) = delete;
  PanelBinding& operator=(const PanelBinding&) = delete;

 private:
  PanelModel& model_;
  int token_ = 0;
};

}  // namespace hylo::app
