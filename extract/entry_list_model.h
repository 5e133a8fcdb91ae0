// The extraction window's file list: one compact row per listed entry, whose
// texts are made when the list shows or sorts them. An archive of 100,000
// entries would otherwise hold 1.6 million strings for a list nobody sees.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <vector>

#include "VxUnRar.h"

// One column of the list: its caption, its width in pixels, and its text for an entry.
struct TEntryColumn {
  const char* caption;
  int width;
  QString (*text)(const TVxRARHeaderData& entry);
};

class TEntryListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TEntryListModel(std::vector<TEntryColumn> columns, QObject* parent = nullptr);

  const std::vector<TEntryColumn>& columns() const { return m_columns; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Appended rows join the list at the next flush(), all in one insertion: a
  // view told of every row on its own would cost more than the row itself.
  void append(const TVxRARHeaderData& entry);
  void flush();
  void clear();
  QString text(int row, int column) const;
  // Reorders the rows by the texts of one column under compare (negative,
  // zero, positive); rows with equal texts keep their order.
  void sortByText(int column, const std::function<int(const QString&, const QString&)>& compare);

 private:
  std::vector<TEntryColumn> m_columns;
  std::vector<TVxRARHeaderData> m_rows;
  // Appended, not yet in m_rows.
  std::vector<TVxRARHeaderData> m_pending;
};
