#include "ui/drop_down_list.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>

namespace kx {

DropDownList::DropDownList(QWidget* parent) : QComboBox(parent) {
  // Assistive technology chooses a row by selecting it in the list's view
  // while the list is closed (the open list is the user's and commits on
  // its own). Taken as the user's choice of that row.
  connect(view()->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (view()->isVisible()) return;
    const QModelIndexList rows = view()->selectionModel()->selectedIndexes();
    if (rows.isEmpty() || rows.front().row() == currentIndex()) return;
    setCurrentIndex(rows.front().row());
    emit activated(currentIndex());
  });
}

QString DropDownList::toolTipText() const {
  if (!display_ || currentIndex() < 0) return toolTip();
  return rowTip_ ? rowTip_(currentValue()) : currentValue();
}

void DropDownList::setRowTip(std::function<QString(const QString&)> tip) { rowTip_ = std::move(tip); }

bool DropDownList::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip && display_) {
    const QString tip = toolTipText();
    if (tip.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), tip, this);
    return true;
  }
  return QComboBox::event(e);
}

void DropDownList::setDisplay(std::function<QString(const QString&)> display) {
  display_ = std::move(display);
}

void DropDownList::addValue(const QString& value) {
  if (!display_) {
    addItem(value);
    return;
  }
  addItem(display_(value), value);
  setItemData(count() - 1, value, Qt::ToolTipRole);
}

QString DropDownList::value(int row) const {
  if (row < 0 || row >= count()) return {};
  const QVariant stored = itemData(row);
  return stored.isValid() ? stored.toString() : itemText(row);
}

QString DropDownList::currentValue() const {
  if (!isEditable()) return value(currentIndex());
  const QString typed = currentText().trimmed();
  if (currentIndex() >= 0 && itemText(currentIndex()) == typed) return value(currentIndex());
  const int row = findText(typed, Qt::MatchExactly);
  return row >= 0 ? value(row) : typed;
}

void DropDownList::allowTyping() {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  // Names are typed as they are: no completion from the rows' shown texts.
  setCompleter(nullptr);
}

int DropDownList::findValue(const QString& value) const {
  for (int row = 0; row < count(); ++row)
    if (this->value(row) == value) return row;
  return -1;
}

void DropDownList::paintEvent(QPaintEvent*) {
  // As QComboBox paints itself, except that a row shown shorter than its
  // value loses its beginning, not its end, when the box is too narrow: the
  // end is what tells ports apart.
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  if (display_) {
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText = option.fontMetrics.elidedText(option.currentText, Qt::ElideLeft, field.width());
  }
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void DropDownList::showPopup() {
  beforePopup.tryCall();
  if (rowTip_)
    for (int row = 0; row < count(); ++row) setItemData(row, rowTip_(value(row)), Qt::ToolTipRole);
  QComboBox::showPopup();
}

namespace {

// A drop-down list as assistive technology sees it: named by its label,
// valued by its current row (also as its read-only text, which screen
// readers speak after the name), one child (the list's view, whose rows can
// be selected), and the actions that open and close the list.
class DropDownAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit DropDownAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  // QAccessibleTextInterface: the current row's text, read-only.
  QString current() const { return list()->currentText(); }
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QString text(int start, int end) const override { return current().mid(start, end - start); }
  int characterCount() const override { return static_cast<int>(current().size()); }
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    return {};
  }

  DropDownList* list() const { return static_cast<DropDownList*>(widget()); }

  QString text(QAccessible::Text t) const override {
    switch (t) {
      case QAccessible::Name: {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? list()->currentText() : name;
      }
      case QAccessible::Value:
        return current();
      case QAccessible::Description: {
        const QString tip = list()->toolTipText();
        return tip.isEmpty() ? QAccessibleWidget::text(t) : tip;
      }
      default:
        return QAccessibleWidget::text(t);
    }
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.expandable = true;
    s.expanded = list()->view()->isVisible();
    s.collapsed = !s.expanded;
    return s;
  }

  int childCount() const override { return 1; }
  QAccessibleInterface* child(int index) const override {
    return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && child->object() == list()->view() ? 0 : -1;
  }

  QStringList actionNames() const override {
    return {showMenuAction(), pressAction()};
  }
  void doAction(const QString& action) override {
    if (action != showMenuAction() && action != pressAction()) return;
    if (list()->view()->isVisible())
      list()->hidePopup();
    else
      list()->showPopup();
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* dropDownFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("kx::DropDownList") && object && object->isWidgetType())
    return new DropDownAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

}  // namespace

void installDropDownAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&dropDownFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace kx
