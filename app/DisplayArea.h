#pragma once
// One of the main window's two display areas: a display-type choice over a page per type.
// Every page gets the prepared data on each refresh; only the shown one draws.
#include <QComboBox>
#include <QStackedWidget>
#include <QWidget>
#include <functional>
#include <memory>

#include "DisplayTypes.h"
#include "ImpulseWidget.h"
#include "LevelsWidget.h"
#include "SpectrogramWidget.h"
#include "SpectrumWidget.h"
#include "TimeSeriesWidget.h"

namespace hylo::app {

class DisplayArea final : public QWidget {
  Q_OBJECT
 public:
  // `title` is "Top Display" or "Bottom Display"; `id` names the choice ("topDisplay").
  DisplayArea(const QString& title, const QString& id, bool bottom, QWidget* parent = nullptr);

  // Shows `type` when it is valid here; returns whether it was.
  bool SetType(int type);
  int Type() const { return type_; }
  QComboBox* Choice() const { return choice_; }
  // Asked before a type is taken from the choice; false refuses it (the choice goes back).
  void SetAcceptType(std::function<bool(int)> accept) { accept_ = std::move(accept); }
  void SetTypeChanged(std::function<void(int)> changed) { changed_ = std::move(changed); }
  // Later displays (click detection, impulse, bands) put their own page in.
  void SetPage(int type, QWidget* page);

  void ShowSpectra(const std::shared_ptr<const SpectrogramView>& view);
  void ShowTrace(const TraceView& trace);
  void ShowImpulses(const ImpulseView& view);
  void ResetTraces() { timeSeries_->ResetTraces(); }

  SpectrumWidget* Spectrum() const { return spectrum_; }
  SpectrogramWidget* Spectrogram() const { return spectrogram_; }
  TimeSeriesWidget* TimeSeries() const { return timeSeries_; }
  LevelsWidget* Levels() const { return levels_; }
  LevelsWidget* Clicks() const { return clicks_; }
  ImpulseWidget* Impulses() const { return impulses_; }
  ImpulseWidget* Bands() const { return bands_; }  // bottom display only

 private:
  bool bottom_;
  int type_ = kDisplayNone;
  QComboBox* choice_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  SpectrumWidget* spectrum_ = nullptr;
  SpectrogramWidget* spectrogram_ = nullptr;
  TimeSeriesWidget* timeSeries_ = nullptr;
  LevelsWidget* levels_ = nullptr;
  LevelsWidget* clicks_ = nullptr;
  ImpulseWidget* impulses_ = nullptr;
  ImpulseWidget* bands_ = nullptr;
  std::function<bool(int)> accept_;
  std::function<void(int)> changed_;
};

}  // namespace hylo::app
