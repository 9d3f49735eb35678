#include "platform/memory_form.h"

namespace kx {

const MemoryForm::Control* MemoryForm::find(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

std::string MemoryForm::text(int id) const {
  const Control* c = find(id);
  if (!c) return {};
  // A list with a selection reads as its selected row, like a drop-down list.
  if (c->selection >= 0 && c->selection < static_cast<int>(c->rows.size()))
    return c->rows[c->selection];
  return c->text;
}

void MemoryForm::setText(int id, const std::string& text) { controls_[id].text = text; }
bool MemoryForm::checked(int id) const { return find(id) && find(id)->checked; }
void MemoryForm::setChecked(int id, bool on) { controls_[id].checked = on; }
int MemoryForm::selection(int id) const { return find(id) ? find(id)->selection : -1; }

void MemoryForm::setSelection(int id, int index) {
  Control& c = controls_[id];
  c.selection = (index >= 0 && index < static_cast<int>(c.rows.size())) ? index : -1;
}

int MemoryForm::rowCount(int id) const {
  return find(id) ? static_cast<int>(find(id)->rows.size()) : 0;
}

std::string MemoryForm::rowText(int id, int row) const {
  const Control* c = find(id);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size())) return {};
  return c->rows[row];
}

void MemoryForm::addRow(int id, const std::string& text) { controls_[id].rows.push_back(text); }

void MemoryForm::clearRows(int id) {
  Control& c = controls_[id];
  c.rows.clear();
  c.selection = -1;
}

bool MemoryForm::enabled(int id) const { return !find(id) || find(id)->enabled; }
void MemoryForm::setEnabled(int id, bool on) { controls_[id].enabled = on; }

}  // namespace kx
