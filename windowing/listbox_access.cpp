// The list box as a table to assistive technology: a header cell per column (when the list shows
// a header), then a cell per pushed row and column, each with the text as it is shown; the selected row is
// the selection. Cell interfaces are made on demand and dropped whenever the rows or the columns change.
#include "windowing/listbox.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <algorithm>
#include <map>

namespace sorv::win {

class ListBoxAccessible;

namespace {

// One cell, or a header cell when row is 0.
class ListCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    ListCellAccessible(ListBox* list, int row, int column) : list_(list), row_(row), column_(column) {}

    bool isValid() const override {
        return list_ && row_ >= 0 && row_ <= list_->rowCount() && column_ >= 1 &&
               column_ <= int(list_->model().columns().size());
    }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(list_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (t == QAccessible::Description && row_ == 0) {
            // The sort mark before a header (">City", "<City") said in words, for a listener.
            const QString h = list_->headerText(column_);
            if (h.startsWith('>')) return QStringLiteral("sorted ascending");
            if (h.startsWith('<')) return QStringLiteral("sorted descending");
            return {};
        }
        if (t != QAccessible::Name && t != QAccessible::Value) return {};
        return row_ == 0 ? list_->headerText(column_) : list_->cellText(row_, column_);
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        QRect r = row_ == 0 ? list_->headerRect(column_) : list_->cellRect(row_, column_);
        if (r.isEmpty()) return {};
        return QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override {
        return row_ == 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (row_ == 0) s.focused = list_ && list_->hasFocus() && list_->keyColumn() == column_;
        if (row_ > 0) {
            s.selectable = true;
            s.selected = isSelected();
            s.invisible = list_ && list_->cellRect(row_, column_).isEmpty();
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this)
                                                    : nullptr;
    }

    bool isSelected() const override { return list_ && row_ > 0 && list_->selected() == row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_ - 1; }
    int rowIndex() const override { return row_ - 1; }
    QAccessibleInterface* table() const override { return QAccessible::queryAccessibleInterface(list_); }

private:
    QPointer<ListBox> list_;
    int row_, column_;
};

} // namespace

class ListBoxAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListBoxAccessible(ListBox* list) : QAccessibleWidget(list, QAccessible::Table) {}
    ~ListBoxAccessible() override { dropCells(); }

    ListBox* list() const { return static_cast<ListBox*>(widget()); }
    int columns() const { return int(list()->model().columns().size()); }
    // 1 when the list shows a header, 0 when its columns have no header texts at all.
    int headerRows() const {
        const auto& cols = list()->model().columns();
        return std::any_of(cols.begin(), cols.end(), [](const ListColumn& c) { return c.hasHeader; }) ? 1 : 0;
    }

    // Cell (row 0: header) made once and kept until the model changes.
    QAccessibleInterface* cell(int row, int column) const {
        if (row < 0 || row > list()->rowCount() || column < 1 || column > columns()) return nullptr;
        auto key = std::make_pair(row, column);
        auto it = cells_.find(key);
        if (it != cells_.end()) return QAccessible::accessibleInterface(it->second);
        auto* iface = new ListCellAccessible(list(), row, column);
        QAccessible::Id id = QAccessible::registerAccessibleInterface(iface);
        cells_[key] = id;
        return iface;
    }
    void dropCells() {
        for (auto& [key, id] : cells_) QAccessible::deleteAccessibleInterface(id);
        cells_.clear();
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QAccessible::Role role() const override { return QAccessible::Table; }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return list()->accessibleName();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return columns() * (list()->rowCount() + headerRows()); }
    QAccessibleInterface* child(int index) const override {
        if (columns() == 0 || index < 0 || index >= childCount()) return nullptr;
        return cell(index / columns() + 1 - headerRows(), index % columns() + 1);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        auto* c = const_cast<QAccessibleInterface*>(child)->tableCellInterface();
        if (!c || c->table() != this) return -1;
        int row = child->role() == QAccessible::ColumnHeader ? 0 : c->rowIndex() + 1;
        return (row - 1 + headerRows()) * columns() + c->columnIndex();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QPoint local = list()->viewport()->mapFromGlobal(QPoint(x, y));
        ListPoint p = list()->hitTest(local);
        if (p.column < 1 || p.row < 1 - headerRows()) return nullptr;
        return cell(p.row, p.column);
    }

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override { return cell(row + 1, column + 1); }
    int selectedCellCount() const override { return list()->selected() > 0 ? columns() : 0; }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> out;
        if (list()->selected() > 0)
            for (int c = 1; c <= columns(); ++c) out << cell(list()->selected(), c);
        return out;
    }
    QString columnDescription(int column) const override { return list()->headerText(column + 1); }
    int columnCount() const override { return columns(); }
    int rowCount() const override { return list()->rowCount(); }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return list()->selected() > 0 ? 1 : 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        if (list()->selected() > 0) return {list()->selected() - 1};
        return {};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return list()->selected() == row + 1; }
    bool selectRow(int row) override {
        if (row < 0 || row >= list()->rowCount()) return false;
        list()->moveSelection(row + 1);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override { dropCells(); }

private:
    mutable std::map<std::pair<int, int>, QAccessible::Id> cells_;
};

QList<QAccessibleInterface*> ListCellAccessible::columnHeaderCells() const {
    if (!list_) return {};
    auto* table = static_cast<ListBoxAccessible*>(QAccessible::queryAccessibleInterface(list_.data()));
    if (!table || !table->headerRows()) return {};
    QAccessibleInterface* h = table->cell(0, column_);
    if (!h) return {};
    return {h};
}

namespace {
QAccessibleInterface* listBoxFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("sorv::win::ListBox") && object && object->isWidgetType())
        return new ListBoxAccessible(static_cast<ListBox*>(object));
    return nullptr;
}
} // namespace

// Installed once, before the first list box can be asked for its interface.
void installListBoxAccessibility() {
    static bool installed = [] {
        QAccessible::installFactory(listBoxFactory);
        return true;
    }();
    (void)installed;
}

} // namespace sorv::win
