#include "headers/HeaderList.h"

#include "util/AnsiCodec.h"
#include "util/MyStrUtils.h"
#include "util/Prompter.h"

HeaderList::HeaderList(QObject* parent) : QAbstractTableModel(parent) {}

void HeaderList::setName(int row, const QByteArray& name)
{
    m_rows[size_t(row)].entry.name = name;
    emit dataChanged(index(row, 0), index(row, 0));
}

void HeaderList::setValue(int row, const QByteArray& value)
{
    m_rows[size_t(row)].entry.value = value;
    emit dataChanged(index(row, 1), index(row, 1));
}

int HeaderList::rowOfId(RowId id) const
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].id == id)
            return int(i);
    }
    return -1;
}

void HeaderList::append(const QByteArray& name, const QByteArray& value)
{
    const int row = count();
    beginInsertRows({}, row, row);
    m_rows.push_back(Row{m_nextId++, HeaderEntry{name, value}});
    endInsertRows();
}

void HeaderList::removeAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void HeaderList::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int HeaderList::IndexOfReqHeader(const QByteArray& name) const
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (SameTextAnsiLower(m_rows[i].entry.name, name))
            return int(i);
    }
    return -1;
}

bool HeaderList::AddReqHeader(const QByteArray& name, const QByteArray& value)
{
    if (IndexOfReqHeader(name) >= 0) {
        if (m_prompter) {
            m_prompter->showMessage(QStringLiteral("字段 ") + AnsiCodec::toUnicode(name) +
                                    QStringLiteral(" 已存在"));
        }
        return false;
    }
    append(name, value);
    return true;
}

void HeaderList::DelReqHeaderByName(const QByteArray& name)
{
    if (name.isEmpty())
        return;
    removeAt(IndexOfReqHeader(name));
}

int HeaderList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

int HeaderList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant HeaderList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const HeaderEntry& e = at(index.row());
    const QByteArray& text = index.column() == 0 ? e.name : e.value;
    // A cell shows the start of a very long text: laying out megabytes on
    // every paint would freeze the window for seconds.
    constexpr qsizetype kShown = 4096;
    if (text.size() > kShown)
        return AnsiCodec::toUnicode(text.left(kShown)) + QChar(0x2026);
    return AnsiCodec::toUnicode(text);
}

QVariant HeaderList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section == 0)
        return QStringLiteral("字段名");
    if (section == 1)
        return QStringLiteral("字段值");
    return {};
}
