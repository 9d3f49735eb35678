// A FormInterface kept in memory, for tests and programs without a window.
// Unknown ids read as empty, unchecked, no selection and enabled.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/form.h"

namespace kx {

class MemoryForm : public FormInterface {
 public:
  std::string text(int id) const override;
  void setText(int id, const std::string& text) override;
  bool checked(int id) const override;
  void setChecked(int id, bool on) override;
  int selection(int id) const override;
  void setSelection(int id, int index) override;
  int rowCount(int id) const override;
  std::string rowText(int id, int row) const override;
  void addRow(int id, const std::string& text) override;
  void clearRows(int id) override;
  bool enabled(int id) const override;
  void setEnabled(int id, bool on) override;

 private:
  struct Control {
    std::string text;
    bool checked = false;
    int selection = -1;
    std::vector<std::string> rows;
    bool enabled = true;
  };
  const Control* find(int id) const;
  std::map<int, Control> controls_;
};

}  // namespace kx
