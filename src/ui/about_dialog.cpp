#include "ui/about_dialog.h"

#include "common/control_ids.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/form_page.h"
#include "ui/main_window.h"

namespace kx {

namespace {

using K = ControlKind;

const ControlSpec kAboutControls[] = {
    {.id = ctl::kAboutIcon, .kind = K::Label, .caption = "", .x = 11, .y = 14, .w = 20, .h = 20,
     .label = "Application icon"},
    {.id = -1, .kind = K::Label, .caption = "KX627 Configuration Tool, Version " KX_VERSION, .x = 40, .y = 10, .w = 195,
     .h = 10},
    {.id = -1, .kind = K::Label, .caption = "Supported firmware versions:\n v4.5X, v4.6X, v6.5X, v6.8x", .x = 40,
     .y = 26, .w = 195, .h = 20},
    {.id = -1, .kind = K::Label,
     .caption = "Supported Adapters:\n KX627 Bluetooth serial adapters\n KX627 Bluetooth data modules", .x = 40,
     .y = 54, .w = 195, .h = 30},
    {.id = -1, .kind = K::Label,
     .caption = "Free software under the GNU General Public\nLicense, version 3 or later; it comes with\n"
                "ABSOLUTELY NO WARRANTY. The licence and the\nthird-party notices come with the program.",
     .x = 40, .y = 86, .w = 195, .h = 34},
    {.id = ctl::kAboutOk, .kind = K::PushButton, .caption = "OK", .x = 185, .y = 122, .w = 50, .h = 14},
};

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About KX627 Configuration Tool"));
  setWindowIcon(applicationIcon());
  setModal(true);
  form_ = new FormPage(kAboutControls, this);
  const QSize size = form_->units().rect(0, 0, 242, 143).size();
  form_->setFixedSize(size);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(form_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  if (auto* icon = form_->controlAs<QLabel>(ctl::kAboutIcon)) icon->setPixmap(applicationIcon().pixmap(32, 32));
  if (auto* ok = form_->controlAs<QPushButton>(ctl::kAboutOk)) {
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  }
}

}  // namespace kx
