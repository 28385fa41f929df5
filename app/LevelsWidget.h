#pragma once
// The signal levels over the spectrogram's columns: RMS, peak-to-peak and zero-to-peak.
#include <QWidget>
#include <memory>

#include "display/HyloSpectrum.h"

namespace hylo::app {

class LevelsWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit LevelsWidget(QWidget* parent = nullptr);
  void SetView(std::shared_ptr<const SpectrogramView> view);
  const SpectrogramView* View() const { return view_.get(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<const SpectrogramView> view_;
};

}  // namespace hylo::app
