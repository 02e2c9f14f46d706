#pragma once
// The search box above the mail list. While "all folders" is off it filters the listed
// folder's rows as the user types (subject and sender or recipient); with it on, it
// searches every folder of every account, bodies included, and lists the hits with their
// folders. It also keeps the search index current in the background.
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ui/main/MailListModel.h"

class Form1;
class QCheckBox;
class QLineEdit;
class QThreadPool;
class QTimer;
class QWidget;

class MailSearch : public QObject {
  Q_OBJECT
 public:
  explicit MailSearch(Form1& form);
  ~MailSearch() override;

  QLineEdit* fBox() const { return box_; }
  QCheckBox* fAllFolders() const { return all_; }
  // Whether the list shows search hits from every folder.
  bool fHitsListed() const { return hitsListed_; }
  // Starts a sync of the index in the background (when none runs).
  void sSyncIndex();
  // Waits until the background searches and syncs started so far have ended.
  void sWait();

 signals:
  // The hits of an all-folders search are listed.
  void hitsShown(int count);
  void indexSynced(bool ok);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void sTextChanged();
  void sApplyFilter();
  void sStartSearch();
  void sShowHits(quint64 generation, std::vector<MailRow> rows);
  void sLeaveHits(bool relist);
  void sListChanged(bool reset);

  Form1& form_;
  QWidget* bar_ = nullptr;
  QLineEdit* box_ = nullptr;
  QCheckBox* all_ = nullptr;
  QTimer* debounce_ = nullptr;
  QTimer* syncTimer_ = nullptr;
  std::unique_ptr<QThreadPool> searches_, syncs_;
  std::vector<std::string> keys_;  // the listed rows' texts, normalised, by row
  bool keysValid_ = false;
  bool hitsListed_ = false;
  bool listing_ = false;  // the list is being refilled by this search itself
  quint64 generation_ = 0;
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> syncing_{false};
};
