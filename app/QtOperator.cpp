#include "QtOperator.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "UiPost.h"

namespace hylo::app {
namespace {
constexpr std::size_t kNoticeLimit = 3999;
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

QtOperator::QtOperator(QObject* parent) : QObject(parent) {}

void QtOperator::ShowNotice(std::string_view text) {
  if (!open_) return;
  if (queued_.fetch_add(1) >= kQueueBound) {
    queued_.fetch_sub(1);
    dropped_.fetch_add(1);
    return;
  }
  // At most 3999 bytes, cut before a character rather than through one.
  std::size_t cut = std::min(text.size(), kNoticeLimit);
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  QString copy = Q(text.substr(0, cut));
  PostToUi(
      this, [this, copy = std::move(copy)] { Enqueue(copy); }, Qt::QueuedConnection);
}

void QtOperator::Enqueue(QString text) {
  // A notice already waiting says the same: once is enough.
  if (!open_ || std::find(pending_.begin(), pending_.end(), text) != pending_.end()) {
    queued_.fetch_sub(1);
    return;
  }
  pending_.push_back(std::move(text));
  if (!showing_) ShowPending();
}

void QtOperator::ShowPending() {
  showing_ = true;
  while (!pending_.empty() && open_) {
    const QString text = pending_.front();
    pending_.pop_front();
    QMessageBox box(QMessageBox::NoIcon, "Hylo", text, QMessageBox::Ok, dialogParent_);
    box.exec();
    queued_.fetch_sub(1);
    if (pending_.empty()) {
      if (const int dropped = dropped_.exchange(0); dropped > 0) {
        QMessageBox more(QMessageBox::NoIcon, "Hylo", QString("%1 more notices were not shown.").arg(dropped),
                         QMessageBox::Ok, dialogParent_);
        more.exec();
      }
    }
  }
  // Left unshown when the loop ended: no longer queued.
  queued_.fetch_sub(static_cast<int>(pending_.size()));
  pending_.clear();
  showing_ = false;
}

int QtOperator::Confirm(std::string_view title, std::string_view text, const std::vector<std::string>& buttons) {
  QMessageBox box(QMessageBox::Question, Q(title), Q(text), QMessageBox::NoButton, dialogParent_);
  std::vector<QAbstractButton*> made;
  for (const auto& label : buttons) made.push_back(box.addButton(Q(label), QMessageBox::AcceptRole));
  if (made.empty()) made.push_back(box.addButton(QMessageBox::Ok));
  box.exec();
  for (std::size_t i = 0; i < made.size(); ++i) {
    if (box.clickedButton() == made[i]) return static_cast<int>(i);
  }
  return static_cast<int>(made.size()) - 1;  // closed: the last (safe) button
}

std::optional<std::filesystem::path> QtOperator::ChooseFile(std::string_view title, const std::filesystem::path& folder,
                                                            std::string_view pattern, bool forSaving) {
  const QString dir = QString::fromStdString(folder.string());
  const QString filter = pattern.empty() ? QString() : Q(pattern);
  const QString chosen = forSaving ? QFileDialog::getSaveFileName(dialogParent_, Q(title), dir, filter)
                                   : QFileDialog::getOpenFileName(dialogParent_, Q(title), dir, filter);
  if (chosen.isEmpty()) return std::nullopt;
  return std::filesystem::path(chosen.toStdString());
}

std::optional<std::filesystem::path> QtOperator::ChooseFolder(std::string_view title,
                                                              const std::filesystem::path& folder) {
  const QString chosen =
      QFileDialog::getExistingDirectory(dialogParent_, Q(title), QString::fromStdString(folder.string()));
  if (chosen.isEmpty()) return std::nullopt;
  return std::filesystem::path(chosen.toStdString());
}

std::optional<std::string> QtOperator::PromptText(std::string_view title, std::string_view text,
                                                  std::string_view initial) {
  bool ok = false;
  const QString answer = QInputDialog::getText(dialogParent_, Q(title), Q(text), QLineEdit::Normal, Q(initial), &ok);
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

}  // namespace hylo::app
