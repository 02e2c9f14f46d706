#include "ui/main/MailListView.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <utility>

#include "store/mailstore.h"
#include "ui/main/MailListModel.h"

MailListView::MailListView(QWidget* parent) : QTreeView(parent), mails_(new MailListModel(this)) {
  setObjectName(QStringLiteral("ListView1"));
  setModel(mails_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // keeps tens of thousands of rows cheap
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setFont(QFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
  header()->setStretchLastSection(false);
}

int MailListView::fill(const std::filesystem::path& folder, bool sentType) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  setUpdatesEnabled(false);
  int added = 0;
  try {
    mails_->sClear();
    // Rows a receive run has just read for this folder are taken as they are.
    auto known = std::exchange(knownRows_, {});
    if (sentType || mailstore::fNormalFolder(folder) != std::exchange(knownFolder_, {})) known.clear();
    // Rows remembered for a big folder are shown at once and checked after.
    maillist::Listing listing = maillist::listAtOnce(folder, sentType, known);
    std::vector<MailRow> rows = MailListModel::rowsOf(listing);
    added = static_cast<int>(rows.size());
    mails_->sSetRows(std::move(rows));
    mails_->checkLater(std::move(listing));
    if (added > 0) {
      const QModelIndex first = mails_->index(0, 0);
      selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      scrollTo(first);
    }
  } catch (const std::exception&) {
    // A folder that fails half way keeps the rows added so far.
  }
  setUpdatesEnabled(true);
  QApplication::restoreOverrideCursor();
  return added;
}

void MailListView::setKnownRows(std::filesystem::path folder, maillist::KnownHeaders known) {
  knownFolder_ = std::move(folder);
  knownRows_ = std::move(known);
}

void MailListView::addMail(const std::filesystem::path& file, bool sentType) {
  if (auto entry = maillist::fEntry(file, sentType)) mails_->sAppendRow(MailListModel::fRowOf(*entry));
}

void MailListView::sortByColumn(int column) {
  if (column < 0 || column > 2) return;
  Qt::SortOrder order = Qt::AscendingOrder;
  if (mails_->fSortColumn() == column) {
    order = mails_->fSortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  }
  mails_->sSetSort(column, order);
  header()->setSortIndicator(column, order);
}

QString MailListView::currentPath() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? mails_->fRow(current.row()).path : QString();
}

std::array<int, 3> MailListView::defaultColumnWidths(int listWidth) const {
  QStyleOptionViewItem opt;
  opt.initFrom(this);
  opt.font = font();
  opt.fontMetrics = QFontMetrics(opt.font);
  opt.features = QStyleOptionViewItem::HasDisplay;
  // A date as the list shows it, in the widest digit of the font.
  QChar widest = QLatin1Char('0');
  for (char d = '1'; d <= '9'; ++d) {
    if (opt.fontMetrics.horizontalAdvance(QLatin1Char(d)) > opt.fontMetrics.horizontalAdvance(widest)) {
      widest = QLatin1Char(d);
    }
  }
  opt.text = QStringLiteral("0000/00/00 00:00:00");
  opt.text.replace(QLatin1Char('0'), widest);
  const int date = style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), this).width();
  const int party = 160;
  // The subject takes what is left of the list, so the date is in sight.
  const int list = listWidth - 2 * frameWidth() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return {std::max(160, list - party - date), party, date};
}

QColor MailListView::gridColor() const {
  QStyleOption option;
  option.initFrom(this);
  return QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
}

void MailListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QTreeView::drawRow(painter, option, index);
  painter->save();
  painter->setPen(gridColor());
  const QRect r = option.rect;
  painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
  for (int c = 0; c < header()->count(); ++c) {
    const int x = header()->sectionViewportPosition(c) + header()->sectionSize(c) - 1;
    painter->drawLine(x, r.top(), x, r.bottom());
  }
  painter->restore();
}

void MailListView::keyPressEvent(QKeyEvent* event) {
  const QPersistentModelIndex before = currentIndex();
  QTreeView::keyPressEvent(event);
  if (currentIndex().row() != before.row() && currentMovedByKey) currentMovedByKey();
}

void MailListView::startDrag(Qt::DropActions supportedActions) {
  QTreeView::startDrag(supportedActions);
  if (dragEnded) dragEnded();
}
