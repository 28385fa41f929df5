#pragma once
// Traces over the spectrogram's columns: the signal levels (RMS, peak-to-peak, zero-to-peak)
// or the click-template correlation of each column.
#include <QWidget>
#include <memory>

#include "display/HyloSpectrum.h"

namespace hylo::app {

class LevelsWidget final : public QWidget {
  Q_OBJECT
 public:
  enum class Mode { kLevels, kClicks };
  explicit LevelsWidget(Mode mode = Mode::kLevels, QWidget* parent = nullptr);
  void SetView(std::shared_ptr<const SpectrogramView> view);
  const SpectrogramView* View() const { return view_.get(); }
  // The values drawn for each column, oldest first (0 where a column holds none).
  std::vector<std::vector<double>> Traces() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Mode mode_;
  std::shared_ptr<const SpectrogramView> view_;
};

}  // namespace hylo::app
