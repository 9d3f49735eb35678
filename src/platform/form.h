// The form interface: how core operations read and write a page's controls by
// their numeric id ("Pin Code box (1039)"), without knowing the toolkit. The
// Qt pages implement it; MemoryForm implements it for tests.
// Called on the user-interface thread only (a worker reaches a page through
// WindowInterface::invokeOnUi).
#pragma once

#include <string>

namespace kx {

class FormInterface {
 public:
  virtual ~FormInterface() = default;

  // Edit boxes, labels, buttons' captions; for a drop-down list the text of
  // its current selection (or its edit text).
  virtual std::string text(int id) const = 0;
  virtual void setText(int id, const std::string& text) = 0;

  // Check boxes and radio buttons.
  virtual bool checked(int id) const = 0;
  virtual void setChecked(int id, bool on) = 0;

  // Drop-down lists and list boxes: index of the selected row, -1 for none.
  virtual int selection(int id) const = 0;
  virtual void setSelection(int id, int index) = 0;

  // Rows of a drop-down list or list box.
  virtual int rowCount(int id) const = 0;
  virtual std::string rowText(int id, int row) const = 0;
  virtual void addRow(int id, const std::string& text) = 0;
  virtual void clearRows(int id) = 0;

  virtual bool enabled(int id) const = 0;
  virtual void setEnabled(int id, bool on) = 0;
};

}  // namespace kx
