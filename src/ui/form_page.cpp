#include "ui/form_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "common/debug_log.h"
#include "ui/drop_down_list.h"
#include "ui/led_button.h"

namespace kx {

QString toQt(const std::string& text) { return QString::fromLocal8Bit(text.data(), qsizetype(text.size())); }

std::string fromQt(const QString& text) { return text.toLocal8Bit().toStdString(); }

QString stripMnemonic(const QString& caption) {
  QString out;
  out.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') {
        out += u'&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

namespace {

// A push button's caption broken onto two lines at the space nearest the
// middle when it is wider than the button (the template's multi-line
// buttons). Mnemonic marks are kept.
QString wrapCaption(const QString& caption, const QFontMetrics& metrics, int width) {
  const int room = width - 8;  // the button's frame and margins
  if (metrics.horizontalAdvance(stripMnemonic(caption)) <= room) return caption;
  qsizetype best = -1;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != u' ') continue;
    if (best < 0 || qAbs(i - caption.size() / 2) < qAbs(best - caption.size() / 2)) best = i;
  }
  if (best < 0) return caption;
  QString wrapped = caption;
  wrapped[best] = u'\n';
  return wrapped;
}

QStringList rowsOf(const char* items) {
  if (!items) return {};
  return QString::fromUtf8(items).split(u'\n');
}

}  // namespace

FormPage::FormPage(std::span<const ControlSpec> specs, QWidget* parent)
    : QWidget(parent), units_(dialogFont()) {
  installDropDownAccessibility();
  setFont(dialogFont());
  for (const ControlSpec& spec : specs) {
    QWidget* w = create(spec);
    w->setObjectName(QString::number(spec.id));
    if (spec.tooltip) w->setToolTip(QString::fromUtf8(spec.tooltip));
    if (spec.disabled) w->setEnabled(false);
    if (spec.id > 0) controls_[spec.id] = w;
  }
  // A box or list is announced with the label beside or above it: make the
  // label its buddy, which assistive technology reads as "labelled by".
  for (const ControlSpec& spec : specs) {
    if (!spec.label || spec.id <= 0) continue;
    for (QLabel* label : findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
      if (label->text() == QString::fromUtf8(spec.label)) label->setBuddy(controls_[spec.id]);
  }
}

QWidget* FormPage::create(const ControlSpec& spec) {
  const QString caption = QString::fromUtf8(spec.caption ? spec.caption : "");
  const QString name = spec.label ? QString::fromUtf8(spec.label) : stripMnemonic(caption);
  QRect geometry = units_.rect(spec.x, spec.y, spec.w, spec.h);
  QWidget* w = nullptr;
  const int id = spec.id;

  switch (spec.kind) {
    case ControlKind::PushButton: {
      auto* b = new QPushButton(wrapCaption(caption, QFontMetrics(font()), geometry.width()), this);
      b->setAutoDefault(false);
      connect(b, &QPushButton::clicked, this, [this, id] { userAction(id); });
      w = b;
      break;
    }
    case ControlKind::CheckBox: {
      auto* b = new QCheckBox(caption, this);
      // toggled, not clicked: assistive technology's Toggle changes the box
      // without a click. The form's own changes block the signal.
      connect(b, &QCheckBox::toggled, this, [this, id] { userAction(id); });
      w = b;
      break;
    }
    case ControlKind::Radio: {
      auto* b = new QRadioButton(caption, this);
      QButtonGroup*& group = radioGroups_[spec.group];
      if (!group) group = new QButtonGroup(this);
      group->addButton(b);
      b->installEventFilter(this);
      connect(b, &QRadioButton::clicked, this, [this, id] { userAction(id); });
      w = b;
      break;
    }
    case ControlKind::GroupBox: {
      // Drawn as a dialog's group frame: a thin line with the title set
      // into its top edge, the edge at half the title's height.
      auto* g = new QGroupBox(caption, this);
      if (caption.isEmpty())
        g->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: 0px; }"));
      else
        g->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; padding: 0px 2px; }")
                             .arg(QFontMetrics(font()).height() / 2));
      w = g;
      break;
    }
    case ControlKind::DropDown: {
      auto* c = new DropDownList(this);
      c->addItems(rowsOf(spec.items));
      c->setCurrentIndex(-1);
      // The template's height is that of the open list; the closed box is
      // as high as the toolkit draws it.
      geometry.setHeight(qMin(geometry.height(), c->sizeHint().height()));
      connect(c, &QComboBox::activated, this, [this, id] { userAction(id); });
      w = c;
      break;
    }
    case ControlKind::Edit:
      w = new QLineEdit(this);
      break;
    case ControlKind::MultiLineEdit: {
      auto* e = new QPlainTextEdit(this);
      e->setLineWrapMode(QPlainTextEdit::NoWrap);
      e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      e->setTabChangesFocus(true);
      w = e;
      break;
    }
    case ControlKind::Label:
      w = new QLabel(caption, this);
      break;
    case ControlKind::ListBox: {
      auto* l = new QListWidget(this);
      l->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      l->setSelectionMode(QAbstractItemView::SingleSelection);
      // A row is chosen when it becomes selected, whether by the mouse, the
      // keyboard or assistive technology (which selects without moving the
      // current row, and adds to the selection): the newly selected row
      // becomes the only selected and the current one. The form's own
      // changes block the list's signals and are not the user's.
      connect(l->selectionModel(), &QItemSelectionModel::selectionChanged, this,
              [this, l, id](const QItemSelection& selected) {
                if (l->signalsBlocked() || selected.indexes().isEmpty()) return;
                const int row = selected.indexes().front().row();
                if (l->currentRow() != row || l->selectedItems().size() > 1) {
                  const QSignalBlocker block(l);
                  l->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
                }
                userAction(id);
              });
      w = l;
      break;
    }
    case ControlKind::StatusBox: {
      auto* e = new QPlainTextEdit(this);
      e->setReadOnly(true);
      // A long line wraps at the box's width (at a blank where it has one),
      // so that no part of a message hides behind a horizontal scroll bar.
      e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      e->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
      e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      w = e;
      break;
    }
    case ControlKind::Led:
      w = new LedButton(caption, this);
      break;
  }
  w->setGeometry(geometry);
  w->setAccessibleName(name);
  return w;
}

// A radio group is one stop of Tab, as in a dialog: Tab enters the group at
// its checked button and leaves it for the next control outside the group;
// the arrow keys move within it.
bool FormPage::eventFilter(QObject* watched, QEvent* event) {
  auto* radio = qobject_cast<QRadioButton*>(watched);
  QButtonGroup* group = radio ? radio->group() : nullptr;
  if (!group) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::FocusIn) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    QAbstractButton* checked = group->checkedButton();
    if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && checked &&
        checked != radio && checked->isEnabled() && checked->isVisible())
      checked->setFocus(reason);
  } else if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    const auto modifiers = static_cast<QKeyEvent*>(event)->modifiers();
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !(modifiers & (Qt::ControlModifier | Qt::AltModifier))) {
      const bool forward = key == Qt::Key_Tab && !(modifiers & Qt::ShiftModifier);
      QWidget* w = radio;
      do {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        auto* other = qobject_cast<QAbstractButton*>(w);
        const bool sameGroup = other && other->group() == group;
        if (!sameGroup && (w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()) {
          w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
          return true;
        }
      } while (w != radio);
    }
  }
  return QWidget::eventFilter(watched, event);
}

QWidget* FormPage::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void FormPage::onClicked(int id, std::function<void()> handler) {
  if (handler)
    handlers_[id] = std::move(handler);
  else
    handlers_.erase(id);
}

void FormPage::userAction(int id) {
  auto it = handlers_.find(id);
  if (it == handlers_.end()) return;
  // Copy: the handler may replace itself.
  const Hook<void()> handler = it->second;
  handler();
}

std::string FormPage::text(int id) const {
  QWidget* w = control(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return fromQt(e->text());
  if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return fromQt(e->toPlainText());
  if (auto* l = qobject_cast<QLabel*>(w)) return fromQt(l->text());
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return fromQt(b->text().replace(u'\n', u' '));
  if (auto* g = qobject_cast<QGroupBox*>(w)) return fromQt(g->title());
  if (auto* c = qobject_cast<DropDownList*>(w)) return fromQt(c->currentValue());
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->currentItem() ? fromQt(l->currentItem()->text()) : std::string();
  return {};
}

void FormPage::setText(int id, const std::string& value) {
  QWidget* w = control(id);
  const QString text = toQt(value);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(text);
    e->setCursorPosition(0);
  } else if (auto* e2 = qobject_cast<QPlainTextEdit*>(w)) {
    e2->setPlainText(text);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(text);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(text);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(text);
  } else if (auto* c = qobject_cast<DropDownList*>(w)) {
    const QSignalBlocker block(c);
    c->setCurrentIndex(c->findValue(text));
    if (c->isEditable() && c->currentIndex() < 0) c->setEditText(text);
  } else if (!w) {
    debugLog("UI: setText on unknown control %d", id);
  }
}

bool FormPage::checked(int id) const {
  auto* b = qobject_cast<QAbstractButton*>(control(id));
  return b && b->isChecked();
}

void FormPage::setChecked(int id, bool on) {
  auto* b = qobject_cast<QAbstractButton*>(control(id));
  if (!b) return;
  const QSignalBlocker block(b);
  // An exclusive group refuses to clear its checked button; the form may.
  QButtonGroup* group = b->group();
  const bool exclusive = group && group->exclusive();
  if (exclusive && !on) group->setExclusive(false);
  b->setChecked(on);
  if (exclusive && !on) group->setExclusive(true);
}

int FormPage::selection(int id) const {
  QWidget* w = control(id);
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentIndex();
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->currentRow();
  return -1;
}

void FormPage::setSelection(int id, int index) {
  QWidget* w = control(id);
  if (auto* c = qobject_cast<QComboBox*>(w)) {
    const QSignalBlocker block(c);
    c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
  } else if (auto* l = qobject_cast<QListWidget*>(w)) {
    const QSignalBlocker block(l);
    l->setCurrentRow(index >= 0 && index < l->count() ? index : -1);
  }
}

int FormPage::rowCount(int id) const {
  QWidget* w = control(id);
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->count();
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->count();
  return 0;
}

std::string FormPage::rowText(int id, int row) const {
  QWidget* w = control(id);
  if (auto* c = qobject_cast<DropDownList*>(w)) return fromQt(c->value(row));
  if (auto* l = qobject_cast<QListWidget*>(w)) {
    QListWidgetItem* item = l->item(row);
    return item ? fromQt(item->text()) : std::string();
  }
  return {};
}

void FormPage::addRow(int id, const std::string& value) {
  QWidget* w = control(id);
  if (auto* c = qobject_cast<DropDownList*>(w)) {
    const QSignalBlocker block(c);
    const int current = c->currentIndex();
    c->addValue(toQt(value));
    c->setCurrentIndex(current);  // adding never selects, as in a list control
  } else if (auto* l = qobject_cast<QListWidget*>(w)) {
    const QSignalBlocker block(l);
    l->addItem(toQt(value));
  }
}

void FormPage::clearRows(int id) {
  QWidget* w = control(id);
  if (auto* c = qobject_cast<QComboBox*>(w)) {
    const QSignalBlocker block(c);
    c->clear();
  } else if (auto* l = qobject_cast<QListWidget*>(w)) {
    const QSignalBlocker block(l);
    l->clear();
  }
}

bool FormPage::enabled(int id) const {
  QWidget* w = control(id);
  return w && !w->testAttribute(Qt::WA_Disabled);
}

void FormPage::setEnabled(int id, bool on) {
  if (QWidget* w = control(id)) w->setEnabled(on);
}

}  // namespace kx
