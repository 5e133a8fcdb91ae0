#include "entry_list_model.h"

#include <algorithm>
#include <iterator>
#include <numeric>

TEntryListModel::TEntryListModel(std::vector<TEntryColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)) {}

int TEntryListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TEntryListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant TEntryListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return QVariant();
  return text(index.row(), index.column());
}

QVariant TEntryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  if (section < 0 || static_cast<size_t>(section) >= m_columns.size()) return QVariant();
  return QString::fromLatin1(m_columns[static_cast<size_t>(section)].caption);
}

void TEntryListModel::append(const TVxRARHeaderData& entry) {
  m_pending.push_back(entry);
  // The volume name is the same for a whole volume and never shown in the list.
  m_pending.back().ArcName = QString();
}

void TEntryListModel::flush() {
  if (m_pending.empty()) return;
  const int first = static_cast<int>(m_rows.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(m_pending.size()) - 1);
  m_rows.insert(m_rows.end(), std::make_move_iterator(m_pending.begin()),
                std::make_move_iterator(m_pending.end()));
  m_pending.clear();
  endInsertRows();
}

void TEntryListModel::clear() {
  beginResetModel();
  std::vector<TVxRARHeaderData>().swap(m_rows);
  std::vector<TVxRARHeaderData>().swap(m_pending);
  endResetModel();
}

QString TEntryListModel::text(int row, int column) const {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return QString();
  if (column < 0 || static_cast<size_t>(column) >= m_columns.size()) return QString();
  return m_columns[static_cast<size_t>(column)].text(m_rows[static_cast<size_t>(row)]);
}

void TEntryListModel::sortByText(
    int column, const std::function<int(const QString&, const QString&)>& compare) {
  flush();
  // Each row's text is made once, not once per comparison.
  QStringList keys;
  keys.reserve(static_cast<qsizetype>(m_rows.size()));
  for (int row = 0; row < rowCount(); ++row) keys.append(text(row, column));
  std::vector<size_t> order(m_rows.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return compare(keys[static_cast<qsizetype>(a)], keys[static_cast<qsizetype>(b)]) < 0;
  });
  beginResetModel();
  std::vector<TVxRARHeaderData> sorted;
  sorted.reserve(m_rows.size());
  for (size_t from : order) sorted.push_back(std::move(m_rows[from]));
  m_rows = std::move(sorted);
  endResetModel();
}
