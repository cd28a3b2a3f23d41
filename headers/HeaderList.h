#pragma once

#include "util/HeaderEntry.h"

#include <QAbstractTableModel>
#include <QByteArray>

#include <vector>

class Prompter;

// The ordered request header rows: new rows go to the end, rows never move,
// a deletion closes the gap. Names are compared after folding 'A'..'Z' only.
// Each row carries an id that stays valid while the row exists, so that an
// editor can find its row again (or learn that it is gone).
// The list doubles as the model the header list view shows (columns
// "字段名" and "字段值").
class HeaderList : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit HeaderList(QObject* parent = nullptr);

    // Where AddReqHeader shows its "already exists" message.
    void setPrompter(Prompter* prompter) { m_prompter = prompter; }

    int count() const { return int(m_rows.size()); }
    const HeaderEntry& at(int row) const { return m_rows[size_t(row)].entry; }
    QByteArray name(int row) const { return at(row).name; }
    QByteArray value(int row) const { return at(row).value; }
    void setName(int row, const QByteArray& name);
    void setValue(int row, const QByteArray& value);

    using RowId = quint64;
    RowId idAt(int row) const { return m_rows[size_t(row)].id; }
    // The row that carries `id`, or -1 when it was deleted.
    int rowOfId(RowId id) const;

    // Appends without the repeated-name test (rows read from the header list file).
    void append(const QByteArray& name, const QByteArray& value);
    void removeAt(int row);
    void clear();

    // Position of the first row whose name equals `name`, or -1.
    int IndexOfReqHeader(const QByteArray& name) const;
    // Appends (name, value) unless the name is present; then shows
    // "字段 <name> 已存在", adds nothing and returns false.
    bool AddReqHeader(const QByteArray& name, const QByteArray& value);
    // Deletes the first row named `name`; an empty name deletes nothing.
    void DelReqHeaderByName(const QByteArray& name);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row
    {
        RowId id;
        HeaderEntry entry;
    };
    std::vector<Row> m_rows;
    RowId m_nextId = 1;
    Prompter* m_prompter = nullptr;
};
